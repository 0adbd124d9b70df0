#!/usr/bin/env bash
# Runs a command under its own Xvfb. Xvfb picks a free display itself
# (-displayfd), so tests started in parallel never share or fight over one.
set -uo pipefail

dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$dir"' EXIT

for _ in $(seq 200); do
  [ -s "$dir/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$dir/display" ]; then
  echo "with_xvfb.sh: Xvfb did not start" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$dir/display")"
unset WAYLAND_DISPLAY
"$@"
