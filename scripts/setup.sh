#!/usr/bin/env bash
# Installs the Debian packages OrviLoop needs to build, run and test, when any is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6multimediawidgets6 qt6-qpa-plugins
  libgl-dev libvulkan-dev libmpv-dev
  ffmpeg espeak-ng sox fonts-wqy-microhei fonts-symbola
  pulseaudio pulseaudio-utils xvfb xauth imagemagick
  libbenchmark-dev openssl python3 clang libclang-rt-14-dev clang-format
  desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
