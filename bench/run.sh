#!/usr/bin/env bash
# Benchmarks of qvsetup against what the engine (the sqlite3 shell) or the
# system (cp) needs for the same work, each a median of several runs measured
# in the same invocation on the same machine. See bench/README.md.
#
#   bench/run.sh [--quick] [options]
#
#   --quick            CI mode: smallest sizes, 2 runs, a 16 MiB backup file;
#                      writes bench/out/results.md, not the README
#   --runs N           runs per measurement (default 7, quick 2)
#   --sizes "N ..."    migration sizes in rows (default "10000 100000 1000000",
#                      quick "10000")
#   --big              add 5 million rows to the default sizes
#   --backup-mib N     size of the main database for the backup (default 1024, quick 16)
#   --build DIR        use qvsetup, qv-mkinstall and libqv_db.a of an existing
#                      build; default: configure and build into build-bench/
#   --qvsetup PATH, --mkinstall PATH
#                      use these binaries (the row-walk check then needs --build
#                      or is skipped)
#   --before PATH      an earlier qvsetup, timed in the full run beside this
#                      one and the shell (before and after a change)
#   --work DIR         scratch folder (default bench/out); emptied first
#   --update-readme    write the results table into bench/README.md (the
#                      default in full mode with every part; --no-readme
#                      turns it off)
#   --regen-reference  regenerate bench/full_run_reference.sql first
#   --only "PARTS"     run only some of: full migration conversions backup server
#                      (server: the full run and the migration against a
#                      PostgreSQL server, when one is reachable: run inside
#                      pg_virtualenv; see bench/server.sh)
#
# Exit status: 0 when every correctness check passed (timing targets are
# reported, never enforced), 1 when a check failed or a command broke.
set -euo pipefail
export LC_ALL=C TZ=UTC

here=$(cd "$(dirname "$0")" && pwd -P)
root=$(cd "$here/.." && pwd -P)
invocation="bench/run.sh${*:+ $*}"
# The state of the sources when the run starts (and the build, if any, is made).
source_state=
if git -C "$root" rev-parse --short HEAD >/dev/null 2>&1; then
  source_state="commit $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" status --porcelain -- src tools share 2>/dev/null | grep -q . && echo ' with uncommitted changes in src/, tools/ or share/' || true)"
fi

quick=0 runs= sizes= big=0 backup_mib= build= qvsetup= mkinstall= before= work=$here/out
update_readme= regen=0 only="full migration conversions backup server"
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1; shift ;;
    --runs) runs=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --big) big=1; shift ;;
    --backup-mib) backup_mib=$2; shift 2 ;;
    --build) build=$(realpath "$2"); shift 2 ;;
    --qvsetup) qvsetup=$(realpath "$2"); shift 2 ;;
    --mkinstall) mkinstall=$(realpath "$2"); shift 2 ;;
    --before) before=$(realpath "$2"); shift 2 ;;
    --work) work=$(realpath -m "$2"); shift 2 ;;
    --update-readme) update_readme=1; shift ;;
    --no-readme) update_readme=0; shift ;;
    --regen-reference) regen=1; shift ;;
    --only) only=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ "$quick" -eq 1 ]; then
  : "${runs:=2}" "${sizes:=10000}" "${backup_mib:=16}" "${update_readme:=0}"
  mixed_rows=5000
else
  # A partial run (--only) leaves the README alone unless told otherwise.
  [ "$only" = "full migration conversions backup server" ] && : "${update_readme:=1}"
  : "${runs:=7}" "${sizes:=10000 100000 1000000}" "${backup_mib:=1024}" "${update_readme:=0}"
  [ "$big" -eq 1 ] && sizes="$sizes 5000000"
  mixed_rows=20000
fi
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs takes a positive number" >&2; exit 2; }

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }
# The project's own dependencies, and GNU time for the peak memory.
[ -x /usr/bin/time ] || "$root/scripts/install-deps.sh" time
for tool in sqlite3 g++ awk /usr/bin/time; do
  command -v "$tool" >/dev/null || die "needs $tool (scripts/install-deps.sh time)"
done

