#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a plain build, and a
# build under AddressSanitizer and UndefinedBehaviorSanitizer. Each run has a
# throw-away PostgreSQL cluster of its own (pg_virtualenv), so that every
# case runs on both engines.
#
# QV_TEST_POSTGRES=off skips the server cases (for a machine without the
# server packages); CI (CI=true) refuses it, and fails a run in which any
# server case was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

ci=false
case "${CI:-}" in true | 1 | yes) ci=true ;; esac
if $ci && [ "${QV_TEST_POSTGRES:-}" = off ]; then
  echo "test.sh: QV_TEST_POSTGRES=off is not allowed in CI: the server cases must run" >&2
  exit 1
fi

jobs=${JOBS:-2}
for variant in plain sanitize; do
  dir=build-ci-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$variant" = sanitize ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  log="$dir/ctest.log"
  ctest_command="ctest --test-dir '$dir' --output-on-failure -j'$jobs'"
  if [ "${QV_TEST_POSTGRES:-}" = off ]; then
    bash -c "$ctest_command" 2>&1 | tee "$log"
  else
    # A small cluster: two of them may run on a build machine at once.
    pg_virtualenv -t -o shared_buffers=16MB bash -c "$ctest_command" 2>&1 | tee "$log"
  fi
  if $ci && grep -E '\(Skipped\)' "$log" | grep -qiE 'postgres|server'; then
    echo "test.sh: server cases were skipped; CI needs them to run" >&2
    exit 1
  fi
done
