# The SQL that finds old values lost or half changed in a database file: run
# it on the crashed database with its state before any run attached as "b"
# and after one uninterrupted run as "e".
#   awk -f old_values.awk BASE.cols FINAL.cols CRASH.cols > check.sql
# Rows match by rowid; Public and Confirm are looked for under Shared and
# Confirmation once altered; an added column must hold its full-run value.
function succ(c,   l) {
  l = tolower(c)
  if (l == "public") return "Shared"
  if (l == "confirm") return "Confirmation"
  return ""
}
# The name under which table t of file f holds column c: c itself, or its
# successor, or "" when neither is there.
function resolve(f, t, c,   s) {
  if ((f, t, tolower(c)) in name) return name[f, t, tolower(c)]
  s = succ(c)
  if (s != "" && (f, t, tolower(s)) in name) return name[f, t, tolower(s)]
  return ""
}
function q(id) { gsub(/"/, "\"\"", id); return "\"" id "\"" }
function lit(s) { gsub(/'/, "''", s); return "'" s "'" }
FNR == 1 { f++ }
{
  p = index($0, "|")
  t = substr($0, 1, p - 1)
  c = substr($0, p + 1)
  name[f, t, tolower(c)] = c
  n[f, t]++
  col[f, t, n[f, t]] = c
  if (f == 1 && !(t in seenTable)) { seenTable[t] = 1; tables[++nt] = t }
}
END {
  for (i = 1; i <= nt; i++) {
    t = tables[i]
    if (t == "sqlite_sequence") continue
    if (!((3, t) in n)) { print "SELECT " lit("ERROR table " t " is gone") ";"; continue }
    from = " FROM b." q(t) " AS ob LEFT JOIN main." q(t) " AS cs ON cs.rowid = ob.rowid LEFT JOIN e." q(t) " AS fe ON fe.rowid = ob.rowid"
    for (j = 1; j <= n[1, t]; j++) {
      c = col[1, t, j]
      sc = resolve(3, t, c)
      ec = resolve(2, t, c)
      if (sc == "") { print "SELECT " lit("ERROR column " t "." c " is gone with its values") ";"; continue }
      allowed = "cs." q(sc) " IS ob." q(c)
      if (ec != "") allowed = allowed " OR cs." q(sc) " IS fe." q(ec)
      print "SELECT 'ERROR ' || " lit(t "." c " of row ") " || ob.rowid || CASE WHEN cs.rowid IS NULL THEN ': the row is gone' ELSE ': ' || quote(cs." q(sc) ") || ' is neither its old value ' || quote(ob." q(c) ") || ' nor its value after a full run' END" from " WHERE cs.rowid IS NULL OR NOT (" allowed ");"
    }
    # Columns the run adds to the table (not successors of a column it had).
    for (j = 1; j <= n[2, t]; j++) {
      c = col[2, t, j]
      if ((1, t, tolower(c)) in name) continue
      sc = resolve(3, t, c)
      if (sc == "" || sc != c) continue
      print "SELECT 'ERROR ' || " lit(t "." c " (added) of row ") " || ob.rowid || ': ' || quote(cs." q(c) ") || ' instead of ' || quote(fe." q(c) ")" from " WHERE cs.rowid IS NOT NULL AND NOT (cs." q(c) " IS fe." q(c) ");"
    }
  }
}
