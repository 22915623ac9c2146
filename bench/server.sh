# The server part of the benchmarks, sourced by bench/run.sh when a
# PostgreSQL server is reachable (PGHOST, PGPORT, PGUSER, PGPASSWORD; e.g.
# inside pg_virtualenv). Uses run.sh's measure, median, check, log, die,
# work, runs, quick, mkinstall and qvsetup. Writes its rows of the results
# table to $work/server_results.md.
#
#
# Full run: `qvsetup /i Initialize /a` on a fresh installation on the
# server against one psql process replaying the rows that run leaves, table
# by table as row-by-row INSERTs (pg_dump --inserts), in the run's
# transactions (one per settings statement, one per sample-data area, one
# per migration step, the fifteen views dropped and created again in the
# last), on two connections (the main database, then \connect to the
# security database).
#
# Migration: `qvsetup /i Initialize` on an older installation on the server
# whose Public/Confirm tables hold N rows against psql running the same
# statements as bulk SQL in one transaction: drop the views, and per table
# add the new column, copy the old values with one UPDATE, drop the old
# column's index and the old column.
#
# Both sides run against a fresh copy of the same database (CREATE DATABASE
# ... TEMPLATE, untimed). The server keeps its default durability (fsync,
# synchronous_commit on) for both: pg_virtualenv turns fsync off unless told
# otherwise (-o fsync=on), and a server without it is refused here, since
# every commit then costs next to nothing and the ratios say little.

srv=$work/server
mkdir -p "$srv"
spfx=qvbench$$_
pg_sql() { PGOPTIONS='-c client_min_messages=warning' psql -X -Atq -v ON_ERROR_STOP=1 "$@"; }
for setting in fsync synchronous_commit; do
  [ "$(pg_sql -d postgres -c "SHOW $setting")" = on ] ||
    die "the server runs with $setting off: start it with it on (pg_virtualenv -o fsync=on)"
done
server_cleanup() {
  local db
  for db in $(pg_sql -d postgres -c "SELECT datname FROM pg_database WHERE datname LIKE '${spfx}%'" 2>/dev/null); do
    pg_sql -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" >/dev/null 2>&1
  done
}
trap server_cleanup EXIT
# copy_db TEMPLATE NAME: NAME afresh as a copy of TEMPLATE.
copy_db() {
  pg_sql -d postgres -c "DROP DATABASE IF EXISTS $2 WITH (FORCE)" -c "CREATE DATABASE $2 TEMPLATE $1" ||
    die "cannot copy the database $1"
}
# use_dbs DIR FROM TO: DIR's data-source file naming the databases TO... in
# place of the layout's FROM...
use_dbs() { sed -i "s#Database   = $2#Database   = $3#" "$1/odbc.ini"; }
# Row counts of every table and the names of the views of a database.
pg_counts() {
  pg_sql -d "$1" -c "SELECT table_name || ' ' || (xpath('/row/c/text()', query_to_xml(format('SELECT count(*) AS c FROM %I', table_name), false, true, '')))[1]::text FROM information_schema.tables WHERE table_schema = 'public' AND table_type = 'BASE TABLE' ORDER BY 1" \
    -c "SELECT 'view ' || viewname FROM pg_views WHERE schemaname = 'public' ORDER BY 1"
}
# The data of a database as one INSERT a line (newlines inside values as \001).
pg_rows() {
  pg_dump --data-only --inserts "$1" | awk '
    /^INSERT INTO / || open { rec = open ? rec "\001" $0 : $0; q += gsub(/\047/, "&"); open = 1
      if (q % 2 == 0 && $0 ~ /\);$/) { print rec; open = 0; q = 0 } }'
}
# The replay of the rows a run left in database $2 that $1 (the database as
# laid out) did not hold, one transaction per group (area_of below).
replay_rows() {
  pg_rows "$1" | sort >"$srv/before.rows"
  pg_rows "$2" | sort >"$srv/after.rows"
  comm -13 "$srv/before.rows" "$srv/after.rows" >"$srv/new.rows"
  comm -23 "$srv/before.rows" "$srv/after.rows" >"$srv/gone.rows"
  awk -v groups="$3" '
    function table(r) { t = r; sub(/^INSERT INTO public\./, "", t); sub(/ .*/, "", t); return t }
    function group(t,   i, n, p) {
      if (t == "company" || t == "contact" || t == "groups" || t == "businesstype") return "contact"
      n = split("schedule announce todo forum project resource doc", p, " ")
      for (i = 1; i <= n; i++) if (index(t, p[i]) == 1) return p[i]
      return t
    }
    FILENAME ~ /gone/ { changed[table($0)] = 1; next }
    FILENAME ~ /new/ { t = table($0); if (!changed[t]) add[group(t)] = add[group(t)] $0 "\n"; next }
    { t = table($0); if (changed[t]) { if (!(t in cleared)) { cleared[t] = 1; add[group(t)] = add[group(t)] "DELETE FROM public." t ";\n" } add[group(t)] = add[group(t)] $0 "\n" } }
    END {
      n = split(groups, order, " ")
      for (i = 1; i <= n; i++) if (order[i] in add) { printf "BEGIN;\n%sCOMMIT;\n", add[order[i]]; delete add[order[i]] }
      for (g in add) printf "BEGIN;\n%sCOMMIT;\n", add[g]
    }' "$srv/gone.rows" "$srv/new.rows" "$srv/after.rows" | tr '\001' '\n'
}

