#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, ASan + UBSan) and
# runs them, starting from the seeds in tests/fuzz/: the volume file and the
# scan readers (the files users open) SECONDS each (default 60), the .tf and
# DDS readers half as long.
# Fails on any finding. Each finding's input is kept in build-fuzz/findings/
# (TAMLO_FUZZ_BUILD names another build folder) and named in the report with
# the command that replays it.
#   scripts/fuzz.sh          # about a minute per target (what CI runs)
#   scripts/fuzz.sh 3600     # the longer run
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${TAMLO_FUZZ_BUILD:-build-fuzz}"  # another folder keeps a second checkout's run apart
# No input here takes more than a fraction of a second, sanitizers and a
# busy machine included: one that runs this long is a hang.
timeout_s="${TAMLO_FUZZ_TIMEOUT:-5}"

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_volume fuzz_scan fuzz_tiff fuzz_zarr fuzz_transfer_function fuzz_dds

mkdir -p "$build"/findings
status=0
found=()
for pair in volume:volume scan:scan tiff:tiff zarr:zarr transfer_function:tf dds:dds; do
  target="fuzz_${pair%%:*}"
  seeds="tests/fuzz/corpus/${pair##*:}"
  work="$build/corpus/${target}"
  mkdir -p "$work"
  log="$build/${target}.log"
  time=$seconds
  options=()
  # The scan readers send the process's output to a file while they run:
  # a sanitizer's report goes to its own file instead, so it is not lost.
  sanitizer="log_path=$build/${target}.report"
  case $target in
    fuzz_transfer_function | fuzz_dds) time=$(((seconds + 1) / 2)) ;;
    # ITK's NRRD library leaks on its error paths (in the programs each scan
    # is read by a child process that then exits).
    fuzz_scan | fuzz_tiff) options=(-detect_leaks=0) sanitizer+=":detect_leaks=0" ;;
  esac
  rm -f "$build/${target}.report".*
  stamp="$build/findings/.${target}.start"
  touch "$stamp"
  # New inputs go to the working corpus; the seeds in the tree stay as they are.
  if ASAN_OPTIONS="$sanitizer" "$build"/tests/fuzz/"$target" "${options[@]}" -max_total_time="$time" \
       -timeout="$timeout_s" -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build"/findings/"$target"- "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ${runs:-?} executions in ${time} s, no finding"
  else
    status=1
    echo "$target: FINDING"
    tail -n 40 "$log"
    cat "$build/${target}.report".* 2>/dev/null | head -n 60
    # What the run left: crash-, timeout-, oom-, leak- or slow-unit- inputs.
    inputs=$(find "$build/findings" -maxdepth 1 -type f -name "${target}-*" -newer "$stamp" | sort)
    [ -n "$inputs" ] || found+=("$target: no input was kept (see $log)")
    for input in $inputs; do
      kind=$(basename "$input" | sed "s/^${target}-//; s/-[0-9a-f]*\$//")
      found+=("$target: $kind on a $(stat -c %s "$input")-byte input, kept as $input")
      found+=("    replay: $build/tests/fuzz/$target ${options[*]} $input")
    done
    found+=("    log: $log")
  fi
  rm -f "$stamp"
done
if [ $status -ne 0 ]; then
  echo
  echo "==== FUZZ FINDINGS (timeout: an input ran past ${timeout_s} s) ===="
  printf '%s\n' "${found[@]}"
  echo "Mend the reader, then keep each input as a seed (tests/fuzz/corpus/<target>/) with a test."
fi
exit $status
