#!/usr/bin/env bash
# Line coverage of src/ and tools/ by the whole test suite, on both engines
# (a throw-away cluster as in scripts/test.sh). Prints gcovr's summary and
# writes the per-file table to <build>/coverage.txt.
#   scripts/coverage.sh [build-folder]      (default build-cov)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-cov}
jobs=${JOBS:-2}
scripts/install-deps.sh gcovr
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DQV_COVERAGE=ON >/dev/null
cmake --build "$dir" -j"$jobs"
find "$dir" -name '*.gcda' -delete
pg_virtualenv -t -o shared_buffers=16MB -o fsync=off \
  bash -c "ctest --test-dir '$dir' --output-on-failure -j'$jobs'" >"$dir/ctest.log" 2>&1 ||
  { tail -40 "$dir/ctest.log"; echo "coverage.sh: tests failed (see $dir/ctest.log)" >&2; exit 1; }
grep -E 'tests passed|Skipped' "$dir/ctest.log" || true
gcovr --root . --filter 'src/' --filter 'tools/' --exclude-unreachable-branches \
  --txt "$dir/coverage.txt" --print-summary "$dir" | tail -3
