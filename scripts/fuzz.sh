#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a fixed
# time, starting from a copy of its corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh [SECONDS]          # seconds per target, default 30
#   scripts/fuzz.sh --update-corpus [SECONDS]
#                                      # also merge the inputs that reached new
#                                      # code back into fuzz/corpus/
#
# Prints each target's runs and one summary line
#   fuzz: 4 targets, N runs, K crashes
# and exits non-zero when any target crashed, leaked, ran out of memory or
# time, or broke one of its invariants. The input that did it is kept in
# build-fuzz/fuzz-artifacts/<target>/ and the fuzzer's output in
# build-fuzz/fuzz-logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

update=0
if [ "${1:-}" = "--update-corpus" ]; then
  update=1
  shift
fi
seconds=${1:-30}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [--update-corpus] [SECONDS]" >&2
  exit 2
fi

scripts/install-deps.sh clang libclang-rt-14-dev

build=build-fuzz
jobs=${JOBS:-2}
targets=(fuzz_command_line fuzz_registry fuzz_data_source fuzz_dialect)

echo "== fuzz build (clang, libFuzzer, ASan + UBSan) in $build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz -j"$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

total_runs=0
crashes=0
for t in "${targets[@]}"; do
  work=$build/fuzz-corpus/$t
  artifacts=$build/fuzz-artifacts/$t
  log=$build/fuzz-logs/$t.log
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  # The fuzzer adds to and reduces the corpus it is given: give it a copy.
  cp -R "fuzz/corpus/$t/." "$work/"
  seeds=$(find "$work" -type f | wc -l)
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")

  echo "== $t: ${seconds}s from $seeds seed inputs"
  status=0
  "$build/fuzz/$t" "$work" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  runs=${runs:-0}
  total_runs=$((total_runs + runs))
  found=$(find "$artifacts" -type f | wc -l)
  corpus=$(find "$work" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    crashes=$((crashes + 1))
    echo "$t: $runs runs, FAILED (exit $status); input kept in $artifacts, log in $log"
    grep -E "invariant broken|ERROR: |SUMMARY: |runtime error" "$log" | head -n 5 | cut -c1-400 || true
  else
    echo "$t: $runs runs in ${seconds}s, corpus $seeds -> $corpus, no crash"
  fi

  if [ "$update" -eq 1 ] && [ "$status" -eq 0 ]; then
    before=$(find "fuzz/corpus/$t" -type f | wc -l)
    "$build/fuzz/$t" -merge=1 "fuzz/corpus/$t" "$work" >>"$log" 2>&1
    after=$(find "fuzz/corpus/$t" -type f | wc -l)
    echo "$t: fuzz/corpus/$t $before -> $after inputs"
  fi
done

echo "fuzz: ${#targets[@]} targets, $total_runs runs, $crashes crashes"
[ "$crashes" -eq 0 ]
