# "table rows" for every table a sqlite3 .dump creates (one INSERT line per
# row), 0 included.
/^(CREATE TABLE|INSERT INTO) / {
  t = $3
  gsub(/["\[\]`]/, "", t)
  sub(/\(.*/, "", t)
  if (!(t in n)) { n[t] = 0; order[++k] = t }
  if ($1 == "INSERT") n[t]++
}
END { for (i = 1; i <= k; i++) print order[i], n[order[i]] }