# --- Programs --------------------------------------------------------------------
built=0
if [ -z "$qvsetup" ] || [ -z "$mkinstall" ]; then
  if [ -z "$build" ]; then
    build=$root/build-bench
    built=1
    log "building qvsetup and qv-mkinstall in $build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"${JOBS:-2}" --target qvsetup qv-mkinstall qv_db >/dev/null
  fi
  # The executables sit at the top of the build tree (older trees: src/, tools/).
  for candidate in "$build/qvsetup" "$build/src/qvsetup"; do
    [ -n "$qvsetup" ] || [ ! -x "$candidate" ] || qvsetup=$candidate
  done
  for candidate in "$build/qv-mkinstall" "$build/tools/qv-mkinstall"; do
    [ -n "$mkinstall" ] || [ ! -x "$candidate" ] || mkinstall=$candidate
  done
fi
[ -x "$qvsetup" ] || die "no qvsetup at $qvsetup"
[ -x "$mkinstall" ] || die "no qv-mkinstall at $mkinstall"

# The scratch folder is emptied first: only when it is new, empty or an
# earlier scratch folder of this script.
if [ -e "$work" ] && [ -n "$(ls -A "$work" 2>/dev/null)" ] && [ ! -e "$work/.qv-bench-scratch" ]; then
  die "$work is not empty and not a scratch folder of bench/run.sh; choose another --work"
fi
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd -P)
touch "$work/.qv-bench-scratch"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
data=$work/data.tsv  # scenario  subject  run  wall_s  rss_kib  user_s  sys_s
: >"$data"
checks=$work/checks.tsv  # check  result  detail
: >"$checks"

row_walk=
if [ -n "$build" ] && [ -f "$build/src/libqv_db.a" ]; then
  row_walk=$work/row_walk
  # The server engine is loaded from the build's module, as qvsetup loads it.
  g++ -std=c++17 -O2 -I"$root/src" -o "$row_walk" "$here/row_walk.cc" \
    "$build"/src/lib{qv_db,qv_db_sqlite,qv_db_core,qv_base}.a -lsqlite3 -ldl \
    -Wl,-rpath,"$build/engines"
fi

if [ "$regen" -eq 1 ]; then
  log "regenerating the full-run reference script"
  "$here/gen_full_reference.sh" --qvsetup "$qvsetup" --mkinstall "$mkinstall"
fi

# --- Measuring --------------------------------------------------------------------
# measure SCENARIO SUBJECT RUN DIR STDIN COMMAND...: runs COMMAND in DIR with
# STDIN (or /dev/null) after a sync, under /usr/bin/time -v, with the
# variables of the array run_env exported; the wall time is taken around it
# from the shell's microsecond clock. Standard output and error are kept in
# $work/last.out and $work/last.err.
run_env=()
measure() {
  local scenario=$1 subject=$2 run=$3 dir=$4 input=$5 assignment
  shift 5
  sync
  local t0 t1 status=0
  pushd "$dir" >/dev/null
  for assignment in "${run_env[@]}"; do export "$assignment"; done
  t0=$EPOCHREALTIME
  /usr/bin/time -v -o "$work/time.txt" "$@" <"${input:-/dev/null}" >"$work/last.out" 2>"$work/last.err" || status=$?
  t1=$EPOCHREALTIME
  for assignment in "${run_env[@]}"; do unset "${assignment%%=*}"; done
  popd >/dev/null
  [ "$status" -eq 0 ] || { cat "$work/last.err" >&2; die "$scenario/$subject: '$*' exited with $status"; }
  awk -v s="$scenario" -v j="$subject" -v r="$run" -v t0="$t0" -v t1="$t1" '
    /Maximum resident set size/ { rss = $NF }
    /User time \(seconds\)/ { user = $NF }
    /System time \(seconds\)/ { sys = $NF }
    END { printf "%s\t%s\t%s\t%.6f\t%s\t%s\t%s\n", s, j, r, t1 - t0, rss, user, sys }' \
    "$work/time.txt" >>"$data"
}

