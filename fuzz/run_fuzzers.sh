#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan), replays the seed
# corpus through each, then fuzzes each for SECONDS (default 60):
#   fuzz/run_fuzzers.sh [SECONDS]
# New inputs go to a scratch copy of the corpus, never into fuzz/corpus.
# A finding stops the script with a failure; the input that caused it is
# kept under build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
CXX=${FUZZ_CXX:-clang++-14} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCONVERTERS_FUZZ=ON -DCONVERTERS_SANITIZE=ON -DCONVERTERS_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bitmap_pipeline_fuzzer whole_run_fuzzer >/dev/null
mkdir -p "$build/findings"
seeds=$PWD/fuzz/corpus
passed=0
failed=0
for target in bitmap_pipeline_fuzzer whole_run_fuzzer; do
  binary=$PWD/$build/fuzz/$target
  corpus=$(mktemp -d)
  cp "$seeds"/* "$corpus"/
  log=$PWD/$build/$target.log
  # Paths are absolute: the targets work in a directory of their own.
  if "$binary" -runs=0 "$seeds" >"$log" 2>&1 &&
     "$binary" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
       -artifact_prefix="$PWD/$build/findings/$target-" "$corpus" >>"$log" 2>&1; then
    passed=$((passed + 1))
    summary=$(grep -E '^#[0-9]+.*DONE' "$log" | tail -n 1 || true)
    execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$target: corpus replayed, fuzzed ${seconds} s, ${execs:-?} runs, no finding (${summary})"
  else
    failed=$((failed + 1))
    echo "$target: FINDING (log: $log)"
    grep -v -E "^'|^Couldn't|^File '|^Unexpected|^Image processing" "$log" | tail -n 40
  fi
  rm -rf "$corpus"
done
echo "fuzz targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