# --- Full run --------------------------------------------------------------------------
log "server: full run, qvsetup /i Initialize /a against psql replaying the same rows"
"$mkinstall" --engine postgresql --prefix "${spfx}tpl_" "$srv/tpl" >/dev/null || die "qv-mkinstall on the server failed"
for side in g q; do
  cp -a "$srv/tpl" "$srv/$side"
  use_dbs "$srv/$side" "${spfx}tpl_" "${spfx}${side}_"
done
copy_db "${spfx}tpl_qv_main" "${spfx}g_qv_main"
copy_db "${spfx}tpl_qv_security" "${spfx}g_qv_security"
QV_REGISTRY_FILE=$srv/g/registry.reg ODBCINI=$srv/g/odbc.ini "$qvsetup" /i Initialize /a >"$srv/g.out" 2>"$srv/g.err"
[ ! -s "$srv/g.out" ] || { cat "$srv/g.out" >&2; die "the server's full run reported a failure"; }
{
  replay_rows "${spfx}tpl_qv_main" "${spfx}g_qv_main" "emailadmin contact schedule announce todo forum project resource doc"
  # The migration: three steps with nothing to change, then the views.
  printf 'BEGIN;\nCOMMIT;\nBEGIN;\nCOMMIT;\nBEGIN;\nCOMMIT;\nBEGIN;\n'
  echo "DROP VIEW $(pg_sql -d "${spfx}g_qv_main" -c "SELECT string_agg(viewname, ', ') FROM pg_views WHERE schemaname = 'public'") CASCADE;"
  pg_dump --schema-only "${spfx}g_qv_main" | awk '/^CREATE VIEW / { on = 1 } on { print } on && /;$/ { on = 0 }'
  echo "COMMIT;"
} >"$srv/main.sql"
replay_rows "${spfx}tpl_qv_security" "${spfx}g_qv_security" "globalpref install" >"$srv/security.sql"
{ cat "$srv/main.sql"; echo "\\connect ${spfx}r_qv_security"; cat "$srv/security.sql"; } >"$srv/replay.sql"
full_runs=$runs
[ "$quick" -eq 1 ] || full_runs=$((runs * 3))
for run in $(seq 0 "$full_runs"); do  # run 0 warms the caches and is not kept
  for db in qv_main qv_security; do
    copy_db "${spfx}tpl_$db" "${spfx}q_$db"
    copy_db "${spfx}tpl_$db" "${spfx}r_$db"
  done
  run_env=(QV_REGISTRY_FILE="$srv/q/registry.reg" ODBCINI="$srv/q/odbc.ini")
  measure "server full" qvsetup "$run" "$srv/q" "" "$qvsetup" /i Initialize /a
  run_env=()
  [ ! -s "$work/last.out" ] || { cat "$work/last.out" >&2; die "the server's full run reported a failure"; }
  measure "server full" psql "$run" "$srv" "" psql -X -q -v ON_ERROR_STOP=1 -d "${spfx}r_qv_main" -f replay.sql
done
sed -i '/^server full\t[^\t]*\t0\t/d' "$data"
if diff <(pg_counts "${spfx}q_qv_main"; pg_counts "${spfx}q_qv_security") \
        <(pg_counts "${spfx}r_qv_main"; pg_counts "${spfx}r_qv_security") >"$srv/full.diff"; then
  check "server full run: the replay writes the same rows and views" pass \
    "row counts of every table and the views agree; $(grep -c '^BEGIN;' "$srv/main.sql") + $(grep -c '^BEGIN;' "$srv/security.sql") transactions, $(grep -c '^INSERT' "$srv/main.sql" "$srv/security.sql" | awk -F: '{ s += $2 } END { print s }') INSERTs"
else
  check "server full run: the replay writes the same rows and views" FAIL "$(tr '\n' ' ' <"$srv/full.diff")"
fi

