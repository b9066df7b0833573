#!/usr/bin/env bash
# Builds the Debian package (build-deb/orviloop_*.deb), installed under /usr.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build-deb" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DORVILOOP_BUILD_TESTS=OFF -DORVILOOP_BUILD_BENCH=OFF
cd "$top/build-deb" && cpack -G DEB
ls "$top"/build-deb/orviloop_*.deb