# Median of a column (4 wall, 5 rss, 6 user, 7 sys) of one scenario and subject.
median() {
  awk -F'\t' -v s="$1" -v j="$2" -v c="$3" '$1 == s && $2 == j { print $c }' "$data" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
                              else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
count_runs() { awk -F'\t' -v s="$1" -v j="$2" '$1 == s && $2 == j' "$data" | wc -l; }

check() {  # check NAME RESULT(pass|FAIL) DETAIL
  printf '%s\t%s\t%s\n' "$1" "$2" "$3" >>"$checks"
  [ "$2" = pass ] || log "CHECK FAILED: $1: $3"
}

# Row counts of every table and the names of the views, for comparing two
# databases that should hold the same rows.
table_counts() {
  local file=$1 t
  for t in $(sqlite3 "$file" "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name"); do
    echo "$t $(sqlite3 "$file" "SELECT count(*) FROM \"$t\"")"
  done
  sqlite3 "$file" "SELECT 'view ' || name FROM sqlite_schema WHERE type = 'view' ORDER BY name"
}

# The tables of a main database that carry Public or Confirm, with the pairs.
old_pairs() {
  sqlite3 -separator ' ' "$1" "
    SELECT m.name, c.name, CASE lower(c.name) WHEN 'public' THEN 'Shared' ELSE 'Confirmation' END
    FROM sqlite_schema m, pragma_table_info(m.name) c
    WHERE m.type = 'table' AND lower(c.name) IN ('public', 'confirm') ORDER BY m.name, c.cid"
}

# Mismatches of the new columns between two migrated main databases: rows
# missing on either side, values or storage classes that differ, old columns
# left over. Prints one line per problem; nothing when they agree.
compare_new_columns() {
  local golden=$1 a=$2 b=$3 table old new
  while read -r table old new; do
    sqlite3 :memory: "
      ATTACH '$a' AS a; ATTACH '$b' AS b;
      SELECT '$table.$new: ' || count(*) || ' rows differ' FROM (
        SELECT x.rowid FROM a.\"$table\" x LEFT JOIN b.\"$table\" y ON y.rowid = x.rowid
        WHERE y.rowid IS NULL OR x.\"$new\" IS NOT y.\"$new\" OR typeof(x.\"$new\") <> typeof(y.\"$new\")
        UNION ALL
        SELECT y.rowid FROM b.\"$table\" y LEFT JOIN a.\"$table\" x ON x.rowid = y.rowid WHERE x.rowid IS NULL)
      HAVING count(*) > 0;
      SELECT '$table: old column $old left in ' || s.schema FROM (SELECT 'a' AS schema UNION ALL SELECT 'b') s
      WHERE EXISTS (SELECT 1 FROM pragma_table_info('$table', s.schema) WHERE lower(name) = lower('$old'));"
  done < <(old_pairs "$golden")
}

machine_info() {
  local cpu
  cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
  echo "- Machine: $cpu, $(nproc) cores available ($(grep -c '^processor' /proc/cpuinfo) in /proc/cpuinfo), $( (free -m 2>/dev/null || echo) | awk '/^Mem:/ { m = $2 } END { if (m == "") { while ((getline l < "/proc/meminfo") > 0) if (l ~ /^MemTotal:/) { split(l, f, " "); m = f[2] / 1024 } } printf "%.1f GiB", m / 1024 }') memory, Linux $(uname -r)"
  echo "- Disk: $(df -P "$work" | awk 'NR == 2 { print $1 }'), $(findmnt -n -o FSTYPE -T "$work" 2>/dev/null || stat -f -c %T "$work") file system"
  echo "- Software: $(sqlite3 --version | cut -d' ' -f1-2 | sed 's/^/SQLite /'), $(cp --version | head -1), qvsetup built $( [ -n "$build" ] && sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || echo '(given)') with $(g++ --version | head -1)"
  [ -z "$source_state" ] || echo "- Source: $source_state at the start of the run$([ "$built" -eq 1 ] || echo " (programs not built by this run: $qvsetup)")"
  echo "- Load: $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end (1, 5, 15-minute load averages; other work on the machine slows the syncs of both sides and the processor time of qvsetup)"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); mode: $([ "$quick" -eq 1 ] && echo quick || echo full), $runs runs per measurement"
}

