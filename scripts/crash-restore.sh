#!/usr/bin/env bash
# Crash test of qv-restore. Lays out an older installation, upgrades it with
# `qvsetup /i Initialize /a /b` and kills `qv-restore BACK<stamp>` (or one of
# the programs it starts) with SIGKILL at chosen system calls; with --server
# also restarts the server mid-restore. After each kill: both databases whole,
# each exactly as after the upgrade or exactly as before it (qv_main never
# behind qv_security); the same restore run again exits 0 and leaves both as
# before the upgrade, with no .part or .restore file and no journal left.
#
#   scripts/crash-restore.sh [--server] [--quick] [--points N] [--restarts N]
#                            [--build DIR | --bin DIR] [--work DIR] [--keep]
#
#   --server     the databases on a PostgreSQL server (the one PGHOST names,
#                else a throw-away cluster from pg_virtualenv)
#   --quick      32 kill points spread evenly over all calls of the restore
#                and 32 over those that change something (12 each on a
#                server), besides the first call after each commit: for CI
#   --points N   as many of each (default 0: every traced call)
#   --restarts N server restarts at even moments of a restore (default 2)
#   --build DIR  build the three programs there (default build-crash)
#   --bin DIR    take qvsetup, qv-mkinstall and qv-restore from DIR
#   --work DIR   scratch folder, new or empty   --keep  keep it
#
# Ends with "restore crash test: N cases, P passed, F failed"; exit 1 on failure.
set -uo pipefail
{
ORIG_ARGS=("$@")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SERVER=0 QUICK=0 POINTS=0 RESTARTS=2 BUILD=$ROOT/build-crash BIN="" WORK="" KEEP=0
while [ $# -gt 0 ]; do
  case $1 in
    --server) SERVER=1 ;;
    --quick) POINTS=32; QUICK=1 ;;
    --points) POINTS=$2; shift ;;
    --restarts) RESTARTS=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --bin) BIN=$2; shift ;;
    --work) WORK=$2; shift ;;
    --keep) KEEP=1 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "crash-restore: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
