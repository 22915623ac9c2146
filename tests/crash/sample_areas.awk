# Sample data all or nothing: awk -f sample_areas.awk BASE.counts FINAL.counts CRASH.counts
# An area's FINAL - BASE rows in all its tables or in none; other tables keep
# their count (names without regard to case: the server folds them).
function area_of(t) {
  t = tolower(t)
  if (t == "company" || t == "contact") return "Contact"
  if (t ~ /^schedule/) return "Schedule"
  if (t ~ /^announce/) return "Announcement"
  if (t ~ /^todo/) return "ToDo"
  if (t ~ /^forum/) return "Forum"
  if (t ~ /^project/) return "ProjectM"
  if (t ~ /^resource/) return "Resource"
  if (t ~ /^doc/) return "Document"
  return ""
}
FNR == 1 { f++ }
f == 1 { base[$1] = $2; tables[$1] = 1; next }
f == 2 { fin[$1] = $2; tables[$1] = 1; next }
f == 3 { cur[$1] = $2; tables[$1] = 1; next }
END {
  split("Contact Schedule Announcement ToDo Forum ProjectM Resource Document", areas, " ")
  for (t in tables) {
    if (t == "sqlite_sequence") continue
    if (!(t in base) || !(t in cur)) {
      print "ERROR table " t ": present in " ((t in base) ? "the installation" : "the crashed state") " only"
      continue
    }
    a = area_of(t)
    full = fin[t] - base[t]
    got = cur[t] - base[t]
    if (a == "" || full == 0) {
      if (got != 0) print "ERROR table " t ": " cur[t] " rows, the installation had " base[t] " and no step adds any"
      continue
    }
    if (got == 0) none[a] = none[a] " " t
    else if (got == full) all[a] = all[a] " " t
    else part[a] = part[a] " " t "(" got " of " full ")"
  }
  for (i = 1; i in areas; i++) {
    a = areas[i]
    if (part[a] != "" || (none[a] != "" && all[a] != ""))
      print "ERROR sample area " a " is partial: all rows in" (all[a] == "" ? " -" : all[a]) \
            "; none in" (none[a] == "" ? " -" : none[a]) "; some in" (part[a] == "" ? " -" : part[a])
    else print a ": " (all[a] != "" ? "all" : (none[a] != "" ? "none" : "-"))
  }
}
