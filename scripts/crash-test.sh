#!/usr/bin/env bash
# Crash test of a whole setup run. Kills `qvsetup /i Initialize /a /b` with
# SIGKILL at chosen system calls (strace fault injection) on a fresh and on an
# older installation, then checks what the run left behind: both databases
# intact, every sample-data area and every migration step all or nothing, no
# old value lost, the state equal to the one after the last committed
# transaction, a second run ending where an uninterrupted run ends, and that
# run's backup opening as the crashed state. Method: tests/crash/README.md.
#
#   scripts/crash-test.sh [--quick] [--points N] [--timed N] [--jobs N]
#                         [--build DIR | --bin DIR] [--work DIR] [--keep]
#                         [--server]
#
#   --server     the databases on a PostgreSQL server instead (the one PGHOST
#                names, else a throw-away cluster): kills in every step and
#                server restarts in the middle of runs; see tests/crash/server.sh
#   --quick      110 kill points per installation spread evenly over the run
#                (besides three in every step and one right after every
#                commit, which are always added), no timed kills: for CI
#   --points N   kill points per installation spread evenly over the run
#                (default 0: every traced call, exhaustive)
#   --timed N    also N kills per installation after a random delay with
#                kill -9 (default 40, 0 with --quick)
#   --jobs N     parallel workers (default $JOBS or 2)
#   --build DIR  build qvsetup and qv-mkinstall there (default build-crash)
#   --bin DIR    take the two binaries from DIR, build nothing
#   --work DIR   scratch folder, new or empty (default a new folder in
#                /dev/shm or /tmp)
#   --keep       keep the scratch folder (failed cases are kept in any case)
#
# Ends with "crash test: N kill points, P passed, F failed" and exits 1 when
# anything failed.
set -uo pipefail
# The braces make bash read the whole script before running it, so that an
# edit or a checkout during a run cannot change the running script.
{
ORIG_ARGS=("$@")
SERVER=0
QUICK=0
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CRASH_DIR=$ROOT/tests/crash
POINTS=0
TIMED=40
JOBS=${JOBS:-2}
BUILD=$ROOT/build-crash
BIN=""
WORK=""
KEEP=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) POINTS=110; TIMED=0; QUICK=1 ;;
    --server) SERVER=1 ;;
    --points) POINTS=$2; shift ;;
    --timed) TIMED=$2; shift ;;
    --jobs) JOBS=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --bin) BIN=$2; shift ;;
    --work) WORK=$2; shift ;;
    --keep) KEEP=1 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "crash-test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

die() { echo "crash-test: $*" >&2; exit 2; }
. "$CRASH_DIR/common.sh"
# strace and the sqlite3 shell besides what the build needs (installs only
# what is missing).
[ -x "$ROOT/scripts/install-deps.sh" ] && "$ROOT/scripts/install-deps.sh" strace >/dev/null
for tool in strace sqlite3 cmake awk sed cmp diff; do
  [ "$tool" = cmake ] && [ -n "$BIN" ] && continue
  command -v "$tool" >/dev/null || die "needs $tool (apt-get install strace sqlite3 cmake)"
done