wanted() { [[ " $only " == *" $1 "* ]]; }

# --- 1. Full run on a fresh installation --------------------------------------------------
reference=$here/full_run_reference.sql
if wanted full; then
[ -f "$reference" ] || die "no $reference (bench/gen_full_reference.sh makes it)"
log "full run: qvsetup /i Initialize /a against the sqlite3 shell running full_run_reference.sql"
full_runs=$runs
[ "$quick" -eq 1 ] || full_runs=$((runs * 3))  # short runs: three times as many
for run in $(seq 0 "$full_runs"); do  # run 0 warms the caches and is not kept
  rm -rf "$work/full"
  "$mkinstall" "$work/full/q" >/dev/null
  "$mkinstall" "$work/full/r" >/dev/null
  run_env=(QV_REGISTRY_FILE="$work/full/q/registry.reg" ODBCINI="$work/full/q/odbc.ini")
  measure full qvsetup "$run" "$work/full/q" "" "$qvsetup" /i Initialize /a
  if [ -n "$before" ]; then
    "$mkinstall" "$work/full/b" >/dev/null
    run_env=(QV_REGISTRY_FILE="$work/full/b/registry.reg" ODBCINI="$work/full/b/odbc.ini")
    measure full before "$run" "$work/full/b" "" "$before" /i Initialize /a
  fi
  run_env=()
  [ ! -s "$work/last.out" ] || { cat "$work/last.out" >&2; die "the full run reported a failure"; }
  measure full sqlite3 "$run" "$work/full/r/db" "$reference" sqlite3 -bail qv_main.mdb
done
sed -i '/^full\t[^\t]*\t0\t/d' "$data"
if diff <(table_counts "$work/full/q/db/qv_main.mdb"; table_counts "$work/full/q/db/qv_security.mdb") \
        <(table_counts "$work/full/r/db/qv_main.mdb"; table_counts "$work/full/r/db/qv_security.mdb") >"$work/full.diff"; then
  check "full run: the reference writes the same rows and views" pass "row counts of every table and the views agree"
else
  check "full run: the reference writes the same rows and views" FAIL "$(tr '\n' ' ' <"$work/full.diff") (regenerate with --regen-reference)"
fi
rm -rf "$work/full"
fi

# --- 2. Migration of older installations ------------------------------------------------------
migration_ref=$here/migration_reference.sql
wanted migration || sizes=
for n in $sizes; do
  log "migration, $n rows: qvsetup /i Initialize against the sqlite3 shell running migration_reference.sql"
  mig=$work/mig$n
  mkdir -p "$mig"
  "$here/make_old_installation.sh" --mkinstall "$mkinstall" --rows "$n" "$mig/golden" >/dev/null
  "$mkinstall" --old "$mig/q" >/dev/null
  mkdir -p "$mig/r"
  for run in $(seq 1 "$runs"); do
    cp "$mig/golden/db/qv_main.mdb" "$mig/golden/db/qv_security.mdb" "$mig/q/db/"
    cp "$mig/golden/db/qv_main.mdb" "$mig/r/qv_main.mdb"
    run_env=(QV_REGISTRY_FILE="$mig/q/registry.reg" ODBCINI="$mig/q/odbc.ini")
    measure "migration $n" qvsetup "$run" "$mig/q" "" "$qvsetup" /i Initialize
    run_env=()
    [ ! -s "$work/last.out" ] || { cat "$work/last.out" >&2; die "the migration of $n rows reported a failure"; }
    measure "migration $n" sqlite3 "$run" "$mig/r" "$migration_ref" sqlite3 -bail qv_main.mdb
  done
  problems=$(compare_new_columns "$mig/golden/db/qv_main.mdb" "$mig/q/db/qv_main.mdb" "$mig/r/qv_main.mdb")
  if [ -z "$problems" ]; then
    check "migration $n: new columns equal the reference's" pass \
      "$(old_pairs "$mig/golden/db/qv_main.mdb" | wc -l) columns in $(old_pairs "$mig/golden/db/qv_main.mdb" | cut -d' ' -f1 | sort -u | wc -l) tables, every row"
  else
    check "migration $n: new columns equal the reference's" FAIL "$(echo "$problems" | tr '\n' ';')"
  fi
  rm -rf "$mig"