# --- Migration -------------------------------------------------------------------------
server_sizes=$([ "$quick" -eq 1 ] && echo 10000 || echo "100000 1000000")
for n in $server_sizes; do
  log "server: migration, $n rows: qvsetup /i Initialize against psql running the same statements in bulk"
  t=${spfx}o${n}_
  rm -rf "$srv/old"
  "$mkinstall" --old --engine postgresql --prefix "$t" "$srv/old" >/dev/null || die "qv-mkinstall --old on the server failed"
  # N rows spread over the tables with Public or Confirm, every column
  # filled by its type, in one INSERT ... SELECT per table.
  pg_sql -d "${t}qv_main" -c "
    WITH tables AS (
      SELECT table_name, row_number() OVER (ORDER BY table_name) - 1 AS k, count(*) OVER () AS n
      FROM (SELECT DISTINCT table_name FROM information_schema.columns
            WHERE table_schema = 'public' AND column_name IN ('public', 'confirm')
              AND table_name IN (SELECT table_name FROM information_schema.tables WHERE table_type = 'BASE TABLE')) s)
    SELECT format('INSERT INTO %I (%s) SELECT %s FROM generate_series(1, %s) i;', t.table_name,
      string_agg(quote_ident(c.column_name), ', ' ORDER BY c.ordinal_position),
      string_agg(CASE
        WHEN c.column_name = 'public' THEN 'CASE WHEN i % 10 = 0 THEN NULL ELSE i % 2 END'
        WHEN c.column_name = 'confirm' THEN 'CASE WHEN i % 10 = 5 THEN NULL ELSE (i / 3) % 2 END'
        WHEN c.data_type LIKE 'timestamp%' THEN 'timestamp ''2001-01-01'' + ((i * 7919) % 631152000) * interval ''1 second'''
        WHEN c.data_type = 'text' THEN 'left(''Notes '' || i || '': minutes of the weekly meeting, the follow-up items for every team and the dates agreed with the customer.'', 80 + i % 60)'
        WHEN c.data_type LIKE 'character%' THEN format('left(%L || '' '' || i, %s)', c.column_name, coalesce(c.character_maximum_length, 50))
        WHEN c.column_name IN ('visible', 'stationid') THEN '1'
        WHEN c.column_name LIKE '%contactid' OR c.column_name = 'ownerid' THEN 'i % 5 + 1'
        WHEN c.data_type = 'smallint' THEN '(i + ' || c.ordinal_position || ') % 2'
        ELSE '(i * ' || (c.ordinal_position + 3) || ') % 97' END, ', ' ORDER BY c.ordinal_position),
      $n / t.n + CASE WHEN t.k < $n % t.n THEN 1 ELSE 0 END)
    FROM tables t JOIN information_schema.columns c ON c.table_name = t.table_name AND c.table_schema = 'public'
    WHERE c.is_identity = 'NO' AND c.column_default IS NULL
    GROUP BY t.table_name, t.k, t.n" >"$srv/fill.sql"
  pg_sql -d "${t}qv_main" -f "$srv/fill.sql" >/dev/null || die "cannot fill the older installation"
  pg_sql -d "${t}qv_main" -c "VACUUM ANALYZE" >/dev/null
  # The reference: the views, then per table the statements of the step.
  pg_sql -d "${t}qv_main" -c "
    SELECT 'BEGIN;' UNION ALL
    SELECT 'DROP VIEW IF EXISTS ' || string_agg(viewname, ', ') || ' CASCADE;' FROM pg_views WHERE schemaname = 'public'
    UNION ALL
    SELECT string_agg(s, E'\n' ORDER BY o) FROM (
      SELECT c.table_name AS tn, c.ordinal_position AS o,
        format('ALTER TABLE %I ADD COLUMN %I %s;', c.table_name, n.new, n.type) || E'\n' ||
        format('UPDATE %I SET %I = %I;', c.table_name, n.new, c.column_name) || E'\n' ||
        coalesce((SELECT string_agg(format('DROP INDEX %I;', indexname), E'\n') FROM pg_indexes i
                  WHERE i.tablename = c.table_name AND i.indexdef ~ ('\(' || c.column_name || '\)')), '') || E'\n' ||
        format('ALTER TABLE %I DROP COLUMN %I;', c.table_name, c.column_name) AS s
      FROM information_schema.columns c
      JOIN (VALUES ('public', 'shared', 'integer'), ('confirm', 'confirmation', 'smallint')) n(old, new, type) ON n.old = c.column_name
      WHERE c.table_schema = 'public' AND c.table_name IN (SELECT table_name FROM information_schema.tables WHERE table_type = 'BASE TABLE')) x
    GROUP BY tn
    UNION ALL SELECT 'COMMIT;'" >"$srv/migration.sql"
  sed -i "s#Database   = .*qv_main#Database   = ${spfx}mq_qv_main#; s#Database   = .*qv_security#Database   = ${spfx}mq_qv_security#" "$srv/old/odbc.ini"
  boxes=
  for run in $(seq 1 "$runs"); do
    copy_db "${t}qv_main" "${spfx}mq_qv_main"
    copy_db "${t}qv_security" "${spfx}mq_qv_security"
    copy_db "${t}qv_main" "${spfx}mr_qv_main"
    run_env=(QV_REGISTRY_FILE="$srv/old/registry.reg" ODBCINI="$srv/old/odbc.ini")
    measure "server migration $n" qvsetup "$run" "$srv/old" "" "$qvsetup" /i Initialize
    run_env=()
    # A failing step is recorded as a failed check, and the timing kept:
    # the steps before it did their work.
    [ ! -s "$work/last.out" ] || boxes=$(tr '\n' ' ' <"$work/last.out")
    measure "server migration $n" psql "$run" "$srv" "" psql -X -q -v ON_ERROR_STOP=1 -d "${spfx}mr_qv_main" -f migration.sql
  done
  if [ -z "$boxes" ]; then
    check "server migration $n: qvsetup shows no box" pass "every step succeeded"
  else
    check "server migration $n: qvsetup shows no box" FAIL "$boxes"
  fi
  # The new columns, table by table, in key order.
  digest() {
    pg_sql -d "$1" -c "SELECT format('SELECT %L || '' '' || %L || '' '' || coalesce(md5(string_agg(coalesce(%I::text, ''-''), '','' ORDER BY %I)), ''(empty)'') FROM %I;', c.table_name, c.column_name, c.column_name, k.column_name, c.table_name)
      FROM information_schema.columns c JOIN information_schema.columns k ON k.table_name = c.table_name AND k.table_schema = 'public' AND k.ordinal_position = 1
      WHERE c.table_schema = 'public' AND c.column_name IN ('shared', 'confirmation', 'public', 'confirm')
        AND c.table_name IN (SELECT table_name FROM information_schema.tables WHERE table_type = 'BASE TABLE') ORDER BY 1" |
      pg_sql -d "$1"
  }
  if diff <(digest "${spfx}mq_qv_main") <(digest "${spfx}mr_qv_main") >"$srv/mig.diff" &&
     ! grep -qE ' (public|confirm) ' <(digest "${spfx}mq_qv_main"); then
    check "server migration $n: new columns equal the reference's" pass "$(digest "${spfx}mq_qv_main" | wc -l) columns, every row in key order"
  else
    check "server migration $n: new columns equal the reference's" FAIL "$(tr '\n' ' ' <"$srv/mig.diff" | cut -c1-300)"
  fi
  for db in ${t}qv_main ${t}qv_security; do pg_sql -d postgres -c "DROP DATABASE $db WITH (FORCE)"; done
