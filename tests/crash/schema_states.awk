# All-or-nothing check of the column changes of one database (the Public and
# Confirm columns of the main database, the date and time formats of the
# security database's Users), from column lists.
#
#   awk -f schema_states.awk BASE.cols FINAL.cols CRASH.cols
#
# Each file holds "table|column" lines in column order (base: before any run;
# final: after one uninterrupted run; crash: the state under test). A table
# whose columns change between BASE and FINAL must have exactly the BASE
# columns or exactly the FINAL columns, and all such tables of one database
# the same (one transaction changes them all); any other table keeps its
# columns. Prints "columns: old|new|unchanged" and "ERROR ..." lines.
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
