#!/usr/bin/env bash
# The program's folders depend one way:
#   app -> ui, slicing, volume -> render -> platform
# app may include anything; ui, slicing and volume anything but app, and of
# the renderer not its whole record (render/renderer.h) but the headers made
# for them (render/resources.h and the plain ones); render only render and
# platform; platform only platform; none of them tools/.
# Lists every include that points the other way and fails if there is one.
#   include_direction.sh SOURCE_DIR
set -euo pipefail
cd "$1"

# The folders each layer may include from (besides third-party headers).
allowed_from() {
  case "$1" in
    app) echo "app ui slicing volume render platform" ;;
    ui | slicing | volume) echo "ui slicing volume render platform" ;;
    render) echo "render platform" ;;
    platform) echo "platform" ;;
  esac
}

status=0
for layer in app ui slicing volume render platform; do
  [ -d "$layer" ] || continue
  allowed=" $(allowed_from "$layer") "
  # Every quoted include of a file in this layer, as "file:line:folder/...".
  while IFS= read -r hit; do
    [ -n "$hit" ] || continue
    target=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$hit")
    folder=${target%%/*}
    # Same-folder includes without a path, and folders that are none of the
    # program's, are not dependencies between its layers.
    [ "$folder" != "$target" ] || continue
    case " app ui slicing volume render platform tools " in *" $folder "*) ;; *) continue ;; esac
    if [[ "$allowed" != *" $folder "* ]]; then
      echo "FAIL: $layer/ may not include $folder/: $hit"
      status=1
    elif [ "$target" = render/renderer.h ] && [ "$layer" != app ] && [ "$layer" != render ]; then
      echo "FAIL: $layer/ reaches the renderer through render/resources.h, not its record: $hit"
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$layer" || true)
done
if [ "$status" -eq 0 ]; then
  echo "PASS: every include points from app to ui, slicing and volume, to render, to platform"
  echo "PASS: ui, slicing and volume reach the renderer through render/resources.h"
fi
exit "$status"
