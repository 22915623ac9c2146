#!/usr/bin/env bash
# Generates the reference script of the full-run benchmark: the rows and
# schema changes that `qvsetup /i Initialize /a` writes into a fresh
# installation, as plain SQL for the sqlite3 shell, grouped into the same
# transactions as the run.
#
#   bench/gen_full_reference.sh --qvsetup PATH --mkinstall PATH [--out FILE]
#
# Default output: bench/full_run_reference.sql. How it is made:
#
#  1. qv-mkinstall lays out a fresh installation; a copy of its two databases
#     is kept as it was laid out (the "before" state).
#  2. qvsetup /i Initialize /a runs on it with trace_writes.so preloaded: an
#     update, commit and rollback hook on every database handle record each
#     row written (insert, update, delete; table and rowid) and each commit.
#     Rows written in a transaction that was rolled back are left out.
#  3. Every committed transaction becomes BEGIN ... COMMIT in commit order.
#     Each traced row write becomes one statement carrying the row's final
#     values (read from the database after the run):
#       insert -> INSERT with every column of the row;
#       update -> UPDATE ... WHERE rowid = N setting the columns that differ
#                 from the "before" state (every column for a row the run
#                 inserted itself);
#       delete -> DELETE ... WHERE rowid = N.
#     A committed transaction without row writes is a schema change: the
#     view re-creation, written as DROP VIEW and CREATE VIEW (the stored,
#     engine-native text) for every view of the main database.
#  4. Migration steps that find nothing to change on a fresh installation
#     commit a transaction that writes nothing (the engine does not touch the
#     file for it); the script keeps one empty BEGIN/COMMIT for each, so it
#     has as many transactions as the run has steps: the four settings
#     statements, the eight sample-data modules and the four migration steps.
#
# The script runs in the installation's db folder:
#   cd DIR/db && sqlite3 -bail qv_main.mdb < full_run_reference.sql
# (it attaches qv_security.mdb as "sec").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
qvsetup= mkinstall= out=$here/full_run_reference.sql
while [ $# -gt 0 ]; do
  case $1 in
    --qvsetup) qvsetup=$(realpath "$2"); shift 2 ;;
    --mkinstall) mkinstall=$(realpath "$2"); shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 --qvsetup PATH --mkinstall PATH [--out FILE]" >&2; exit 2 ;;
  esac
done
[ -x "$qvsetup" ] && [ -x "$mkinstall" ] || { echo "$0: --qvsetup and --mkinstall are required" >&2; exit 2; }

# Steps of a full run, each one transaction: settings statements, sample-data
# modules, migration steps.
readonly SETTINGS_STATEMENTS=4 SAMPLE_MODULES=8 MIGRATION_STEPS=4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -shared -fPIC -O2 -o "$work/trace_writes.so" "$here/trace_writes.c" -ldl
"$mkinstall" "$work/inst" >/dev/null
cp -p "$work/inst/db/qv_main.mdb" "$work/before_main.mdb"
cp -p "$work/inst/db/qv_security.mdb" "$work/before_security.mdb"
(
  export QV_REGISTRY_FILE=$work/inst/registry.reg ODBCINI=$work/inst/odbc.ini TZ=UTC
  QVB_TRACE_FILE=$work/trace.txt LD_PRELOAD=$work/trace_writes.so "$qvsetup" /i Initialize /a
) >"$work/run.out"
[ ! -s "$work/run.out" ] || { echo "$0: the traced run reported:" >&2; cat "$work/run.out" >&2; exit 1; }

# The trace as rows: seq, kind, conn, file, op, table, rowid.
awk 'BEGIN { OFS = "," }
     $1 == "W" { print NR, "W", $2, $3, $4, $6, $7; next }
     $1 == "C" || $1 == "R" { print NR, $1, $2, $3, "", "", "" }' "$work/trace.txt" >"$work/trace.csv"

