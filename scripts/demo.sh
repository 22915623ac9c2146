#!/usr/bin/env bash
# Builds qvsetup, lays out a fresh installation in ./demo (or the folder
# given), runs a full setup on it and shows what was written.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

dir=$(realpath -m "${1:-demo}")
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}" --target qvsetup qv-mkinstall

rm -rf "$dir"
build/qv-mkinstall "$dir"
export QV_REGISTRY_FILE="$dir/registry.reg" ODBCINI="$dir/odbc.ini"

echo "== qvsetup /?"
build/qvsetup '/?'
echo "== qvsetup /i Initialize /a /b /d /l ${QV_LANGUAGE:-1}"
build/qvsetup /i Initialize /a /b /d /l "${QV_LANGUAGE:-1}"

echo "== what was written"
sqlite3 -header "$dir/db/qv_security.mdb" \
  "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset FROM GlobalPref;" \
  "SELECT InstallFlag FROM Install;" "SELECT LoginName, DateFormat, TimeFormat FROM Users;"
sqlite3 -header "$dir/db/qv_main.mdb" \
  "SELECT * FROM EmailAdmin;" \
  "SELECT CompanyID, CompanyName, StationID FROM Company;" \
  "SELECT 'ScheduleEvent', count(*) FROM ScheduleEvent UNION ALL SELECT 'AnnounceEvent', count(*) FROM AnnounceEvent
   UNION ALL SELECT 'ToDoEvent', count(*) FROM ToDoEvent UNION ALL SELECT 'ForumEvent', count(*) FROM ForumEvent
   UNION ALL SELECT 'ProjectEvent', count(*) FROM ProjectEvent UNION ALL SELECT 'ResourceEvent', count(*) FROM ResourceEvent
   UNION ALL SELECT 'DocEvent', count(*) FROM DocEvent;"
echo "== backup"
ls -l "$dir"/db/BACK*/
