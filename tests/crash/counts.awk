# Row count per table of a database, from the text of the sqlite3 shell's
# .dump (one INSERT line per row): prints "table count" for every table the
# dump creates, 0 included.
/^CREATE TABLE / {
  t = $3
  gsub(/["\[\]`]/, "", t)
  sub(/\(.*/, "", t)
  if (!(t in n)) { n[t] = 0; order[++k] = t }
  next
}
/^INSERT INTO / {
  t = $3
  gsub(/["\[\]`]/, "", t)
  sub(/\(.*/, "", t)
  if (!(t in n)) order[++k] = t
  n[t]++
}
END { for (i = 1; i <= k; i++) print order[i], n[order[i]] }
