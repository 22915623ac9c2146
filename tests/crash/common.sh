# What the crash tests of a run (scripts/crash-test.sh, tests/crash/server.sh)
# and of a restore (scripts/crash-restore.sh) share; sourced, with `die`
# defined by the caller.

# scratch_folder NAME: sets WORK to a new folder NAME.XXXXXX, in RAM where it
# can (a kill only ever loses what a process has not yet handed to the
# kernel, so the medium does not matter, and fsync is cheap there), or checks
# that the WORK given is new or empty.
scratch_folder() {
  if [ -z "$WORK" ]; then
    local tmp=/tmp
    [ -d /dev/shm ] && [ -w /dev/shm ] && tmp=/dev/shm
    WORK=$(mktemp -d "$tmp/$1.XXXXXX")
  else
    [ -d "$WORK" ] && [ -n "$(ls -A "$WORK")" ] && die "--work $WORK: not empty"
    mkdir -p "$WORK"
  fi
  WORK=$(cd "$WORK" && pwd)
}

# psql as the checks use it: unaligned, quiet, stopping at the first error.
sql() { PGOPTIONS='-c client_min_messages=warning' psql -X -Atq -v ON_ERROR_STOP=1 "$@"; }

# Restarts the server the environment names (the throw-away cluster of
# pg_virtualenv, else the data directory it reports) and waits until it
# answers again.
restart_server() {
  if [ -n "${PG_CLUSTER_CONF_ROOT:-}" ] && command -v pg_ctlcluster >/dev/null; then
    pg_ctlcluster "${PGVERSION:-$(pg_lsclusters -h | awk 'NR == 1 { print $1 }')}" regress restart -m fast >/dev/null 2>&1
  else
    pg_ctl restart -D "$(sql -d postgres -c 'SHOW data_directory')" -m fast -w >/dev/null 2>&1
  fi
  for _ in $(seq 100); do sql -d postgres -c 'SELECT 1' >/dev/null 2>&1 && return 0; sleep 0.1; done
  die "the server did not come back after a restart"
}
