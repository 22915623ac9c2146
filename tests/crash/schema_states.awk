# Column changes all or nothing: awk -f schema_states.awk BASE.cols FINAL.cols CRASH.cols
# ("table|column" lines): every changed table has all BASE or all FINAL columns.
FNR == 1 { f++ }
{
  p = index($0, "|")
  t = substr($0, 1, p - 1)
  c = substr($0, p + 1)
  cols[f, t] = cols[f, t] "," c
  seen[f, t] = 1
  tables[t] = 1
}
END {
  state = ""
  for (t in tables) {
    if (!((1, t) in seen) || !((3, t) in seen)) {
      print "ERROR table " t ": present in " (((1, t) in seen) ? "the installation" : "the crashed state") " only"
      continue
    }
    b = cols[1, t]; e = cols[2, t]; s = cols[3, t]
    if (b == e) {
      if (s != b) print "ERROR table " t " changed its columns though no step changes them: " substr(s, 2)
      continue
    }
    if (s == b) st = "old"
    else if (s == e) st = "new"
    else { print "ERROR table " t " is half altered: " substr(s, 2) " (before: " substr(b, 2) "; after: " substr(e, 2) ")"; continue }
    if (state == "") state = st
    else if (state != st) mixed = 1
    list[st] = list[st] " " t
  }
  if (mixed) print "ERROR column changes applied to some tables only: altered:" list["new"] "; not altered:" list["old"]
  print "columns: " (state == "" ? "unchanged" : (mixed ? "mixed" : state))
}