db=$work/gen.db
sqlite3 "$db" <<SQL
CREATE TABLE trace (seq INTEGER, kind TEXT, conn INTEGER, file TEXT, op TEXT, tbl TEXT, rid INTEGER);
.mode csv
.import $work/trace.csv trace
-- The transaction of every row write: the next commit or rollback of its connection.
CREATE TABLE writes AS
  SELECT w.seq, w.file, w.op, w.tbl, w.rid,
         (SELECT min(e.seq) FROM trace e WHERE e.kind IN ('C', 'R') AND e.conn = w.conn AND e.seq > w.seq) AS txn
  FROM trace w WHERE w.kind = 'W';
DELETE FROM writes WHERE txn IS NULL OR txn IN (SELECT seq FROM trace WHERE kind = 'R');
CREATE TABLE commits AS SELECT seq, file FROM trace WHERE kind = 'C';
CREATE TABLE stmts (txn INTEGER, seq INTEGER, sql TEXT);
SQL

# Renders the statements of one table of one database file.
render_table() {
  local file=$1 table=$2 after before prefix
  if [ "$file" = qv_main.mdb ]; then
    after=$work/inst/db/qv_main.mdb before=$work/before_main.mdb prefix=
  else
    after=$work/inst/db/qv_security.mdb before=$work/before_security.mdb prefix=sec.
  fi
  local cols=() pk=() name p
  while IFS='|' read -r name p; do
    cols+=("$name")
    [ "$p" -gt 0 ] && pk+=("$name")
  done < <(sqlite3 "$after" "SELECT name, pk FROM pragma_table_info('$table') ORDER BY cid")
  local qt="\"$table\"" names= values= diffs= sets=
  for name in "${cols[@]}"; do
    local q="\"$name\""
    names+="${names:+,}$q"
    values+="${values:+ || ',' || }quote(n.$q)"
    diffs+=" || CASE WHEN n.$q IS NOT o.$q THEN ', $q = ' || quote(n.$q) ELSE '' END"
    if [[ " ${pk[*]} " != *" $name "* ]]; then sets+=" || ', $q = ' || quote(n.$q)"; fi
  done
  local first="\"${cols[0]}\""
  sqlite3 "$db" <<SQL
ATTACH '$after' AS a;
ATTACH '$before' AS b;
INSERT INTO stmts
SELECT w.txn, w.seq, 'INSERT INTO $prefix$qt ($names) VALUES (' || $values || ');'
FROM writes w JOIN a.$qt n ON n.rowid = w.rid
WHERE w.file = '$file' AND w.tbl = '$table' AND w.op = 'I'
  AND w.seq = (SELECT min(x.seq) FROM writes x WHERE x.file = w.file AND x.tbl = w.tbl AND x.rid = w.rid AND x.op = 'I');
INSERT INTO stmts
SELECT w.txn, w.seq, 'UPDATE $prefix$qt SET ' ||
  coalesce(nullif(substr(''$diffs, 3), ''), '$first = $first') || ' WHERE rowid = ' || w.rid || ';'
FROM writes w JOIN a.$qt n ON n.rowid = w.rid JOIN b.$qt o ON o.rowid = w.rid
WHERE w.file = '$file' AND w.tbl = '$table' AND w.op = 'U';
INSERT INTO stmts
SELECT w.txn, w.seq, 'UPDATE $prefix$qt SET ' || coalesce(nullif(substr(''$sets, 3), ''), '$first = $first') ||
  ' WHERE rowid = ' || w.rid || ';'
FROM writes w JOIN a.$qt n ON n.rowid = w.rid
WHERE w.file = '$file' AND w.tbl = '$table' AND w.op = 'U' AND w.rid NOT IN (SELECT rowid FROM b.$qt);
INSERT INTO stmts
SELECT w.txn, w.seq, 'DELETE FROM $prefix$qt WHERE rowid = ' || w.rid || ';'
FROM writes w WHERE w.file = '$file' AND w.tbl = '$table' AND w.op = 'D';
SQL
}

while IFS='|' read -r file table; do
  render_table "$file" "$table"
done < <(sqlite3 "$db" "SELECT DISTINCT file, tbl FROM writes ORDER BY file, tbl")