done

# --- 2b. Conversions: qvsetup's copy against the described row walk ------------------------------
if ! wanted conversions; then
  :
elif [ -n "$row_walk" ]; then
  log "conversions: qvsetup's copy against a row-by-row walk, $mixed_rows rows with mixed values"
  mx=$work/mixed
  "$here/make_old_installation.sh" --mkinstall "$mkinstall" --rows "$mixed_rows" --mixed "$mx/golden" >/dev/null
  "$mkinstall" --old "$mx/q" >/dev/null
  "$mkinstall" --old "$mx/w" >/dev/null
  for d in q w; do cp "$mx/golden/db/qv_main.mdb" "$mx/golden/db/qv_security.mdb" "$mx/$d/db/"; done
  QV_REGISTRY_FILE=$mx/q/registry.reg ODBCINI=$mx/q/odbc.ini "$qvsetup" /i Initialize >/dev/null
  ODBCINI=$mx/w/odbc.ini "$row_walk" >"$mx/walk.txt"
  problems=
  has() { sqlite3 "$mx/$1/db/qv_main.mdb" "SELECT count(*) FROM pragma_table_info('$2') WHERE lower(name) = lower('$3')"; }
  while read -r table old new outcome number; do
    if [ "$outcome" = OK ]; then
      [ "$(has q "$table" "$old")" -eq 0 ] || problems+="$table: $old kept although the walk copied it; "
    else
      # The walk failed (error $number): qvsetup must keep the old column
      # with its values and must not leave the new one behind.
      [ "$(has q "$table" "$old")" -eq 1 ] || problems+="$table: $old dropped although a value cannot convert; "
      [ "$(has q "$table" "$new")" -eq 0 ] || problems+="$table: $new left behind after a failed copy; "
      differ=$(sqlite3 :memory: "ATTACH '$mx/q/db/qv_main.mdb' AS a; ATTACH '$mx/golden/db/qv_main.mdb' AS g;
        SELECT count(*) FROM g.\"$table\" y LEFT JOIN a.\"$table\" x ON x.rowid = y.rowid
        WHERE x.rowid IS NULL OR x.\"$old\" IS NOT y.\"$old\" OR typeof(x.\"$old\") <> typeof(y.\"$old\")" 2>&1)
      [ "$differ" = 0 ] || problems+="$table: $old changed after a failed copy ($differ rows); "
    fi
  done <"$mx/walk.txt"
  # Where the walk copied, the values must be the walk's, row by row.
  while read -r table old new; do
    grep -q "^$table $old $new OK" "$mx/walk.txt" || continue
    differ=$(sqlite3 :memory: "ATTACH '$mx/q/db/qv_main.mdb' AS a; ATTACH '$mx/w/db/qv_main.mdb' AS b;
      SELECT count(*) FROM b.\"$table\" y LEFT JOIN a.\"$table\" x ON x.rowid = y.rowid
      WHERE x.rowid IS NULL OR x.\"$new\" IS NOT y.\"$new\" OR typeof(x.\"$new\") <> typeof(y.\"$new\")" 2>&1)
    [ "$differ" = 0 ] || problems+="$table.$new: $differ rows differ from the walk; "
  done < <(old_pairs "$mx/golden/db/qv_main.mdb")
  copied=$(grep -c ' OK$' "$mx/walk.txt" || true)
  failed=$(grep -c ' FAIL ' "$mx/walk.txt" || true)
  if [ -z "$problems" ] && [ "$failed" -gt 0 ] && [ "$copied" -gt 0 ]; then
    check "conversions: copy equals the row walk" pass \
      "$copied columns copied with the walk's values, $failed failing copies ($(grep ' FAIL ' "$mx/walk.txt" | awk '{ printf "%s%s.%s error %s", sep, $1, $2, $5; sep = ", " }')) kept the old column"
  else
    check "conversions: copy equals the row walk" FAIL "${problems:-the mixed data did not give both outcomes ($copied copied, $failed failed)}"
  fi
  rm -rf "$mx"
