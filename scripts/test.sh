#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a plain build, and a
# build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=${JOBS:-2}
for variant in plain sanitize; do
  dir=build-ci-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$variant" = sanitize ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
done
