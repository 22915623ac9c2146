SELECT 'Yes', "No", [Yes], `no`, T.Yes, No.x, a AS No /* Yes */ FROM T -- No
WHERE x = 'it''s Yes'