#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, ASan + UBSan) and
# runs each for SECONDS (default 60), starting from the seeds in tests/fuzz/.
# Fails on any finding; the crashing input is left in build-fuzz/findings/
# (TAMLO_FUZZ_BUILD names another build folder).
#   scripts/fuzz.sh          # about a minute per target (what CI runs)
#   scripts/fuzz.sh 3600     # the longer run
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${TAMLO_FUZZ_BUILD:-build-fuzz}"  # another folder keeps a second checkout's run apart

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_volume fuzz_transfer_function fuzz_dds

mkdir -p "$build"/findings
status=0
for pair in volume:volume transfer_function:tf dds:dds; do
  target="fuzz_${pair%%:*}"
  seeds="tests/fuzz/corpus/${pair##*:}"
  work="$build/corpus/${target}"
  mkdir -p "$work"
  log="$build/${target}.log"
  # New inputs go to the working corpus; the seeds in the tree stay as they are.
  if "$build"/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$build"/findings/"$target"- "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "$target: FINDING (see $log and $build/findings/)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
