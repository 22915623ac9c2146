#!/usr/bin/env bash
# Builds qvsetup, lays out a fresh installation in ./demo (or the folder
# given), runs a full setup on it and shows what was written.
#
#   scripts/demo.sh [DIR]                 # the databases as files in DIR/db
#   scripts/demo.sh --postgresql [DIR]    # the databases on a throw-away
#                                         # PostgreSQL cluster (pg_virtualenv)
set -euo pipefail
cd "$(dirname "$0")/.."

engine=sqlite
if [ "${1:-}" = --postgresql ]; then
  engine=postgresql
  shift
fi
dir=$(realpath -m "${1:-demo}")

# Inside the throw-away cluster: everything below runs with PGHOST etc. set.
if [ "$engine" = postgresql ] && [ -z "${QV_DEMO_IN_CLUSTER:-}" ]; then
  scripts/install-deps.sh
  exec env QV_DEMO_IN_CLUSTER=1 pg_virtualenv -t -o shared_buffers=16MB "$0" --postgresql "$dir"
fi
[ -n "${QV_DEMO_IN_CLUSTER:-}" ] || scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}" --target qvsetup qv-mkinstall

rm -rf "$dir"
if [ "$engine" = postgresql ]; then
  build/qv-mkinstall --engine postgresql --prefix demo_ "$dir"
  echo "== $dir/odbc.ini"
  cat "$dir/odbc.ini"
else
  build/qv-mkinstall "$dir"
fi
export QV_REGISTRY_FILE="$dir/registry.reg" ODBCINI="$dir/odbc.ini"

echo "== qvsetup /?"
build/qvsetup '/?'
echo "== qvsetup /i Initialize /a /b /d /l ${QV_LANGUAGE:-1}"
build/qvsetup /i Initialize /a /b /d /l "${QV_LANGUAGE:-1}"

# show DATABASE STATEMENT...: prints each statement's rows with a header.
show() {
  local database=$1
  shift
  if [ "$engine" = postgresql ]; then
    for statement in "$@"; do psql -X -P pager=off -d "demo_$database" -c "$statement"; done
  else
    sqlite3 -header "$dir/db/$database.mdb" "$@"
  fi
}

echo "== what was written"
show qv_security \
  "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset FROM GlobalPref;" \
  "SELECT InstallFlag FROM Install;" "SELECT LoginName, DateFormat, TimeFormat FROM Users;"
show qv_main \
  "SELECT * FROM EmailAdmin;" \
  "SELECT CompanyID, CompanyName, StationID FROM Company;" \
  "SELECT 'ScheduleEvent', count(*) FROM ScheduleEvent UNION ALL SELECT 'AnnounceEvent', count(*) FROM AnnounceEvent
   UNION ALL SELECT 'ToDoEvent', count(*) FROM ToDoEvent UNION ALL SELECT 'ForumEvent', count(*) FROM ForumEvent
   UNION ALL SELECT 'ProjectEvent', count(*) FROM ProjectEvent UNION ALL SELECT 'ResourceEvent', count(*) FROM ResourceEvent
   UNION ALL SELECT 'DocEvent', count(*) FROM DocEvent;"
echo "== backup"
ls -l "$dir"/db/BACK*/
