#!/usr/bin/env bash
# A user opens a CT stored as .nii.gz with the real viewer under a virtual
# display, through File > Open and the real dialog: the head appears, and
# nothing of the viewer's reaches the terminal (its debug output only on request).
# Usage: with_xvfb.sh scan_open.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR WRITE_TEST_SCAN
set -euo pipefail
binary=$1 data=$2 out=$3 writer=$4
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.nii.gz
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

"$writer" "$out/head-ct.nii.gz" || fail "could not write the test scan"

start_viewer 480 720

open_volume "$out/head-ct.nii.gz" "the scan"
shown=$(covered opened)
echo "the CT covers $shown pixels"
[ "$shown" -gt 3000 ] || fail "the scan is too small or missing"

exit_through_menu
ours() { grep -v -e '^(zenity:' -e '^$' "$out/viewer.stderr" || true; }  # the dialog's own chatter is not ours
if [ -n "$(ours)" ]; then
    fail "the terminal got the viewer's output: $(ours | head -n 3)"
fi
echo "PASS: a .nii.gz opened through the real menu and dialog shows the scan"