else
  check "conversions: copy equals the row walk" skipped "needs libqv_db.a of a build (--build)"
fi

# --- 3. Backup of a large main database ------------------------------------------------------
size=0
if wanted backup; then
log "backup: qvsetup /i Initialize /b on a $backup_mib MiB main database against cp"
bk=$work/backup
"$here/make_large_installation.sh" --mkinstall "$mkinstall" --mib "$backup_mib" "$bk" >/dev/null
size=$(stat -c %s "$bk/db/qv_main.mdb")
qvenv=(QV_REGISTRY_FILE="$bk/registry.reg" ODBCINI="$bk/odbc.ini")
for run in $(seq 0 "$runs"); do  # run 0 warms the caches and is not kept
  size=$(stat -c %s "$bk/db/qv_main.mdb")
  run_env=("${qvenv[@]}")
  measure backup "qvsetup /b" "$run" "$bk" "" "$qvsetup" /i Initialize /b
  run_env=()
  [ ! -s "$work/last.out" ] || { cat "$work/last.out" >&2; die "the backup run reported a failure"; }
  copies=("$bk"/db/BACK*/qv_main.mdb)
  [ -f "${copies[0]}" ] && [ "$(stat -c %s "${copies[0]}")" -eq "$size" ] || die "the backup run made no full copy"
  rm -rf "$bk"/db/BACK*
  run_env=("${qvenv[@]}")
  measure backup "qvsetup" "$run" "$bk" "" "$qvsetup" /i Initialize
  run_env=()
  mkdir "$bk/db/BACKcp"
  measure backup cp "$run" "$bk/db" "" cp qv_main.mdb qv_security.mdb BACKcp/
  rm -rf "$bk/db/BACKcp"
  mkdir "$bk/db/BACKcp"
  measure backup "cp + sync" "$run" "$bk/db" "" \
    sh -c 'cp qv_main.mdb qv_security.mdb BACKcp/ && sync BACKcp/qv_main.mdb BACKcp/qv_security.mdb'
  rm -rf "$bk/db/BACKcp"
done
sed -i '/^backup\t[^\t]*\t0\t/d' "$data"
rm -rf "$bk"
fi

# --- 4. The full run and the migration on a PostgreSQL server ---------------------------------------
if wanted server; then
  if command -v psql >/dev/null && psql -X -Atqc 'SELECT 1' >/dev/null 2>&1; then
    . "$here/server.sh"
  else
    log "server: no PostgreSQL server reachable (run inside pg_virtualenv): server part skipped"
    check "server part" skipped "no PostgreSQL server reachable"
  fi
fi

# --- Results -------------------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
secs() { awk -v s="$1" 'BEGIN { if (s < 1) printf "%.1f ms", s * 1000; else printf "%.2f s", s }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "**missed**") }'; }

