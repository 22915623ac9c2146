# The crash test's server mode, sourced by scripts/crash-test.sh --server
# (QVSETUP, MKINSTALL, CRASH_DIR, WORK, POINTS, KEEP, QUICK set). Kills the run
# at its own traced calls (every message to the server, every backup file)
# and restarts the server mid-run; then judges as the file mode does.

if ! psql -Atqc 'SELECT 1' >/dev/null 2>&1; then
  [ -n "${QV_CRASH_IN_CLUSTER:-}" ] && die "no server reachable inside the throw-away cluster"
  command -v pg_virtualenv >/dev/null || die "no server reachable and no pg_virtualenv (apt-get install postgresql)"
  export QV_CRASH_IN_CLUSTER=1
  rmdir "$WORK" 2>/dev/null
  exec pg_virtualenv -t -o shared_buffers=16MB "$0" "${ORIG_ARGS[@]}" --bin "$BIN"
fi
for tool in psql strace awk sed; do command -v "$tool" >/dev/null || die "needs $tool"; done

SET=sendto,openat,fsync,link,unlink,mkdir
RUN_ARGS=(/i Initialize /a /b)
PER_STEP=$([ "$QUICK" = 1 ] && echo 1 || echo 3)
[ "$QUICK" = 1 ] && POINTS=0
RESTARTS=$([ "$QUICK" = 1 ] && echo 2 || echo 6)
declare -A SPAN
PFX=qvcrash$$_
REF=$WORK/ref
mkdir -p "$REF" "$WORK/failed"
START=$(date +%s)
export TZ=UTC LC_ALL=C
# Without libpq's GSS probe every run makes the same calls: index N means one call.
export PGGSSENCMODE=disable
# The run's clock, masked in the values so that runs at different moments compare.
YEAR=$(date -u +%Y)
YEARS="$((YEAR - 1))|$YEAR|$((YEAR + 1))"
INST=$WORK/inst

