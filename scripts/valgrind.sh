#!/usr/bin/env bash
# Runs the end-to-end tests and whole qvsetup runs under valgrind memcheck,
# on a plain Debug build in build-vg:
#   - qv_setup_tests, the end-to-end tests (and those of qv_reliability_tests
#     when it is built);
#   - qvsetup /i Initialize /a /b /d on a fresh installation (twice: the
#     second run finds every area filled) and on an older one, each laid out
#     by qv-mkinstall.
# Any memcheck error or definitely lost block fails the run. Prints one line
# per run and a summary line
#   valgrind: N runs, F failures
# and exits non-zero when any run had an error or a test failed. Each run's
# valgrind report is kept in build-vg/valgrind/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh valgrind

build=build-vg
jobs=${JOBS:-2}
logs=$build/valgrind
# Override to choose other tests, e.g. VG_TEST_FILTER='*' for all of them.
filter=${VG_TEST_FILTER:-*EndToEnd*}

echo "== Debug build in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=OFF >/dev/null
test_binaries=(qv_setup_tests)
targets=$(cmake --build "$build" --target help)
if grep -qw qv_reliability_tests <<<"$targets"; then
  test_binaries+=(qv_reliability_tests)
fi
cmake --build "$build" -j"$jobs" --target qvsetup qv-mkinstall "${test_binaries[@]}"

rm -rf "$logs"
mkdir -p "$logs"
valgrind_flags=(--tool=memcheck --error-exitcode=1 --leak-check=full
                --errors-for-leak-kinds=definite --show-leak-kinds=definite
                --track-origins=yes --num-callers=30)

runs=0
failed=0

# valgrind_run NAME COMMAND...: runs COMMAND under memcheck; its standard
# output and error go to $logs/NAME.out, valgrind's report to $logs/NAME.vg.
valgrind_run() {
  local name=$1
  shift
  runs=$((runs + 1))
  local status=0
  valgrind "${valgrind_flags[@]}" --log-file="$logs/$name.vg" "$@" >"$logs/$name.out" 2>&1 ||
    status=$?
  local errors lost
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$logs/$name.vg" | tail -n 1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$logs/$name.vg" | tail -n 1)
  errors=${errors:-?}
  lost=${lost:-0}
  if [ "$status" -eq 0 ] && [ "$errors" = 0 ]; then
    echo "$name: ok (0 errors, $lost bytes definitely lost)"
    return 0
  fi
  failed=$((failed + 1))
  echo "$name: FAILED (exit $status, $errors memcheck errors, $lost bytes definitely lost);" \
    "see $logs/$name.vg and $logs/$name.out"
  grep -E "^==[0-9]+== (Invalid|Conditional|Use of|Mismatched|Syscall|[0-9,]+ bytes in)" \
    "$logs/$name.vg" | head -n 5 || true
  grep -E "^\[  FAILED  \]" "$logs/$name.out" | head -n 5 || true
  return 0
}

# check NAME CONDITION-COMMAND...: a run that valgrind passed must also have
# done its work.
check() {
  local name=$1
  shift
  if ! "$@"; then
    failed=$((failed + 1))
    echo "$name: FAILED: the run did not do its work ($*)"
  fi
}

echo "== end-to-end tests ($filter)"
for t in "${test_binaries[@]}"; do
  valgrind_run "$t" "$build/tests/$t" --gtest_filter="$filter"
  # The setup tests hold end-to-end tests; the reliability tests may not.
  if ! grep -qE '^\[  PASSED  \] [1-9]' "$logs/$t.out"; then
    if [ "$t" = qv_setup_tests ]; then
      failed=$((failed + 1))
      echo "$t: FAILED: no test passed under $filter"
    else
      echo "$t: no test matched $filter"
    fi
  fi
done

echo "== qvsetup runs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows() { sqlite3 "$1" "SELECT count(*) FROM $2" 2>/dev/null || echo 0; }
for kind in fresh old; do
  dir=$work/$kind
  flags=()
  [ "$kind" = old ] && flags=(--old)
  "$build/qv-mkinstall" "${flags[@]}" "$dir" >/dev/null
  passes=(first)
  [ "$kind" = fresh ] && passes=(first second)
  for pass in "${passes[@]}"; do
    name=qvsetup-$kind-$pass
    QV_REGISTRY_FILE=$dir/registry.reg ODBCINI=$dir/odbc.ini TZ=Asia/Tokyo \
      valgrind_run "$name" "$build/qvsetup" /i Initialize /a /b /d
    check "$name" grep -q '^\[QvSetup\]$' "$logs/$name.out"
    check "$name" test "$(rows "$dir/db/qv_main.mdb" ScheduleEvent)" -gt 0
  done
  check "qvsetup-$kind" test "$(find "$dir/db" -maxdepth 1 -type d -name 'BACK*' | wc -l)" -ge 1
done

echo "valgrind: $runs runs, $failed failures"
[ "$failed" -eq 0 ]
