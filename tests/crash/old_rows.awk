# No old value lost or half changed: awk [-v strict=1] -f old_rows.awk BASE FINAL STATE
# (lines "table TAB key TAB column TAB value", key "#n" without a primary key).
# Keyed: each old value as it was or as after a full run (strict: the latter);
# keyless: all base rows kept, or only FINAL rows (strict: exactly them).
function succ(c) {
  if (c == "public") return "shared"
  if (c == "confirm") return "confirmation"
  return ""
}
function resolve(f, t, c,   s) {
  if ((f, t, c) in has) return c
  s = succ(c)
  if (s != "" && (f, t, s) in has) return s
  return ""
}
function err(t, text) {
  if (++errors[t] <= 5) print "ERROR " t ": " text
}
# Row k of file f on the base columns of t, "" when a column is missing.
function projection(f, t, k,   i, c, text) {
  text = ""
  for (i = 1; i <= ncols[t]; i++) {
    c = resolve(f, t, col[t, i])
    if (c == "") return ""
    text = text "\t" val[f, t, k, c]
  }
  return text
}
BEGIN { FS = "\t" }
FNR == 1 { f++ }
{
  t = $1; k = $2; c = $3
  val[f, t, k, c] = $4
  has[f, t, c] = 1
  if (!((f, t, k) in row)) { row[f, t, k] = 1; rows[f, t] = rows[f, t] SUBSEP k }
  if (f == 1 && !(t in seen)) { seen[t] = 1; tables[++nt] = t }
  if (f == 1 && !((t, c) in colSeen)) { colSeen[t, c] = 1; col[t, ++ncols[t]] = c }
  if (f == 2 && !((t, c) in finalSeen)) { finalSeen[t, c] = 1; fcol[t, ++nfcols[t]] = c }
}
END {
  for (i = 1; i <= nt; i++) {
    t = tables[i]
    n = split(rows[1, t], keys, SUBSEP)
    keyed = substr(keys[2], 1, 1) != "#"
    if (keyed) {
      for (j = 2; j <= n; j++) {
        k = keys[j]
        if (!((3, t, k) in row)) { err(t, "row " k " is gone"); continue }
        for (m = 1; m <= ncols[t]; m++) {
          c = col[t, m]
          sc = resolve(3, t, c); ec = resolve(2, t, c)
          if (sc == "") { err(t, "column " c " is gone with its values"); continue }
          s = val[3, t, k, sc]
          if (ec == "" && strict) continue
          if ((!strict && s == val[1, t, k, c]) || (ec != "" && s == val[2, t, k, ec])) continue
          err(t, c " of row " k ": " s " is neither its old value " val[1, t, k, c] \
                 " nor its value after a full run " (ec == "" ? "(none)" : val[2, t, k, ec]))
        }
        for (m = 1; m <= nfcols[t]; m++) {
          c = fcol[t, m]
          if ((t, c) in colSeen || c == "shared" || c == "confirmation") continue
          if (!((3, t, c) in has)) continue
          if (val[3, t, k, c] != val[2, t, k, c])
            err(t, c " (added) of row " k ": " val[3, t, k, c] " instead of " val[2, t, k, c])
        }
      }
      continue
    }
    # Without a key: multisets of projected rows.
    delete inBase; delete inState; delete inFinal
    for (j = 2; j <= n; j++) inBase[projection(1, t, keys[j])]++
    ns = split(rows[3, t], skeys, SUBSEP)
    for (j = 2; j <= ns; j++) inState[projection(3, t, skeys[j])]++
    nf = split(rows[2, t], fkeys, SUBSEP)
    for (j = 2; j <= nf; j++) inFinal[projection(2, t, fkeys[j])]++
    kept = 1; asFinal = 1; sameAsFinal = (ns == nf)
    for (p in inBase) if (inState[p] < inBase[p]) kept = 0
    for (p in inState) {
      if (inFinal[p] < inState[p]) asFinal = 0
      if (inFinal[p] != inState[p]) sameAsFinal = 0
    }
    if (strict ? !sameAsFinal : !(kept || asFinal))
      err(t, "rows without a key are neither all kept nor all as after a full run")
  }
}
