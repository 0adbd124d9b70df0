#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# default build, the same tests under ASan + UBSan (the `asan` preset), and a
# bounded run of each fuzz target (TAMLO_FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh      # everything: the run group and the test group
cmake --preset default
cmake --build --preset default
ctest --preset default --parallel 2 --timeout 600 --label-exclude e2e
# The runs of the real windows under Xvfb, one after another (they time what
# a loaded machine draws); one that fails is run once more, and ctest's log
# says so.
ctest --preset default --timeout 600 --label-regex e2e --repeat until-pass:2

cmake --preset asan
cmake --build --preset asan
ctest --preset asan --parallel 2 --timeout 900 --label-exclude e2e

bash scripts/fuzz.sh "${TAMLO_FUZZ_SECONDS:-60}"
