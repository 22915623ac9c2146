#!/usr/bin/env bash
# Lays out a fresh (current-schema) installation whose main database file
# has grown to at least N MiB: qv-mkinstall, then documents added to DocEvent
# with the sqlite3 shell, each with a body of 3000 characters, in one
# recursive-CTE INSERT. The schema is current, so a setup run on it has no
# table to migrate: what it costs beyond the settings and the views is the
# backup.
#
#   bench/make_large_installation.sh --mkinstall PATH --mib N DIR
set -euo pipefail

mkinstall= mib= dir=
while [ $# -gt 0 ]; do
  case $1 in
    --mkinstall) mkinstall=$2; shift 2 ;;
    --mib) mib=$2; shift 2 ;;
    -*) echo "usage: $0 --mkinstall PATH --mib N DIR" >&2; exit 2 ;;
    *) dir=$1; shift ;;
  esac
done
[ -n "$mkinstall" ] && [ -n "$mib" ] && [ -n "$dir" ] || { echo "usage: $0 --mkinstall PATH --mib N DIR" >&2; exit 2; }
[[ $mib =~ ^[0-9]+$ ]] && [ "$mib" -gt 0 ] || { echo "$0: --mib takes a positive whole number" >&2; exit 2; }

"$mkinstall" "$dir" >/dev/null
main=$dir/db/qv_main.mdb
target=$((mib * 1048576))
# About 4.2 KiB per row on disk (the body spills to an overflow page); add rows until the file is large enough.
while :; do
  size=$(stat -c %s "$main")
  [ "$size" -lt "$target" ] || break
  rows=$(((target - size) / 4300 + 16))
  sqlite3 -bail "$main" >/dev/null <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
BEGIN;
INSERT INTO DocEvent (GroupID, CompanyID, ContactID, ParentID, CreateDate, StartDate, Title, Body,
                      Visible, Custom1, Custom2, Custom3, Custom4, Int1, Int2, Int3, Bit1, Bit2, Shared, StationID)
WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < $rows)
SELECT 1, 1, i % 5 + 1, 1, datetime(978307200 + i * 613, 'unixepoch'), datetime(978307200 + i * 617, 'unixepoch'),
       printf('Document %d', i), hex(randomblob(1500)), 1, printf('file%d.doc', i), '', '', '', 0, 0, i, 0, 0, 0, 1
FROM r;
COMMIT;
SQL
done
echo "$main $(stat -c %s "$main") bytes"
