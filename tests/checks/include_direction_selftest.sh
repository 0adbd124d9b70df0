#!/usr/bin/env bash
# include_direction.sh must catch what it is there for: a tree with one
# include pointing the wrong way fails, the same tree without it passes.
#   include_direction_selftest.sh CHECK_SCRIPT
set -euo pipefail
check="$1"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{app,ui,render,platform/gpu}
echo '#include "ui/tab.h"' >"$tree/app/main.cpp"
echo '#include "render/resources.h"' >"$tree/ui/tab.cpp"
echo '#include "render/renderer.h"' >"$tree/app/frame.cpp"
echo '#include "platform/gpu/gpu.h"' >"$tree/render/renderer.cpp"
echo '#include <vector>' >"$tree/platform/gpu/gpu.cpp"
"$check" "$tree" >/dev/null || { echo "FAIL: a tree pointing one way was refused"; exit 1; }
for wrong in 'render/renderer.cpp:#include "ui/tab.h"' 'ui/tab.cpp:  #include "app/app_state.h"' \
             'platform/gpu/gpu.cpp:#include "render/renderer.h"' 'ui/tab.cpp:#include "render/renderer.h"'; do
  file=${wrong%%:*}
  cp "$tree/$file" "$tree/$file.kept"
  echo "${wrong#*:}" >>"$tree/$file"
  if "$check" "$tree" >/dev/null; then
    echo "FAIL: not caught: ${wrong#*:} in $file"
    exit 1
  fi
  mv "$tree/$file.kept" "$tree/$file"
done
echo "PASS: wrong-way includes are caught"
