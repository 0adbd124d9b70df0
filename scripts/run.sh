#!/usr/bin/env bash
# Installs what is missing, builds, and starts the viewer from the folder that
# holds fx.fx and tam_ui.dds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh run  # building and running only; scripts/test.sh adds the rest
cmake --preset default >/dev/null
cmake --build --preset default

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop: draw the bundled phantom as the viewer would show it at start,
  # headless, and say where the picture is.
  echo "tamlo: no display found (DISPLAY and WAYLAND_DISPLAY are unset); rendering the sample volume to a PNG instead." >&2
  echo "tamlo: for the interactive viewer run under a virtual display: xvfb-run -s '-screen 0 1280x1024x24' scripts/run.sh" >&2
  if [ ! -x build/tools/render/tamlo-render ]; then
    echo "tamlo: the batch renderer is not built (build/tools/render/tamlo-render is missing)." >&2
    exit 1
  fi
  out="$PWD/build/tamlo-head256.png"
  # tamlo-render prints the picture's path on success.
  exec build/tools/render/tamlo-render build/data/head256.vol --data build/data --output "$out"
fi

if [ ! -x build/app/tamlo ]; then
  echo "tamlo: the viewer is not built yet (build/app/tamlo is missing)." >&2
  exit 1
fi
cd build/data
exec ../app/tamlo
