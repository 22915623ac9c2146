# `strace -f -k` output as "index name ordinal step commit path" (tab-separated)
# per call: ordinal per name (inject when=), step from the stack, commit 1 for
# the unlink of a rollback journal.
function flush(   step, path, p) {
  if (name == "") return
  count++
  ord[name]++
  step = "startup/exit"
  if (match(frames, /sample_data::[A-Za-z]+::InsertSampleData/)) {
    step = substr(frames, RSTART + 13, RLENGTH - 13)
    sub(/::InsertSampleData$/, "", step)
    step = "sample:" step
  } else if (index(frames, "db::TableIsEmpty")) step = "emptiness-test"
  else if (index(frames, "migration::AlterTables")) step = "migration:AlterTables"
  else if (index(frames, "migration::DropViews")) step = "migration:DropViews"
  else if (index(frames, "migration::AlterSecurityTable")) step = "migration:AlterSecurityTable"
  else if (index(frames, "migration::AlterViews")) step = "migration:AlterViews"
  else if (index(frames, "setup::UpdateInstallSettings")) step = "settings"
  else if (index(frames, "setup::LockInstallation") || index(frames, "setup::LockSharedDatabase")) step = "run-lock"
  else if (index(frames, "setup::BackUpDatabases")) step = "backup"
  path = "-"
  p = index(call, "\"")
  if (p > 0) {
    path = substr(call, p + 1)
    p = index(path, "\"")
    if (p > 0) path = substr(path, 1, p - 1)
  }
  printf "%d\t%s\t%d\t%s\t%d\t%s\n", count, name, ord[name], step,
         (name == "unlink" && path ~ /-journal$/) ? 1 : 0, path
  name = ""
}
/^[0-9]+ +[a-z0-9_]+\(/ {
  flush()
  call = $0
  sub(/^[0-9]+ +/, "", call)
  name = call
  sub(/\(.*/, "", name)
  frames = ""
  next
}
/^ > / { frames = frames "\n" $0; next }
{ flush() }
END { flush() }
