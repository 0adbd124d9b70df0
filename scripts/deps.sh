#!/usr/bin/env bash
# The one list of Debian packages Tamlo needs, in two groups:
#   run   building and running the programs (what scripts/run.sh installs)
#   test  what the tests, fuzzing, benchmarks and packaging checks add
# Usage: scripts/deps.sh [run|all]   (no argument: all, as scripts/test.sh and CI use)
# Idempotent: packages already present are left alone.
set -euo pipefail

RUN=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # window, input, GL loading, headless EGL on Mesa (llvmpipe without a GPU)
  libsdl2-dev libepoxy-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  # run-time HLSL: shaderc (static, with glslang and SPIRV-Tools) and SPIRV-Cross
  libshaderc-dev glslang-dev spirv-tools libspirv-cross-c-shared-dev
  # menu bar, and PNG writing (stb)
  libimgui-dev libstb-dev
  # scans: NIfTI, NRRD, MetaImage and DICOM through ITK (GDCM inside), zlib for .nii.gz checks
  libinsighttoolkit5-dev zlib1g-dev
  # TIFF stacks (multi-page, ImageJ hyperstacks, OME-TIFF)
  libtiff-dev
  # OME-Zarr stores: the chunk codecs, the JSON of their metadata, HTTP
  libblosc-dev libzstd-dev liblz4-dev nlohmann-json3-dev libcurl4-openssl-dev
  # file dialogs
  zenity
  # core X fonts: SDL draws its message boxes with them (without, a box falls back to the terminal)
  xfonts-base
)

TEST=(
  # formatting
  clang-format
  # libFuzzer targets (scripts/fuzz.sh): clang with its sanitizer and fuzzer runtimes
  clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the benchmarks' peak memory
  time
  # the end-to-end runs under a virtual display
  xvfb xauth xdotool imagemagick x11-utils python3
  # small stacks and series made by the tests themselves
  python3-numpy python3-tifffile python3-nibabel python3-zarr
  # a real web server for the stores read over HTTP
  nginx-light
  # the install and package check: the desktop entry, and cpack's Depends (dpkg-shlibdeps, file)
  desktop-file-utils dpkg-dev file
)

case "${1:-all}" in
  run) PACKAGES=("${RUN[@]}") ;;
  all) PACKAGES=("${RUN[@]}" "${TEST[@]}") ;;
  *) echo "usage: scripts/deps.sh [run|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