# snapshot DB PREFIX: PREFIX.cols, .counts, .views and .vals (old_rows.awk).
snapshot() {
  local db=$1 prefix=$2 q
  local tables="SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' AND table_type = 'BASE TABLE'"
  sql -d "$db" -c "SELECT table_name || '|' || column_name FROM information_schema.columns WHERE table_schema = 'public' AND table_name IN ($tables) ORDER BY table_name, ordinal_position" >"$prefix.cols"
  sql -d "$db" -c "SELECT 'CREATE VIEW ' || viewname || ' AS ' || regexp_replace(definition, '\s+', ' ', 'g') FROM pg_views WHERE schemaname = 'public' ORDER BY viewname" >"$prefix.views"
  # One statement per table: its rows keyed by the primary key (or numbered).
  q=$(sql -d "$db" -c "
    SELECT string_agg(format(
      'SELECT %L || E''\t'' || k || E''\t'' || j.key || E''\t'' || j.value::text FROM (SELECT t, %s AS k FROM %I t) s, json_each(row_to_json(s.t)) j',
      c.relname,
      coalesce((SELECT 'concat_ws('','', ' || string_agg(format('t.%I', a.attname), ', ' ORDER BY a.attnum) || ')'
                FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY (i.indkey)
                WHERE i.indrelid = c.oid AND i.indisprimary), '''#'' || row_number() OVER ()'),
      c.relname), ' UNION ALL ' ORDER BY c.relname)
    FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace AND c.relkind = 'r'")
  sql -d "$db" -c "$q" | sed -E "s/\"($YEARS)-[0-9]{2}-[0-9]{2}T[0-9:]{8}\"/\"<clock>\"/g" | sort >"$prefix.vals"
  q=$(sql -d "$db" -c "SELECT string_agg(format('SELECT %L || '' '' || count(*) FROM %I', table_name, table_name), ' UNION ALL ') FROM ($tables) t")
  sql -d "$db" -c "$q" | sort >"$prefix.counts"
}

snapshot_both() {
  snapshot "${PFX}case_qv_main" "$1.qv_main"
  snapshot "${PFX}case_qv_security" "$1.qv_security"
}

fresh_case() {
  sql -d postgres -c "DROP DATABASE IF EXISTS ${PFX}case_qv_main WITH (FORCE)" \
    -c "DROP DATABASE IF EXISTS ${PFX}case_qv_security WITH (FORCE)" \
    -c "CREATE DATABASE ${PFX}case_qv_main TEMPLATE ${PFX}$1_qv_main" \
    -c "CREATE DATABASE ${PFX}case_qv_security TEMPLATE ${PFX}$1_qv_security" || die "cannot copy the $1 databases"
  rm -rf "$INST"
  cp -a "$WORK/tpl-$1" "$INST"
}

# errors PREFIX: the ERROR lines on standard input, added to run_case's errs.
errors() { while IFS= read -r f; do [ -n "$f" ] && errs+=("$1${f#ERROR }"); done < <(grep '^ERROR'); }

run_qvsetup() {
  env QV_REGISTRY_FILE="$INST/registry.reg" ODBCINI="$INST/odbc.ini" "$@"
}

cleanup() {
  local db
  for db in case_qv_main case_qv_security fresh_qv_main fresh_qv_security old_qv_main old_qv_security; do
    sql -d postgres -c "DROP DATABASE IF EXISTS ${PFX}$db WITH (FORCE)" >/dev/null 2>&1
  done
}
trap cleanup EXIT

echo "crash test (server): binaries in $(dirname "$QVSETUP"), scratch folder $WORK"
for kind in fresh old; do
  flag=""; [ "$kind" = old ] && flag=--old
  "$MKINSTALL" $flag --engine postgresql --prefix "${PFX}${kind}_" "$WORK/lay-$kind" >/dev/null ||
    die "qv-mkinstall failed"
  # Every case runs in one folder, on the case databases.
  mkdir -p "$WORK/tpl-$kind/db"
  sed "s#$WORK/lay-$kind#$INST#g" "$WORK/lay-$kind/registry.reg" >"$WORK/tpl-$kind/registry.reg"
  sed "s#${PFX}${kind}_#${PFX}case_#g" "$WORK/lay-$kind/odbc.ini" >"$WORK/tpl-$kind/odbc.ini"

  ref=$REF/$kind
  fresh_case "$kind"
  snapshot_both "$ref.base"
  run_qvsetup "$QVSETUP" "${RUN_ARGS[@]}" >"$ref.final.out" 2>/dev/null || die "$kind: uninterrupted run failed"
  snapshot_both "$ref.final"
  # The reference trace names the step of every call.
  fresh_case "$kind"
  run_qvsetup strace -k -o "$ref.ktrace" -e trace=$SET "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null 2>&1
  # Without -f (pg_dump's calls are not the run's): add the process column.
  sed -E 's/^([a-z0-9_]+\()/1 \1/' "$ref.ktrace" | awk -f "$CRASH_DIR/parse_trace.awk" >"$ref.calls"
  n1=$(wc -l <"$ref.calls")
  grep -q $'\tsample:' "$ref.calls" || die "$kind: nothing traced, or strace -k named no step"
  t0=$(date +%s%N)
  fresh_case "$kind"
  run_qvsetup "$QVSETUP" "${RUN_ARGS[@]}" >/dev/null 2>&1
  SPAN[$kind]=$(( ($(date +%s%N) - t0) / 1000 ))
  echo "  $kind installation: $n1 traced calls, a run takes $((SPAN[$kind] / 1000)) ms"
done

# run_case kill|restart KIND ARG: killed at traced call ARG, or the server
# restarted after ARG microseconds. Prints one result line.
run_case() {
  local mode=$1 kind=$2 arg=$3 ref=$REF/$2 cs=$WORK/case
  local errs=() step=restart name ord out rc f db pid
  rm -rf "$cs"; mkdir -p "$cs"
  fresh_case "$kind"
  if [ "$mode" = restart ]; then
    run_qvsetup "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/kill.out" 2>"$cs/kill.err" &
    pid=$!
    sleep "$(printf '%d.%06d' $((arg / 1000000)) $((arg % 1000000)))"
    restart_server
    wait "$pid"
    rc=$?
    [ $rc = 0 ] || errs+=("the run met the restart with exit status $rc")
  else
    read -r name ord step <<<"$(awk -F'\t' -v i="$arg" '$1 == i { print $2, $3, $4 }' "$ref.calls")"
    run_qvsetup strace -o "$cs/kill.trace" -e trace=$SET -e inject="$name":signal=SIGKILL:when="$ord" \
      "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/kill.out" 2>"$cs/kill.err"
    rc=$?
    [ $rc = 137 ] || errs+=("the run was not killed (exit status $rc)")
    out=$(awk '/^[a-z0-9_]+\(/ { n++; l = $1 } END { sub(/\(.*/, "", l); print n + 0, l }' "$cs/kill.trace")
    [ "$out" = "$arg $name" ] || errs+=("killed at traced call '$out', not at '$arg $name'")
    # A pg_dump that the killed run started holds table locks the second run would wait for.
    for _ in $(seq 300); do
      [ "$(sql -d postgres -c "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'pg_dump'")" = 0 ] && break
      sleep 0.1
    done
  fi
  snapshot_both "$cs/S"
  errors "sample data: " < <(awk -f "$CRASH_DIR/sample_areas.awk" "$ref.base.qv_main.counts" "$ref.final.qv_main.counts" "$cs/S.qv_main.counts")
  for db in qv_main qv_security; do
    errors "$db: " < <(for f in schema_states:cols views:views old_rows:vals; do
      awk -f "$CRASH_DIR/${f%:*}.awk" "$ref.base.$db.${f#*:}" "$ref.final.$db.${f#*:}" "$cs/S.$db.${f#*:}"
    done)
  done
  # A dump under its final name is whole.
  for f in "$INST"/db/BACK*/*.dump; do
    [ -f "$f" ] || continue
    pg_restore --list "$f" >/dev/null 2>&1 || errs+=("backup ${f##*/} is not a whole dump")
  done
  rm -rf "$INST"/db/BACK*

  # The second, uninterrupted run ends where an uninterrupted run ends.
  run_qvsetup "$QVSETUP" "${RUN_ARGS[@]}" >"$cs/second.out" 2>"$cs/second.err"
  rc=$?
  [ $rc = 0 ] || errs+=("the second run ended with status $rc")
  snapshot_both "$cs/F"
  for db in qv_main qv_security; do
    for f in cols views counts; do
      cmp -s "$cs/F.$db.$f" "$ref.final.$db.$f" ||
        errs+=("the second run ends elsewhere ($db.$f): $(diff "$ref.final.$db.$f" "$cs/F.$db.$f" | grep '^[<>]' | head -3 | cut -c1-160 | tr '\n' ' ')")
    done
    errors "after the second run, $db: " < <(awk -v strict=1 -f "$CRASH_DIR/old_rows.awk" \
      "$ref.base.$db.vals" "$ref.final.$db.vals" "$cs/F.$db.vals")
  done
  local verdict=PASS
  if [ ${#errs[@]} -gt 0 ]; then
    verdict=FAIL
    mv "$cs" "$WORK/failed/$mode-$kind-$arg"
  fi
  local IFS='|'
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$verdict" "$mode" "$kind" "$arg" "$step" "${errs[*]:-}"
}

: >"$WORK/cases"
for kind in fresh old; do
  awk -F'\t' -v points="$POINTS" -v per_step="$PER_STEP" '
    { calls++; n[$4]++; at[$4, n[$4]] = $1 }
    END {
      if (points > 0) for (j = 0; j < points && j < calls; j++) print 1 + int((2 * j + 1) * calls / (2 * points))
      for (s in n) {
        if (n[s] <= per_step) for (j = 1; j <= n[s]; j++) print at[s, j]
        else for (j = 0; j < per_step; j++) print at[s, 1 + int((2 * j + 1) * n[s] / (2 * per_step))]
      }
    }' "$REF/$kind.calls" | sort -n -u | awk -v k="$kind" '{ print "kill", k, $1 }' >>"$WORK/cases"
  for ((j = 1; j <= RESTARTS; j++)); do
    echo "restart $kind $((SPAN[$kind] * j / (RESTARTS + 1)))" >>"$WORK/cases"
  done
done
total=$(wc -l <"$WORK/cases")
echo "  [$(($(date +%s) - START)) s] $total cases"
while read -r mode kind arg; do
  run_case "$mode" "$kind" "$arg" </dev/null
done <"$WORK/cases" >"$WORK/results.tsv"

failed=$(grep -c '^FAIL' "$WORK/results.tsv")
kills=$(grep -c '^kill' "$WORK/cases")
passed=$(grep -c '^PASS' "$WORK/results.tsv")
if [ "$failed" -gt 0 ]; then
  echo "Failures (first 20; each case kept under $WORK/failed):"
  grep '^FAIL' "$WORK/results.tsv" | head -20 | awk -F'\t' '{ printf "  %s %s %s [%s]: %s\n", $2, $3, $4, $5, substr($6, 1, 600) }'
fi
if [ "$failed" -eq 0 ] && [ "$KEEP" = 0 ]; then rm -rf "$WORK"; else echo "Results: $WORK/results.tsv"; fi
echo "Time: $(($(date +%s) - START)) s"
echo "crash test (server): $total cases ($kills kill points, $((total - kills)) server restarts), $passed passed, $failed failed"
[ "$failed" -eq 0 ]
