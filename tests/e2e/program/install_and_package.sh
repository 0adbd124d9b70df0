#!/usr/bin/env bash
# What a user installs: `cmake --install` into a fresh prefix gives the three
# programs, their data, the presets, a valid desktop entry and its icon, and
# tamlo-render started from / finds its data there; `cpack -G DEB` gives a
# package whose Depends were computed and which holds the same files.
# Usage: install_and_package.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
build=$1 out=$2
rm -rf "$out"
mkdir -p "$out"
fail() { echo "FAIL: $*"; exit 1; }
prefix="$out/prefix"

cmake --install "$build" --prefix "$prefix" >"$out/install.log" || { cat "$out/install.log"; fail "cmake --install"; }
for program in tamlo tamlo-render tamlo-convert; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
presets="ct-bone ct-skin mri-brain colour-ramp"
for f in fx.fx tam_ui.dds head256.vol $(for p in $presets; do echo "presets/$p.tf"; done); do
    [ -s "$prefix/share/tamlo/$f" ] || fail "share/tamlo/$f is not installed"
done
desktop-file-validate "$prefix/share/applications/tamlo.desktop" || fail "the desktop entry is not valid"
icon="$prefix/share/icons/hicolor/32x32/apps/tamlo.png"
file "$icon" | grep -q 'PNG image data, 32 x 32, 8-bit/color RGBA' || fail "the icon is not a 32 x 32 PNG: $(file "$icon")"

# Away from the build tree and its data: the installed programs find theirs.
picture="$out/phantom.png"
(cd / && env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/tamlo-render" "$prefix/share/tamlo/head256.vol" \
    --tf "$prefix/share/tamlo/presets/ct-bone.tf" --size 48x40 -o "$picture") >"$out/render.log" 2>&1 ||
    { cat "$out/render.log"; fail "the installed tamlo-render did not draw the installed phantom from /"; }
file "$picture" | grep -q 'PNG image data, 48 x 40' || fail "no 48 x 40 picture: $(file "$picture")"
"$prefix/bin/tamlo" --help | grep -q 'usage: tamlo' || fail "the installed viewer does not run"

# The package.
(cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/package") >"$out/cpack.log" 2>&1 ||
    { tail -n 30 "$out/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$out"/package/tamlo_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no tamlo_*.deb was made"
info=$(dpkg-deb -I "$deb")
echo "$info" | sed -n '/Package:/,$p'
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
# Computed from the programs' libraries, and the two libepoxy opens by name.
for library in libc6 libsdl2 libepoxy0 libinsighttoolkit5 libspirv-cross-c-shared0 libegl1 libgl1; do
    grep -q "$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done
grep -q '^ Recommends: .*zenity' <<<"$info" || fail "zenity is not recommended"
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/tamlo usr/bin/tamlo-render usr/bin/tamlo-convert usr/share/tamlo/fx.fx \
    usr/share/tamlo/tam_ui.dds usr/share/tamlo/head256.vol usr/share/tamlo/presets/ct-bone.tf \
    usr/share/applications/tamlo.desktop usr/share/icons/hicolor/32x32/apps/tamlo.png; do
    # From a here-string: grep -q stops reading at its match, and a pipe's
    # writer would then fail the pipeline (pipefail) on a long listing.
    grep -q " \./$f\$" <<<"$contents" || fail "the package lacks /$f"
done
echo "PASS: install tree, installed programs from /, and $(basename "$deb") with computed Depends"