die() { echo "crash-restore: $*" >&2; exit 2; }
. "$ROOT/tests/crash/common.sh"
for tool in strace sqlite3 awk sed cmp; do command -v "$tool" >/dev/null || die "needs $tool"; done
if [ -z "$BIN" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$BUILD" -j2 --target qvsetup qv-mkinstall qv-restore >/dev/null || die "build failed"
  BIN=$BUILD
fi
BIN=$(cd "$BIN" && pwd)
for p in qvsetup qv-mkinstall qv-restore; do [ -x "$BIN/$p" ] || die "no $p in $BIN"; done
if [ "$SERVER" = 1 ] && ! psql -Atqc 'SELECT 1' >/dev/null 2>&1; then
  [ -n "${QV_CRASH_IN_CLUSTER:-}" ] && die "no server reachable inside the throw-away cluster"
  export QV_CRASH_IN_CLUSTER=1
  exec pg_virtualenv -t -o shared_buffers=16MB "$0" "${ORIG_ARGS[@]}" --bin "$BIN"
fi
scratch_folder qv-restore-crash
export TZ=UTC LC_ALL=C PGGSSENCMODE=disable
INST=$WORK/inst REF=$WORK/ref
mkdir -p "$REF" "$WORK/failed"
START=$(date +%s)
run() { env QV_REGISTRY_FILE="$INST/registry.reg" ODBCINI="$INST/odbc.ini" "$@"; }

if [ "$SERVER" = 1 ]; then
  # A restore on a server takes seconds: fewer points keep --quick short.
  [ "$QUICK" = 1 ] && POINTS=12
  PFX=qvrestore$$_
  # Every message to the server, every write (pg_restore into its pipe, psql's
  # input) and every file of the safety backup.
  SET=sendto,write,openat,fsync,unlink,rename,link,mkdir
  # state DB OUT: the schema as pg_dump writes it, then every row (prefixed
  # with its table, sorted) and every sequence's value.
  state() {
    { pg_dump --schema-only -d "${PFX}case_$1" && pg_dump --data-only -d "${PFX}case_$1" |
        awk '/^COPY / { t = $2 } { print (t == "" ? "" : t "\t") $0 } /^\\\.$/ { t = "" }' | sort
    } 2>"$2.err" | grep -Ev '^(--.*)?$|^\\(un)?restrict ' >"$2" && ! [ -s "$2.err" ] ||
      echo "$1 is not whole: pg_dump says $(head -c 300 "$2.err")"
  }
  copy_dbs() { # FROM TO
    for db in qv_main qv_security; do
      sql -d postgres -c "DROP DATABASE IF EXISTS ${PFX}$2_$db WITH (FORCE)" \
        -c "CREATE DATABASE ${PFX}$2_$db TEMPLATE ${PFX}$1_$db" || die "cannot copy $db"
    done
  }
  reset() { copy_dbs snap case; rm -rf "$INST"; cp -a "$WORK/tpl" "$INST"; }
  # A killed restore's children (psql, pg_restore, pg_dump) end on their own;
  # until then the next restore would find them connected.
  settle() {
    for _ in $(seq 300); do
      [ "$(sql -d postgres -c "SELECT count(*) FROM pg_stat_activity WHERE datname LIKE '${PFX}case%'")" = 0 ] && return
      sleep 0.1
    done
  }
  cleanup() { for db in case_qv_main case_qv_security snap_qv_main snap_qv_security; do
    sql -d postgres -c "DROP DATABASE IF EXISTS ${PFX}$db WITH (FORCE)" >/dev/null 2>&1; done; }
  trap cleanup EXIT
  "$BIN/qv-mkinstall" --old --engine postgresql --prefix "${PFX}case_" "$INST" >/dev/null || die "qv-mkinstall failed"
else
  # Every call that changes a file. No openat: looking for users opens a file
  # per process on the machine, so its count changes from run to run.
  SET=write,pwrite64,ftruncate,fchmod,fsync,fdatasync,unlink,rename,link,mkdir,copy_file_range,sendfile
  # state DB OUT: the file copied with its journal (opening the copy rolls a
  # hot journal back, as the next opener would), checked, dumped whole.
  state() {
    local c=$WORK/check f
    rm -rf "$c"; mkdir -p "$c"
    for f in "$1.mdb" "$1.mdb-journal" "$1.mdb-wal"; do [ -f "$INST/db/$f" ] && cp -p "$INST/db/$f" "$c/"; done
    [ -f "$c/$1.mdb" ] || { echo "$1.mdb is missing"; return; }
    f=$(sqlite3 -batch "$c/$1.mdb" "PRAGMA integrity_check;" 2>&1 | tr '\n' ' ')
    [ "$f" = "ok " ] || echo "$1 is not whole: integrity_check says ${f:0:300}"
    sqlite3 -batch "$c/$1.mdb" .dump >"$2" 2>&1
  }
  reset() { rm -rf "$INST"; cp -a "$WORK/tpl" "$INST"; }
  settle() { :; }
  "$BIN/qv-mkinstall" --old "$INST" >/dev/null || die "qv-mkinstall failed"
fi

# --- the two states and the snapshot ----------------------------------------
for db in qv_main qv_security; do
  out=$(state $db "$REF/before.$db"); [ -z "$out" ] || die "before: $out"
done
run "$BIN/qvsetup" /i Initialize /a /b >"$REF/setup.out" 2>&1 || die "qvsetup failed: $(head -3 "$REF/setup.out")"
for db in qv_main qv_security; do
  out=$(state $db "$REF/after.$db"); [ -z "$out" ] || die "after: $out"
  cmp -s "$REF/before.$db" "$REF/after.$db" && die "$db: the upgrade changed nothing"
done
BACK=$(cd "$INST/db" && ls -d BACK*)
[ "$(echo "$BACK" | wc -l)" = 1 ] || die "not one backup folder after qvsetup /b: $BACK"
cp -a "$INST" "$WORK/tpl"
[ "$SERVER" = 1 ] && copy_dbs case snap
KEPT_FILES=$(ls -A "$INST/db/$BACK" | tr '\n' ' ')
# A restore in the backup's own second would find its folder name taken and
# wait for the next one: a call more than in a later run.
sleep 1.1

# where: each database's state, "before", "after" or what is wrong with it.
where() {
  local db out s=()
  for db in qv_main qv_security; do
    out=$(state $db "$WORK/now.$db")
    if [ -n "$out" ]; then s+=("$out")
    elif cmp -s "$WORK/now.$db" "$REF/before.$db"; then s+=(before)
    elif cmp -s "$WORK/now.$db" "$REF/after.$db"; then s+=(after)
    else s+=("$db neither before nor after: $(diff "$REF/before.$db" "$WORK/now.$db" | grep '^[<>]' | head -3 | cut -c1-120 | tr '\n' ' ')")
    fi
  done
  echo "${s[0]}/${s[1]}"
}

# The reference restore, traced: every call of SET in every process, as
# "name ordinal" (strace counts when= per process and call name: a point is
# the call that first reaches it), "w" for one that changes something (all but
# an openat for reading), 1 for the first one after a rename or a COMMIT.
reset
t0=$(date +%s%N)
run strace -f -o "$REF/trace" -e trace=$SET "$BIN/qv-restore" "$BACK" >"$REF/restore.out" 2>&1 ||
  die "the traced restore failed: $(head -3 "$REF/restore.out")"
SPAN=$(( ($(date +%s%N) - t0) / 1000 ))
settle
[ "$(where)" = before/before ] || die "the traced restore ends elsewhere: $(where)"
awk '/^[0-9]+ +[a-z0-9_]+\(/ { n = $2; sub(/\(.*/, "", n); k = n " " (++c[$1, n])
  if (!seen[k]++) { print k, (n != "openat" || /O_WRONLY|O_RDWR|O_CREAT/ ? "w" : "r"), after; after = 0 }
  if (/^[0-9]+ +rename\(|COMMIT/) after = 1 }' "$REF/trace" >"$REF/calls"
total=$(wc -l <"$REF/calls")
[ "$total" -gt 0 ] || die "nothing traced"
# The points: POINTS spread evenly over all calls, as many again over the
# calls that change something (all of them when POINTS is 0), and the first
# point after each database is replaced (a rename, a COMMIT).
awk -v p="$POINTS" '{ all[++n] = $1 " " $2; if ($3 == "w") w[++m] = $1 " " $2; if ($4) print "kill", $1, $2 }
  function spread(a, n, p,  j) { if (p == 0 || p > n) p = n
    for (j = 0; j < p; j++) print "kill", a[1 + int((2 * j + 1) * n / (2 * p))] }
  END { spread(all, n, p); spread(w, m, p) }' "$REF/calls" | awk '!seen[$0]++' >"$WORK/cases"
if [ "$SERVER" = 1 ]; then
  for ((j = 1; j <= RESTARTS; j++)); do echo "restart $((SPAN * j / (RESTARTS + 1)))" >>"$WORK/cases"; done
fi
echo "restore crash test ($([ "$SERVER" = 1 ] && echo server || echo files)): $total distinct kill points" \
  "traced, a restore takes $((SPAN / 1000)) ms, $(wc -l <"$WORK/cases") cases; scratch folder $WORK"

# --- one case ---------------------------------------------------------------
run_case() {
  local mode=$1 a=$2 b=${3:-} cs=$WORK/case errs=() s rc left kept f crashed
  rm -rf "$cs"; mkdir -p "$cs"
  reset
  if [ "$mode" = kill ]; then
    run strace -f -o "$cs/trace" -e trace=$SET -e inject="$a":signal=SIGKILL:when="$b" \
      "$BIN/qv-restore" "$BACK" >"$cs/kill.out" 2>&1
    grep -q 'killed by SIGKILL' "$cs/trace" || errs+=("no process was killed")
  else
    run "$BIN/qv-restore" "$BACK" >"$cs/kill.out" 2>&1 &
    sleep "$(printf '%d.%06d' $((a / 1000000)) $((a % 1000000)))"
    restart_server
    wait $!
  fi
  settle
  s=$(where) crashed=$s
  case $s in
    before/before|after/after|before/after) ;;
    *) errs+=("after the crash: $s") ;;
  esac
  run "$BIN/qv-restore" "$BACK" >"$cs/again.out" 2>&1
  rc=$?
  [ $rc = 0 ] || errs+=("the second restore exits $rc: $(head -c 300 "$cs/again.out" | tr '\n' ' ')")
  settle
  s=$(where)
  [ "$s" = before/before ] || errs+=("after the second restore: $s")
  # The database folder holds the databases, the lock and backup folders
  # only; the backup restored from is untouched; the second restore's own
  # backup is complete; one a killed restore began may keep a .part, but a
  # file under its final name is whole.
  left=$(ls -A "$INST/db" | grep -Ev '^(qv_main\.mdb|qv_security\.mdb|qvsetup\.lock|BACK[0-9-]+)$' | tr '\n' ' ')
  [ -z "$left" ] || errs+=("left in the database folder: $left")
  diff -r "$WORK/tpl/db/$BACK" "$INST/db/$BACK" >/dev/null || errs+=("$BACK changed")
  kept=$(sed -n 's#^the state before the restore is kept in .*/##p' "$cs/again.out")
  left=$(cd "$INST/db/${kept:-none}" 2>/dev/null && ls -A | tr '\n' ' ')
  [ "$left" = "$KEPT_FILES" ] || errs+=("the second restore kept '$left' in '$kept'")
  for f in "$INST"/db/BACK*/qv_*; do
    case $f in
      *.part) [ "${f%/*}" = "$INST/db/$kept" ] && errs+=("$f left") ;;
      *.mdb) [ "$(sqlite3 -readonly "$f" 'PRAGMA quick_check' 2>&1)" = ok ] || errs+=("$f is not whole") ;;
      *.dump) pg_restore --list "$f" >/dev/null 2>&1 || errs+=("$f is not whole") ;;
    esac
  done
  if [ ${#errs[@]} -gt 0 ]; then
    cp -a "$INST" "$cs/inst"; mv "$cs" "$WORK/failed/$mode-$a${b:+-$b}"
    printf 'FAIL %s %s %s: %s\n' "$mode" "$a" "$b" "${errs[*]}"
  else
    printf 'PASS %s %s %s %s\n' "$mode" "$a" "$b" "$crashed"
  fi
}

while read -r mode a b; do run_case "$mode" "$a" "$b" </dev/null; done <"$WORK/cases" >"$WORK/results"
failed=$(grep -c '^FAIL' "$WORK/results")
passed=$(grep -c '^PASS' "$WORK/results")
grep '^FAIL' "$WORK/results" | head -20 | cut -c1-700
echo "States left (qv_main/qv_security):" $(awk '$1 == "PASS" { n[$NF]++ } END { for (s in n) print n[s], s }' "$WORK/results" | sort -k2)
if [ "$failed" = 0 ] && [ "$KEEP" = 0 ]; then rm -rf "$WORK"; else echo "Results: $WORK/results"; fi
echo "Time: $(($(date +%s) - START)) s"
echo "restore crash test: $((passed + failed)) cases, $passed passed, $failed failed"
[ "$failed" = 0 ]
exit
}
