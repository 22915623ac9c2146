  -- nothing here
/* nor here */ ;