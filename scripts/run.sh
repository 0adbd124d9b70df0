#!/usr/bin/env bash
# Installs what is missing, builds, and starts the viewer from the folder that
# holds fx.fx and tam_ui.dds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "tamlo: no display found (DISPLAY and WAYLAND_DISPLAY are unset); the viewer needs a desktop session." >&2
  echo "tamlo: to try it without one, run it under a virtual display: xvfb-run -s '-screen 0 1280x1024x24' scripts/run.sh" >&2
  exit 1
fi

if [ ! -x build/app/tamlo ]; then
  echo "tamlo: the viewer is not built yet (build/app/tamlo is missing)." >&2
  exit 1
fi
cd build/data
exec ../app/tamlo
