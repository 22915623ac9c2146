# Views all or nothing: awk -f views.awk BASE.dump FINAL.dump CRASH.dump. A
# dropped view unchanged or gone; re-created views all BASE or all FINAL (on a
# server, "... AS view_to_create_again" until re-created counts as BASE).
function standIn(text) { return text ~ / AS view_to_create_again;?$/ }
FNR == 1 { f++ }
/^CREATE VIEW / {
  v = $3
  gsub(/["\[\]`]/, "", v)
  v = tolower(v)
  sql[f, v] = $0
  has[f, v] = 1
  names[v] = 1
}
END {
  state = ""
  for (v in names) {
    inB = ((1, v) in has); inE = ((2, v) in has); inS = ((3, v) in has)
    if (!inE) {
      if (!inB) { print "ERROR view " v " appeared"; continue }
      if (inS && sql[3, v] != sql[1, v] && !standIn(sql[3, v]))
        print "ERROR obsolete view " v " changed: " sql[3, v]
      continue
    }
    if (!inS) { print "ERROR view " v " is missing"; continue }
    if (inB && sql[1, v] == sql[2, v]) {
      if (sql[3, v] != sql[1, v]) print "ERROR view " v " has a definition of neither state: " sql[3, v]
      continue
    }
    if (inB && (sql[3, v] == sql[1, v] || standIn(sql[3, v]))) st = "old"
    else if (sql[3, v] == sql[2, v]) st = "new"
    else { print "ERROR view " v " has a definition of neither state: " sql[3, v]; continue }
    if (state == "") state = st
    else if (state != st) mixed = 1
    list[st] = list[st] " " v
  }
  if (mixed) print "ERROR views re-created in part: new:" list["new"] "; old:" list["old"]
  print "views: " (state == "" ? "same" : (mixed ? "mixed" : state))
}
