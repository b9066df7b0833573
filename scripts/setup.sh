#!/usr/bin/env bash
# Installs the Debian packages OrviLoop needs to build, run and test, when any is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6multimediawidgets6 qt6-qpa-plugins
  libgl-dev libvulkan-dev libmpv-dev libswscale-dev
  ffmpeg espeak-ng sox fonts-wqy-microhei fonts-symbola
  pulseaudio pulseaudio-utils xvfb xauth imagemagick
  libbenchmark-dev openssl python3 clang libclang-rt-14-dev clang-format
  desktop-file-utils appstream
  openbox xdotool x11-utils tesseract-ocr tesseract-ocr-chi-sim locales
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
fi

# The learners' locales, in which the desktop tests run the program ("locale -a" says "zh_CN.utf8").
absent=()
for name in zh_CN.UTF-8 en_US.UTF-8 de_DE.UTF-8; do
  locale -a | grep -qix "${name%.UTF-8}.utf8" || absent+=("$name")
done
[ ${#absent[@]} -eq 0 ] && exit 0
echo "Generating locales: ${absent[*]}"
for name in "${absent[@]}"; do
  "${as_root[@]}" sed -i "s/^# *\($name UTF-8\)\$/\1/" /etc/locale.gen
  grep -qx "$name UTF-8" /etc/locale.gen || echo "$name UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
done
"${as_root[@]}" locale-gen