# Transactions without row writes: the view re-creation of the main database.
sqlite3 "$db" <<SQL
ATTACH '$work/inst/db/qv_main.mdb' AS a;
INSERT INTO stmts
SELECT c.seq, v.rowid * 2, 'DROP VIEW "' || v.name || '";' FROM commits c, a.sqlite_schema v
WHERE c.file = 'qv_main.mdb' AND v.type = 'view' AND c.seq NOT IN (SELECT txn FROM writes);
INSERT INTO stmts
SELECT c.seq, v.rowid * 2 + 1, v.sql || ';' FROM commits c, a.sqlite_schema v
WHERE c.file = 'qv_main.mdb' AND v.type = 'view' AND c.seq NOT IN (SELECT txn FROM writes);
SQL

commits=$(sqlite3 "$db" "SELECT count(*) FROM commits")
schema_only=$(sqlite3 "$db" "SELECT count(*) FROM commits WHERE seq NOT IN (SELECT txn FROM writes)")
other_files=$(sqlite3 "$db" "SELECT count(*) FROM commits WHERE seq NOT IN (SELECT txn FROM writes) AND file <> 'qv_main.mdb'")
expected=$((SETTINGS_STATEMENTS + SAMPLE_MODULES + MIGRATION_STEPS))
if [ "$other_files" -ne 0 ] || [ "$schema_only" -gt 1 ] || [ "$commits" -gt "$expected" ]; then
  echo "$0: unexpected transactions in the run: $commits commits, $schema_only without row writes" >&2
  exit 1
fi
empty=$((expected - commits))

{
  echo "-- Reference of the full-run benchmark: what qvsetup /i Initialize /a writes into"
  echo "-- a fresh installation, in the same transactions. Generated by"
  echo "-- bench/gen_full_reference.sh; run in the installation's db folder with"
  echo "--   sqlite3 -bail qv_main.mdb < full_run_reference.sql"
  echo "-- $commits transactions with writes ($(sqlite3 "$db" "SELECT count(*) FROM stmts") statements)," \
       "$empty empty ones for the migration steps that find nothing to change."
  echo "ATTACH DATABASE 'qv_security.mdb' AS sec;"
  # Text values may hold line breaks: the shell prints each statement whole,
  # with BEGIN before the first and COMMIT after the last of its transaction.
  sqlite3 "$db" "SELECT CASE WHEN n = 1 THEN 'BEGIN;' || char(10) ELSE '' END || sql ||
                        CASE WHEN n = total THEN char(10) || 'COMMIT;' ELSE '' END
                 FROM (SELECT s.sql, c.seq AS txn, s.seq,
                              row_number() OVER (PARTITION BY c.seq ORDER BY s.seq) AS n,
                              count(*) OVER (PARTITION BY c.seq) AS total
                       FROM commits c JOIN stmts s ON s.txn = c.seq)
                 ORDER BY txn, seq"
  for _ in $(seq "$empty"); do echo "BEGIN;"; echo "COMMIT;"; done
} >"$out.tmp"

# The script must apply cleanly to a fresh installation and leave as many
# rows in every table as the run did.
"$mkinstall" "$work/check" >/dev/null
(cd "$work/check/db" && sqlite3 -bail qv_main.mdb <"$out.tmp")
count_rows() {
  local file=$1 t
  for t in $(sqlite3 "$file" "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name"); do
    echo "$t $(sqlite3 "$file" "SELECT count(*) FROM \"$t\"")"
  done
  sqlite3 "$file" "SELECT type, name FROM sqlite_schema WHERE type = 'view' ORDER BY name"
}
for f in qv_main.mdb qv_security.mdb; do
  if ! diff <(count_rows "$work/inst/db/$f") <(count_rows "$work/check/db/$f") >"$work/diff"; then
    echo "$0: the script does not reproduce the run's $f:" >&2
    cat "$work/diff" >&2
    exit 1
  fi
done
mv "$out.tmp" "$out"
echo "wrote $out: $commits transactions with writes, $empty empty" >&2