done

# --- Rows of the results table (called by run.sh's results) ------------------------------
server_rows() {
  q=$(median "server full" qvsetup 4) r=$(median "server full" psql 4)
  echo "| Server: full run, fresh installation | \`qvsetup /i Initialize /a\` | $(count_runs "server full" qvsetup) | $(secs "$q") | $(mib "$(median "server full" qvsetup 5)") MiB | $(ratio "$q" "$r") | ≤ 1.3 | $(verdict "$(ratio "$q" "$r")" 1.3) |"
  echo "| | \`psql\` replaying the same rows in the same transactions | $(count_runs "server full" psql) | $(secs "$r") | $(mib "$(median "server full" psql 5)") MiB | 1 | | |"
  prev_n= prev_t=
  for n in $server_sizes; do
    s="server migration $n"
    q=$(median "$s" qvsetup 4) r=$(median "$s" psql 4) rss=$(median "$s" qvsetup 5)
    target="—" result="(reported)"
    if [ "$n" -eq 1000000 ]; then target="≤ 1.5"; result=$(verdict "$(ratio "$q" "$r")" 1.5); fi
    rss_result=$(awk -v k="$rss" 'BEGIN { print (k < 32768 ? "met" : "**missed**") }')
    echo "| Server: migration, $n rows | \`qvsetup /i Initialize\` | $(count_runs "$s" qvsetup) | $(secs "$q") | $(mib "$rss") MiB | $(ratio "$q" "$r") | $target; RSS < 32 MiB | $result; RSS $rss_result |"
    echo "| | \`psql\` running the same statements in bulk | $(count_runs "$s" psql) | $(secs "$r") | $(mib "$(median "$s" psql 5)") MiB | 1 | | |"
    if [ -n "$prev_n" ]; then
      growth=$(ratio "$q" "$prev_t") allowed=$(awk -v a="$n" -v b="$prev_n" 'BEGIN { printf "%.1f", 1.1 * a / b }')
      echo "| Server: growth $prev_n → $n rows | qvsetup time ratio | | | | $growth | ≤ $allowed (1.1 × rows) | $(verdict "$growth" "$allowed") |"
    fi
    prev_n=$n prev_t=$q
  done
}
server_cleanup
rm -rf "$srv"