results=$work/results.md
{
  echo "Generated by \`$invocation\`; medians of the runs shown, wall-clock time, peak resident memory from \`/usr/bin/time -v\`."
  echo
  machine_info
  echo
  echo "| Measurement | Command | Runs | Median time | Median peak RSS | Ratio | Target | Result |"
  echo "|---|---|---|---|---|---|---|---|"
  if [ "$(count_runs full qvsetup)" -gt 0 ]; then
    q=$(median full qvsetup 4) r=$(median full sqlite3 4)
    echo "| Full run, fresh installation | \`qvsetup /i Initialize /a\` | $(count_runs full qvsetup) | $(secs "$q") | $(mib "$(median full qvsetup 5)") MiB | $(ratio "$q" "$r") | ≤ 1.5 | $(verdict "$(ratio "$q" "$r")" 1.5) |"
    if [ "$(count_runs full before)" -gt 0 ]; then
      b=$(median full before 4)
      echo "| | the same with \`$before\` (before) | $(count_runs full before) | $(secs "$b") | $(mib "$(median full before 5)") MiB | $(ratio "$b" "$r") | | |"
    fi
    echo "| | \`sqlite3 -bail qv_main.mdb < full_run_reference.sql\` | $(count_runs full sqlite3) | $(secs "$r") | $(mib "$(median full sqlite3 5)") MiB | 1 | | |"
  fi
  prev_n= prev_t=
  for n in $sizes; do
    s="migration $n"
    q=$(median "$s" qvsetup 4) r=$(median "$s" sqlite3 4) rss=$(median "$s" qvsetup 5)
    target="—" result="(reported)"
    if [ "$n" -eq 1000000 ]; then target="≤ 1.5"; result=$(verdict "$(ratio "$q" "$r")" 1.5); fi
    rss_result=$(awk -v k="$rss" 'BEGIN { print (k < 32768 ? "met" : "**missed**") }')
    echo "| Migration, $n rows | \`qvsetup /i Initialize\` | $(count_runs "$s" qvsetup) | $(secs "$q") | $(mib "$rss") MiB | $(ratio "$q" "$r") | $target; RSS < 32 MiB | $result; RSS $rss_result |"
    echo "| | \`sqlite3 -bail qv_main.mdb < migration_reference.sql\` | $(count_runs "$s" sqlite3) | $(secs "$r") | $(mib "$(median "$s" sqlite3 5)") MiB | 1 | | |"
    if [ -n "$prev_n" ]; then
      growth=$(ratio "$q" "$prev_t") allowed=$(awk -v a="$n" -v b="$prev_n" 'BEGIN { printf "%.1f", 1.1 * a / b }')
      echo "| Growth $prev_n → $n rows | qvsetup time ratio | | | | $growth | ≤ $allowed (1.1 × rows) | $(verdict "$growth" "$allowed") |"
    fi
    prev_n=$n prev_t=$q
  done
  if [ "$(count_runs backup qvsetup)" -gt 0 ]; then
    q=$(median backup "qvsetup /b" 4) c=$(median backup cp 4) cs=$(median backup "cp + sync" 4) n=$(median backup qvsetup 4)
    echo "| Backup, $(awk -v s="$size" 'BEGIN { printf "%.0f", s / 1048576 }') MiB main database | \`qvsetup /i Initialize /b\` | $(count_runs backup "qvsetup /b") | $(secs "$q") | $(mib "$(median backup "qvsetup /b" 5)") MiB | $(ratio "$q" "$c") | ≤ 1.1 | $(verdict "$(ratio "$q" "$c")" 1.1) |"
    echo "| | \`cp qv_main.mdb qv_security.mdb BACKcp/\` | $(count_runs backup cp) | $(secs "$c") | $(mib "$(median backup cp 5)") MiB | 1 | | |"
    echo "| | \`cp ... && sync\` the two copies (as durable as the backup) | $(count_runs backup "cp + sync") | $(secs "$cs") | $(mib "$(median backup "cp + sync" 5)") MiB | $(ratio "$q" "$cs") (qvsetup /b : this) | | (reported) |"
    echo "| | \`qvsetup /i Initialize\` (same run without /b) | $(count_runs backup qvsetup) | $(secs "$n") | $(mib "$(median backup qvsetup 5)") MiB | | | (reported) |"
  fi
  if declare -F server_rows >/dev/null; then server_rows; fi
  echo
  echo "| Correctness check | Result | Detail |"
  echo "|---|---|---|"
  awk -F'\t' '{ printf "| %s | %s | %s |\n", $1, $2, $3 }' "$checks"
} >"$results"
cat "$results"

if [ "$update_readme" -eq 1 ]; then
  readme=$here/README.md
  grep -q '^<!-- results:begin -->$' "$readme" && grep -q '^<!-- results:end -->$' "$readme" ||
    die "$readme lacks the <!-- results:begin --> and <!-- results:end --> lines"
  awk -v file="$results" '
    /^<!-- results:begin -->$/ { print; while ((getline line < file) > 0) print line; skip = 1; next }
    /^<!-- results:end -->$/ { skip = 0 }
    !skip' "$readme" >"$readme.tmp"
  mv "$readme.tmp" "$readme"
  log "results written into $readme"
fi
! grep -q $'\tFAIL\t' "$checks"