if [ -z "$BIN" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || die "cmake failed"
  cmake --build "$BUILD" -j"$JOBS" --target qvsetup qv-mkinstall >/dev/null || die "build failed"
  BIN=$BUILD
fi
QVSETUP=$(cd "$BIN" && pwd)/qvsetup
MKINSTALL=$(cd "$BIN" && pwd)/qv-mkinstall
[ -x "$QVSETUP" ] && [ -x "$MKINSTALL" ] || die "no qvsetup and qv-mkinstall in $BIN"

scratch_folder qv-crash
if [ "$SERVER" = 1 ]; then
  . "$CRASH_DIR/server.sh"
  exit
fi
REF=$WORK/ref
mkdir -p "$REF" "$WORK/results" "$WORK/failed"
START=$(date +%s)

# The clock decides CreateDate and the relative dates of the sample rows;
# every run uses the same time zone, and date values of this year and its
# neighbours are masked when states of different runs are compared.
export TZ=UTC LC_ALL=C
YEAR=$(date -u +%Y)
YEARS="$((YEAR - 1))|$YEAR|$((YEAR + 1))"
KINDS="fresh old"
# The system calls that are counted and may be killed: every call that
# changes a file, plus opens and closes so that steps that only read are hit.
SET=openat,close,pwrite64,write,ftruncate,fsync,fdatasync,unlink,rename,mkdir,copy_file_range,sendfile
RUN_ARGS=(/i Initialize /a /b)

# snapshot DIR PREFIX INSTDIR: for both databases in DIR, PREFIX.<db>.integrity
# (PRAGMA integrity_check; opening the file rolls a hot journal beside it
# back), .cols ("table|column" lines), .dump (sqlite3 .dump with clock values
# and the installation folder masked), .counts (rows per table) and .vals
# (one value a line, keyed by rowid, for old_rows.awk).
snapshot() {
  local dir=$1 prefix=$2 inst=$3 db
  for db in qv_main qv_security; do
    if [ ! -f "$dir/$db.mdb" ]; then
      echo "file missing" >"$prefix.$db.integrity"
      : >"$prefix.$db.cols"; : >"$prefix.$db.dump"; : >"$prefix.$db.counts"; : >"$prefix.$db.vals"
      continue
    fi
    sqlite3 -batch "$dir/$db.mdb" "PRAGMA integrity_check;" \
      ".output $prefix.$db.cols" \
      "SELECT m.name || '|' || p.name FROM sqlite_master AS m JOIN pragma_table_info(m.name) AS p WHERE m.type = 'table' ORDER BY m.name, p.cid;" \
      ".output $prefix.$db.raw" ".dump" >"$prefix.$db.integrity" 2>&1
    sed -E -e "s/'($YEARS)-[0-9]{2}-[0-9]{2}( [0-9]{2}:[0-9]{2}:[0-9]{2})?'/'<clock>'/g" \
      -e "s#$inst#<inst>#g" "$prefix.$db.raw" >"$prefix.$db.dump"
    rm -f "$prefix.$db.raw"
    awk -f "$CRASH_DIR/counts.awk" "$prefix.$db.dump" >"$prefix.$db.counts"
    # Every value as "table TAB rowid TAB column TAB value", the value quoted
    # with its line breaks and tabs escaped, so that it stays on one line.
    sqlite3 -batch "$dir/$db.mdb" "$(sqlite3 -batch "$dir/$db.mdb" "SELECT group_concat(printf(
      'SELECT %Q || char(9) || rowid || char(9) || %Q || char(9) || replace(replace(replace(quote(\"%w\"), char(92), char(92, 92)), char(10), char(92, 110)), char(9), char(92, 116)) FROM \"%w\"',
      m.name, lower(p.name), p.name, m.name), ' UNION ALL ') FROM sqlite_master AS m JOIN pragma_table_info(m.name) AS p
      WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite_%'")" 2>&1 | sort >"$prefix.$db.vals"
  done
}

# same_dumps A B: true when both databases' dumps of the two snapshots match.
same_dumps() {
  cmp -s "$1.qv_main.dump" "$2.qv_main.dump" && cmp -s "$1.qv_security.dump" "$2.qv_security.dump"
}

# dump_diff A B: the first differing lines of the two snapshots, one line.
dump_diff() {
  local db
  for db in qv_main qv_security; do
    cmp -s "$1.$db.dump" "$2.$db.dump" && continue
    diff "$2.$db.dump" "$1.$db.dump" | grep '^[<>]' | head -4 | cut -c1-160 | tr '\n' ' '
    echo -n "($db) "
  done
}

# run_qvsetup INSTDIR ARGS...: an uninterrupted run on an installation.
run_qvsetup() {
  local inst=$1
  shift
  env QV_REGISTRY_FILE="$inst/registry.reg" ODBCINI="$inst/odbc.ini" "$@"
}

# Every worker has its own installation folder (the databases record it) and
# its own copies of the two reference states: base (laid out, never run) and
# final (after one uninterrupted run).
prepare_worker() {
  local wid=$1 w=$WORK/w$1 kind flag
  mkdir -p "$w"
  for kind in $KINDS; do
    flag=""; [ "$kind" = old ] && flag=--old
    rm -rf "$w/inst"
    "$MKINSTALL" $flag "$w/inst" >/dev/null || die "qv-mkinstall failed"
    mv "$w/inst" "$w/tpl-$kind"
    mkdir -p "$w/ref-$kind/base" "$w/ref-$kind/final"
    cp -p "$w/tpl-$kind/db/"*.mdb "$w/ref-$kind/base/"
    snapshot "$w/ref-$kind/base" "$w/ref-$kind/base" "$w/inst"
    cp -a "$w/tpl-$kind" "$w/inst"
    run_qvsetup "$w/inst" "$QVSETUP" "${RUN_ARGS[@]}" >"$w/ref-$kind/final.out" ||
      die "uninterrupted run failed"
    cp -p "$w/inst/db/"*.mdb "$w/ref-$kind/final/"
    snapshot "$w/ref-$kind/final" "$w/ref-$kind/final" "$w/inst"
    for db in qv_main qv_security; do
      [ "$(cat "$w/ref-$kind/final.$db.integrity")" = ok ] || die "$kind: $db broken after an uninterrupted run"
    done
    [ -s "$w/ref-$kind/final.out" ] && die "$kind: an uninterrupted run showed: $(head -3 "$w/ref-$kind/final.out")"
    if [ "$wid" != 0 ]; then
      same_dumps "$w/ref-$kind/final" "$WORK/w0/ref-$kind/final" ||
        die "$kind: uninterrupted runs in two folders differ: $(dump_diff "$w/ref-$kind/final" "$WORK/w0/ref-$kind/final")"
    fi
  done
}

# --- references -------------------------------------------------------------
echo "crash test: binaries in $BIN, scratch folder $WORK"
prepare_worker 0

for kind in $KINDS; do
  w=$WORK/w0
  # A second uninterrupted run, at least a second later, must give the same
  # masked state: proves that the masking covers every clock value.
  sleep 1.1
  rm -rf "$w/inst"; cp -a "$w/tpl-$kind" "$w/inst"
  run_qvsetup "$w/inst" "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null
  snapshot "$w/inst/db" "$REF/$kind.again" "$w/inst"
  same_dumps "$REF/$kind.again" "$w/ref-$kind/final" ||
    die "$kind: two uninterrupted runs differ: $(dump_diff "$REF/$kind.again" "$w/ref-$kind/final")"

  # The reference trace: every call of SET with the stack it was made from,
  # which names the step. The same command as the kill runs; -k only adds
  # the stacks.
  rm -rf "$w/inst"; cp -a "$w/tpl-$kind" "$w/inst"
  run_qvsetup "$w/inst" strace -f -k -o "$REF/$kind.ktrace" -e trace=$SET "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null ||
    die "$kind: traced run failed"
  awk -f "$CRASH_DIR/parse_trace.awk" "$REF/$kind.ktrace" >"$REF/$kind.calls"
  snapshot "$w/inst/db" "$REF/$kind.traced" "$w/inst"
  same_dumps "$REF/$kind.traced" "$w/ref-$kind/final" ||
    die "$kind: the traced run ends elsewhere: $(dump_diff "$REF/$kind.traced" "$w/ref-$kind/final")"
  # The count must not depend on the run: a second trace without stacks.
  rm -rf "$w/inst"; cp -a "$w/tpl-$kind" "$w/inst"
  run_qvsetup "$w/inst" strace -f -o "$REF/$kind.trace2" -e trace=$SET "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null
  n1=$(wc -l <"$REF/$kind.calls")
  n2=$(grep -cE '^[0-9]+ +[a-z0-9_]+\(' "$REF/$kind.trace2")
  [ "$n1" -gt 0 ] || die "$kind: nothing traced (strace output not understood)"
  [ "$n1" = "$n2" ] || die "$kind: $n1 traced calls in one run, $n2 in another"
done
pids=()
for ((i = 1; i < JOBS; i++)); do prepare_worker $i & pids+=($!); done
for pid in "${pids[@]}"; do wait "$pid" || die "a worker could not be prepared"; done

# Lookup tables: per kind and call index the name, its ordinal, the step and
# the number of commits made before it; the commit points.
declare -A CALL KBEFORE STEPORDER NCALLS COMMITLABEL
declare -a STEPS=()
for kind in $KINDS; do
  k=0
  last=0
  while IFS=$'\t' read -r idx name ord step commit path; do
    last=$idx
    CALL[$kind,$idx]="$name $ord $step"
    KBEFORE[$kind,$idx]=$k
    if [ "$commit" = 1 ]; then k=$((k + 1)); COMMITLABEL[$kind,$k]=$step; fi
    if [ -z "${STEPORDER[$step]:-}" ]; then STEPORDER[$step]=${#STEPS[@]}; STEPS+=("$step"); fi
  done <"$REF/$kind.calls"
  NCALLS[$kind]=$last
  KBEFORE[$kind,end]=$k
  [ "$k" -gt 0 ] || die "$kind: no commit seen (no rollback journal deleted: another journal mode?)"
  grep -q $'\tsample:' "$REF/$kind.calls" || die "$kind: strace -k named no step (no stack traces, or a stripped qvsetup?)"
  echo "  $kind installation: $last traced calls, $k commits"
done

# --- one case ---------------------------------------------------------------
# run_case MODE KIND ARG WID: MODE kill (ARG the index of the traced call at
# whose entry the run is killed), timed (ARG the delay in microseconds) or
# state (as kill, but only the crashed state is kept, as $REF/KIND.P<ARG2>).
# Prints one tab-separated result line.
run_case() {
  local mode=$1 kind=$2 arg=$3 wid=$4
  local w=$WORK/w$wid
  local inst=$w/inst cs=$w/case ref=$w/ref-$kind
  local errs=() step="-" k="-" name ord rc j f db out hot="" info=""
  rm -rf "$inst" "$cs"
  cp -a "$w/tpl-$kind" "$inst"
  mkdir -p "$cs"

  if [ "$mode" = timed ]; then
    step=timed
    env QV_REGISTRY_FILE="$inst/registry.reg" ODBCINI="$inst/odbc.ini" \
      "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/kill.out" 2>"$cs/kill.err" &
    local pid=$!
    sleep "$(printf '%d.%06d' $((arg / 1000000)) $((arg % 1000000)))"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rc=$?
    # A run that was over before the signal came is checked all the same,
    # but it is no crash: counted apart.
    [ $rc = 137 ] || step=timed-late
  else
    read -r name ord step <<<"${CALL[$kind,$arg]}"
    k=${KBEFORE[$kind,$arg]}
    run_qvsetup "$inst" strace -f -o "$cs/kill.trace" -e trace=$SET \
      -e inject="$name":signal=SIGKILL:when="$ord" "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/kill.out" 2>"$cs/kill.err"
    rc=$?
    [ $rc = 137 ] || errs+=("the run was not killed (exit status $rc)")
    out=$(awk '/^[0-9]+ +[a-z0-9_]+\(/ { n++; l = $2 } END { sub(/\(.*/, "", l); print n + 0, l }' "$cs/kill.trace")
    [ "$out" = "$arg $name" ] || errs+=("killed at traced call '$out', not at '$arg $name': the run is not repeatable")
  fi

  for j in "$inst"/db/*-journal; do [ -e "$j" ] && hot+="${j##*/}:$(stat -c %s "$j") "; done
  mkdir "$cs/crash"
  for f in "$inst"/db/qv_main.mdb* "$inst"/db/qv_security.mdb*; do [ -f "$f" ] && cp -p "$f" "$cs/crash/"; done
  # A copy with its journals, as a backup should take it: opening it rolls
  # the unfinished transaction back.
  snapshot "$cs/crash" "$cs/S" "$inst"
  if [ "$mode" = state ]; then
    [ ${#errs[@]} = 0 ] || echo "${errs[*]}" >>"$REF/$kind.P$5.bad"
    for db in qv_main qv_security; do
      cp "$cs/S.$db.dump" "$REF/$kind.P$5.$db.dump"
      [ "$(cat "$cs/S.$db.integrity")" = ok ] || echo "integrity" >>"$REF/$kind.P$5.bad"
    done
    return 0
  fi
  for db in qv_main qv_security; do
    out=$(tr '\n' ' ' <"$cs/S.$db.integrity")
    [ "$out" = "ok " ] || errs+=("$db after the crash: integrity_check says: ${out:0:200}")
  done

  # The state equals the one after the last transaction committed before the
  # kill (timed kills: after some commit of the uninterrupted run).
  if [ "$mode" = kill ]; then
    same_dumps "$cs/S" "$REF/$kind.P$k" ||
      errs+=("the crashed state is not the state after commit $k: $(dump_diff "$cs/S" "$REF/$kind.P$k")")
  else
    k=""
    for ((j = 0; j <= ${KBEFORE[$kind,end]}; j++)); do
      if same_dumps "$cs/S" "$REF/$kind.P$j"; then k=$j; break; fi
    done
    if [ -z "$k" ]; then
      errs+=("the crashed state is the state after no commit of an uninterrupted run: $(dump_diff "$cs/S" "$REF/$kind.P${KBEFORE[$kind,end]}")")
      k="-"
    fi
  fi

  # Sample areas all or nothing; tables and views of each migration step all
  # or nothing; old values kept.
  out=$(awk -f "$CRASH_DIR/sample_areas.awk" "$ref/base.qv_main.counts" "$ref/final.qv_main.counts" "$cs/S.qv_main.counts")
  while IFS= read -r f; do [ -n "$f" ] && errs+=("sample data: ${f#ERROR }"); done < <(grep '^ERROR' <<<"$out")
  info+="areas[$(grep -v '^ERROR' <<<"$out" | sed 's/: /=/' | tr '\n' ' ' | sed 's/ $//')] "
  for db in qv_main qv_security; do
    out=$(awk -f "$CRASH_DIR/schema_states.awk" "$ref/base.$db.cols" "$ref/final.$db.cols" "$cs/S.$db.cols"
      awk -f "$CRASH_DIR/views.awk" "$ref/base.$db.dump" "$ref/final.$db.dump" "$cs/S.$db.dump")
    while IFS= read -r f; do [ -n "$f" ] && errs+=("$db: ${f#ERROR }"); done < <(grep '^ERROR' <<<"$out")
    info+="$db[$(grep -v '^ERROR' <<<"$out" | tr '\n' ' ' | sed 's/ $//')] "
    if [ -f "$cs/crash/$db.mdb" ]; then
      out=$(awk -f "$CRASH_DIR/old_rows.awk" "$ref/base.$db.vals" "$ref/final.$db.vals" "$cs/S.$db.vals")
      while IFS= read -r f; do [ -n "$f" ] && errs+=("$db old values: ${f#ERROR }"); done < <(grep '^ERROR' <<<"$out")
    fi
  done

  # The killed run's own backup folder is moved aside, so that the second
  # run makes a new one even within the same second.
  mkdir "$cs/killed-backup"
  for f in "$inst"/db/BACK*; do [ -d "$f" ] && mv "$f" "$cs/killed-backup/"; done
  for f in "$cs"/killed-backup/*/*.mdb; do
    [ -f "$f" ] || continue
    if cmp -s "$f" "$ref/base/${f##*/}"; then :; elif [ ! -s "$f" ]; then info+="interrupted-backup-left-empty:${f##*/} "
    else info+="interrupted-backup-left-partial:${f##*/} "; fi
  done

  # The second, uninterrupted run, on the installation as the crash left it
  # (hot journals included).
  run_qvsetup "$inst" "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/second.out" 2>"$cs/second.err"
  rc=$?
  [ $rc = 0 ] || errs+=("the second run ended with status $rc")
  [ -s "$cs/second.out" ] && errs+=("the second run showed: $(head -c 200 "$cs/second.out" | tr '\n' ' ')")
  for j in "$inst"/db/*-journal; do [ -e "$j" ] && errs+=("journal ${j##*/} left after the second run"); done
  snapshot "$inst/db" "$cs/F" "$inst"
  for db in qv_main qv_security; do
    out=$(tr '\n' ' ' <"$cs/F.$db.integrity")
    [ "$out" = "ok " ] || errs+=("$db after the second run: integrity_check says: ${out:0:200}")
  done
  same_dumps "$cs/F" "$ref/final" ||
    errs+=("the second run ends elsewhere than an uninterrupted run: $(dump_diff "$cs/F" "$ref/final")")

  # The second run's backup, taken of the crashed installation, opens as the
  # crashed state: the hot journal must have been copied with the file.
  local backs=()
  for f in "$inst"/db/BACK*; do [ -d "$f" ] && backs+=("$f"); done
  if [ ${#backs[@]} != 1 ]; then
    errs+=("the second run made ${#backs[@]} backup folders")
  else
    mkdir "$cs/backup"
    cp -p "${backs[0]}"/* "$cs/backup/" 2>/dev/null
    for j in $hot; do
      # An empty journal holds nothing to roll back; any other must go along.
      [ "${j##*:}" = 0 ] && continue
      j=${j%%:*}
      [ -e "$cs/backup/$j" ] || errs+=("the backup taken after the crash left out the hot journal $j")
    done
    snapshot "$cs/backup" "$cs/K" "$inst"
    for db in qv_main qv_security; do
      out=$(tr '\n' ' ' <"$cs/K.$db.integrity")
      [ "$out" = "ok " ] || errs+=("backup of $db after the crash: integrity_check says: ${out:0:200}")
    done
    same_dumps "$cs/K" "$cs/S" ||
      errs+=("the backup taken after the crash does not open as the crashed state: $(dump_diff "$cs/K" "$cs/S")")
  fi

  local verdict=PASS
  if [ ${#errs[@]} -gt 0 ]; then
    verdict=FAIL
    rm -rf "$WORK/failed/$mode-$kind-$arg"
    mv "$cs" "$WORK/failed/$mode-$kind-$arg"
  fi
  local IFS='|'
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$verdict" "$mode" "$kind" "$arg" "$step" "$k" "${hot:--}" "$info" "${errs[*]:-}"
}

echo "  [$(($(date +%s) - START)) s] references ready"
# --- states after each commit -------------------------------------------------
# P0 is the laid-out installation; Pk the state a kill right after the k-th
# commit leaves (these runs are separate from the kill points below, which
# check against them); after the last commit, the final state.
for kind in $KINDS; do
  for db in qv_main qv_security; do cp "$WORK/w0/ref-$kind/base.$db.dump" "$REF/$kind.P0.$db.dump"; done
  k=0
  while IFS=$'\t' read -r idx name ord step commit path; do
    [ "$commit" = 1 ] || continue
    k=$((k + 1))
    if [ "$idx" -lt "${NCALLS[$kind]}" ]; then
      run_case state "$kind" $((idx + 1)) 0 $k </dev/null
      [ -e "$REF/$kind.P$k.bad" ] && die "$kind: the kill after commit $k: $(cat "$REF/$kind.P$k.bad")"
    else
      for db in qv_main qv_security; do cp "$WORK/w0/ref-$kind/final.$db.dump" "$REF/$kind.P$k.$db.dump"; done
    fi
  done <"$REF/$kind.calls"
  same_dumps "$REF/$kind.P$k" "$WORK/w0/ref-$kind/final" ||
    die "$kind: the state after the last commit is not the final state: $(dump_diff "$REF/$kind.P$k" "$WORK/w0/ref-$kind/final")"
done

echo "  [$(($(date +%s) - START)) s] states after each commit ready"
# --- kill points --------------------------------------------------------------
# Per kind: POINTS indices spread evenly over the traced calls (every call when
# 0), three spread evenly over the calls of every step (all of a step's calls
# when it has fewer), and the call right after every commit.
: >"$WORK/cases"
for kind in $KINDS; do
  awk -F'\t' -v points="$POINTS" -v per_step=3 '
    { calls++; n[$4]++; at[$4, n[$4]] = $1; if ($5 == 1) after[$1 + 1] = 1 }
    END {
      if (points <= 0 || points >= calls) for (i = 1; i <= calls; i++) print i
      else for (j = 0; j < points; j++) print 1 + int((2 * j + 1) * calls / (2 * points))
      for (s in n) {
        if (n[s] <= per_step) for (j = 1; j <= n[s]; j++) print at[s, j]
        else for (j = 0; j < per_step; j++) print at[s, 1 + int((2 * j + 1) * n[s] / (2 * per_step))]
      }
      for (i in after) if (i <= calls) print i
    }' "$REF/$kind.calls" | sort -n -u >"$WORK/points.$kind"
  awk -v k="$kind" '{ print "kill", k, $1 }' "$WORK/points.$kind" >>"$WORK/cases"
done
if [ "$TIMED" -gt 0 ]; then
  for kind in $KINDS; do
    # The shortest of three uninterrupted runs, in microseconds, sets the
    # range: on a busy machine a longer one would put many kills after the end.
    span=0
    for j in 1 2 3; do
      rm -rf "$WORK/w0/inst"; cp -a "$WORK/w0/tpl-$kind" "$WORK/w0/inst"
      t0=$(date +%s%N)
      run_qvsetup "$WORK/w0/inst" "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null
      t1=$(( ($(date +%s%N) - t0) / 1000 ))
      { [ $span = 0 ] || [ $t1 -lt $span ]; } && span=$t1
    done
    [ $span -gt 0 ] || span=1
    for ((j = 0; j < TIMED; j++)); do echo "timed $kind $(( (RANDOM * 32768 + RANDOM) % span ))"; done >>"$WORK/cases"
  done
fi
total=$(wc -l <"$WORK/cases")
echo "  $total cases ($(grep -c '^kill fresh' "$WORK/cases") + $(grep -c '^kill old' "$WORK/cases") kill points, $TIMED timed kills per installation), $JOBS workers"

worker() {
  local wid=$1 mode kind arg
  while read -r mode kind arg; do
    run_case "$mode" "$kind" "$arg" "$wid" </dev/null
  done < <(awk -v j="$JOBS" -v w="$wid" 'NR % j == w' "$WORK/cases") >"$WORK/results/w$wid.tsv"
}
pids=()
for ((i = 0; i < JOBS; i++)); do worker $i & pids+=($!); done
running() { local p; for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && return 0; done; return 1; }
while running; do
  sleep 10
  running && echo "  ... $(cat "$WORK"/results/*.tsv | wc -l) of $total cases done"
done
wait
cat "$WORK"/results/*.tsv >"$WORK/results.tsv"

# --- report ---------------------------------------------------------------------
echo
echo "Kill points per step (fresh / old installation; failed):"
printf '%s\n' "${STEPS[@]}" >"$WORK/steps"
awk -F'\t' '
  NR == FNR { steps[++n] = $0; next }
  $2 == "kill" { c[$5, $3]++; if ($1 == "FAIL") bad[$5]++ }
  END {
    for (i = 1; i <= n; i++) {
      s = steps[i]
      printf "  %-32s %5d / %5d   %d\n", s, c[s, "fresh"], c[s, "old"], bad[s]
    }
  }' "$WORK/steps" "$WORK/results.tsv"
if [ "$TIMED" -gt 0 ]; then
  echo "Timed kills by the state they left: after commit k of the uninterrupted run, made in step (count; failed):"
  for key in "${!COMMITLABEL[@]}"; do echo "${key%%,*} ${key#*,} ${COMMITLABEL[$key]}"; done >"$WORK/commit-labels"
  awk -F'\t' 'NR == FNR { split($0, f, " "); label[f[1], f[2]] = f[3]; next }
    $2 == "timed" { key = $3 " " $6; c[key]++; if ($1 == "FAIL") bad[key]++ }
    END {
      for (key in c) {
        split(key, f, " ")
        printf "  %-5s after commit %-3s %-30s %5d   %d\n", f[1], f[2], (f[2] == "0" ? "(none yet)" : label[f[1], f[2]]), c[key], bad[key]
      }
    }' "$WORK/commit-labels" "$WORK/results.tsv" | sort -k1,1 -k4,4n
fi
echo "Kill points that left a hot journal: $(awk -F'\t' '$7 != "-"' "$WORK/results.tsv" | wc -l)"
interrupted=$(grep -c 'interrupted-backup-left' "$WORK/results.tsv")
[ "$interrupted" -gt 0 ] && echo "Kill points inside the backup that left an empty or partial copy in its folder: $interrupted"

failed=$(grep -c '^FAIL' "$WORK/results.tsv")
kills=$(grep -c $'^[A-Z]*\tkill' "$WORK/results.tsv")
timed=$(awk -F'\t' '$2 == "timed" && $5 == "timed"' "$WORK/results.tsv" | wc -l)
late=$(awk -F'\t' '$5 == "timed-late"' "$WORK/results.tsv" | wc -l)
if [ "$failed" -gt 0 ]; then
  echo
  echo "Failures (first 20; each case kept under $WORK/failed):"
  grep '^FAIL' "$WORK/results.tsv" | head -20 |
    awk -F'\t' '{ printf "  %s %s %s [%s] k=%s journal=%s: %s\n", $2, $3, $4, $5, $6, $7, substr($9, 1, 600) }'
  echo "Failure reasons (counts):"
  grep '^FAIL' "$WORK/results.tsv" | cut -f9 | tr '|' '\n' |
    sed -E 's/^((sample data|qv_main|qv_security|qv_main old values|qv_security old values): [^:]*).*/\1/; t; s/: .*//' |
    sed -E 's/[0-9]+/N/g' | sort | uniq -c | sort -rn | head -15
fi
# Counted: every kill point, and every failure (a timed run that ended
# before its kill is no kill point, but its checks count all the same).
passed=$(awk -F'\t' '$1 == "PASS" && $5 != "timed-late"' "$WORK/results.tsv" | wc -l)
[ "$late" -gt 0 ] && echo "Timed kills that came after the run had ended (checked, not counted as kill points): $late"
if [ "$failed" -eq 0 ] && [ "$KEEP" = 0 ]; then rm -rf "$WORK"; else echo "Results: $WORK/results.tsv"; fi
echo "Time: $(($(date +%s) - START)) s"
echo "crash test: $((kills + timed)) kill points, $passed passed, $failed failed$([ "$timed" -gt 0 ] && echo " ($timed of them timed)")"
[ "$failed" -eq 0 ]
exit
}
