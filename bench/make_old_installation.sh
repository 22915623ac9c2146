#!/usr/bin/env bash
# Lays out an older installation holding years of data: qv-mkinstall --old,
# then N rows added with the sqlite3 shell (recursive CTEs), spread evenly
# over every table of the main database that carries a Public or Confirm
# column.
#
#   bench/make_old_installation.sh --mkinstall PATH --rows N [--mixed] DIR
#
# The rows look like what the server writes: titles, bodies of 80 to 240
# characters, dates over twenty years, small integers for types, owners and
# flags. Public holds 0 or 1 and Confirm 0 or 1, each null in one row of
# ten. With --mixed, several rows in 64 instead hold values that exercise
# the column conversions (fractions, numeric text with blanks, the words
# Yes, no and TRUE), and two tables hold values that cannot convert at all:
# a number beyond 32 bits in ForumEvent.Public and the word "maybe" in
# ScheduleEvent.Confirm, so that those two copies fail, as they would on a
# damaged installation.
#
# Prints the tables and their row counts.
set -euo pipefail

mkinstall= rows= mixed=0 dir=
while [ $# -gt 0 ]; do
  case $1 in
    --mkinstall) mkinstall=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --mixed) mixed=1; shift ;;
    -*) echo "usage: $0 --mkinstall PATH --rows N [--mixed] DIR" >&2; exit 2 ;;
    *) dir=$1; shift ;;
  esac
done
[ -n "$mkinstall" ] && [ -n "$rows" ] && [ -n "$dir" ] ||
  { echo "usage: $0 --mkinstall PATH --rows N [--mixed] DIR" >&2; exit 2; }
[[ $rows =~ ^[0-9]+$ ]] || { echo "$0: --rows takes a whole number" >&2; exit 2; }

"$mkinstall" --old "$dir" >/dev/null
main=$dir/db/qv_main.mdb

tables=$(sqlite3 "$main" "SELECT DISTINCT m.name FROM sqlite_schema m, pragma_table_info(m.name) c
                          WHERE m.type = 'table' AND c.name IN ('Public', 'Confirm') ORDER BY m.name")
ntables=$(echo "$tables" | wc -w)
[ "$ntables" -gt 0 ] || { echo "$0: no table with Public or Confirm in $main" >&2; exit 1; }

# One INSERT ... SELECT per table, its column values chosen by name and
# declared type. The i-th generated row of a table is built from i.
{
  echo "PRAGMA journal_mode = OFF;"  # filling only; the benchmark runs at default durability
  echo "PRAGMA synchronous = OFF;"
  echo "BEGIN;"
  k=0
  for t in $tables; do
    n=$((rows / ntables + (k < rows % ntables ? 1 : 0)))
    k=$((k + 1))
    [ "$n" -gt 0 ] || continue
    sqlite3 "$main" "
      SELECT 'INSERT INTO \"$t\" (' || group_concat('\"' || name || '\"', ', ') || ')' || char(10) ||
             'WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < $n)' || char(10) ||
             'SELECT ' || group_concat(expr, ',' || char(10) || '       ') || ' FROM r;'
      FROM (SELECT name,
              CASE
                WHEN lower(name) = 'public' THEN
                  CASE WHEN $mixed THEN
                    'CASE WHEN i % 64 = 7 THEN ''12'' WHEN i % 64 = 15 THEN 2.5 WHEN i % 64 = 23 THEN 3.5 ' ||
                    'WHEN i % 64 = 39 THEN ''-3'' WHEN i % 64 = 47 THEN '' 8 '' ' ||
                    CASE WHEN '$t' = 'ForumEvent' THEN 'WHEN i % 64 = 31 THEN 3000000000 ' ELSE '' END ||
                    'WHEN i % 10 = 0 THEN NULL ELSE i % 2 END'
                  ELSE 'CASE WHEN i % 10 = 0 THEN NULL ELSE i % 2 END' END
                WHEN lower(name) = 'confirm' THEN
                  CASE WHEN $mixed THEN
                    'CASE WHEN i % 64 = 3 THEN ''Yes'' WHEN i % 64 = 11 THEN ''no'' WHEN i % 64 = 19 THEN 0.25 ' ||
                    'WHEN i % 64 = 27 THEN 7 WHEN i % 64 = 43 THEN ''TRUE'' ' ||
                    CASE WHEN '$t' = 'ScheduleEvent' THEN 'WHEN i % 64 = 35 THEN ''maybe'' ' ELSE '' END ||
                    'WHEN i % 10 = 5 THEN NULL ELSE (i / 3) % 2 END'
                  ELSE 'CASE WHEN i % 10 = 5 THEN NULL ELSE (i / 3) % 2 END' END
                WHEN upper(type) IN ('DATETIME', 'DATE', 'TIMESTAMP') THEN
                  'datetime(978307200 + (i * 7919 + ' || cid || ' * 86400) % 631152000, ''unixepoch'')'
                WHEN upper(type) IN ('LONGTEXT', 'MEMO') THEN
                  'printf(''Notes %d: '', i) || substr(''Minutes of the weekly meeting, the follow-up items for ' ||
                  'every team and the dates agreed with the customer. Bring the signed order and the revised ' ||
                  'drawings; the shipping schedule moves by one week. Contact the office for the new rates.'', 1, ' ||
                  '80 + i % 160)'
                WHEN upper(type) LIKE 'TEXT%' THEN 'printf(''%s %d'', ''' || name || ''', i)'
                WHEN upper(type) IN ('BIT', 'YESNO', 'BOOLEAN') THEN '(i + ' || cid || ') % 2'
                WHEN lower(name) = 'visible' THEN '1'
                WHEN lower(name) = 'stationid' THEN '1'
                WHEN lower(name) LIKE '%contactid' OR lower(name) = 'ownerid' THEN 'i % 5 + 1'
                ELSE '(i * ' || (cid + 3) || ') % 97'
              END AS expr
            FROM pragma_table_info('$t') WHERE pk = 0 ORDER BY cid);"
  done
  echo "COMMIT;"
} >"$dir/fill.sql"
sqlite3 -bail "$main" <"$dir/fill.sql" >/dev/null
rm "$dir/fill.sql"
for t in $tables; do
  echo "$t $(sqlite3 "$main" "SELECT count(*) FROM \"$t\"")"
done
