#!/usr/bin/env bash
# A scan whose reader never finishes (an .nhdr skipping a billion lines of a
# 64 GB file of zeros) does not hold the viewer: SIGTERM or SIGINT ends it
# at once, and its reader with it. (The close box takes the same path, a quit
# request, but needs a window manager to send it.)
# Usage: with_xvfb.sh endless_scan.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/zeros.raw "$out"/endless.nhdr
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }

truncate -s 64G "$out/zeros.raw"  # sparse: no disk used
printf 'NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\nencoding: raw\nline skip: 1000000000\ndata file: zeros.raw\n' \
    >"$out/endless.nhdr"

viewer_pid=
cleanup() { [ -n "$viewer_pid" ] && kill -9 "$viewer_pid" 2>/dev/null || true; rm -f "$out/zeros.raw"; }
trap cleanup EXIT

# ends_within SECONDS: the viewer has exited by then, with status 0
ends_within() {
    for _ in $(seq $(($1 * 10))); do
        if ! kill -0 "$viewer_pid" 2>/dev/null; then
            wait "$viewer_pid" || { echo "FAIL: the viewer exited with status $?"; exit 1; }
            viewer_pid=
            return 0
        fi
        sleep 0.1
    done
    echo "FAIL: the viewer still runs $1 s later"; exit 1
}
readers_left() { pgrep -f "$binary $out/endless.nhdr" || true; }

for ending in TERM INT; do
    (cd "$data" && exec "$binary" "$out/endless.nhdr") 2>"$out/viewer.stderr" &
    viewer_pid=$!
    sleep 3  # reading by now
    kill -0 "$viewer_pid" || { echo "FAIL: the viewer ended by itself"; cat "$out/viewer.stderr"; exit 1; }
    kill -"$ending" "$viewer_pid"
    ends_within 3
    [ -z "$(readers_left)" ] || { echo "FAIL: a reader outlived the viewer (SIG$ending)"; exit 1; }
    echo "the viewer ended on SIG$ending while reading"
done
echo "PASS: an endless reader never holds the viewer"
