#!/usr/bin/env bash
# Takes the README screenshots under Xvfb: the library window listing the demo lesson, and
# the player drilling it. Usage: take_screenshots.sh [BUILD_DIR] (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
out=$top/docs
mkdir -p "$out"
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT

shoot() { # name seconds args...
  local name=$1 wait=$2; shift 2
  XDG_CONFIG_HOME=$config xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$@" & app=$!
    sleep '"$wait"'
    import -window root "'"$out/$name"'.png"
    kill $app; wait $app 2>/dev/null || true' _ "$@"
}
shoot library 3 "$build/orviloop"
shoot player 8 "$build/orviloop" --play "$build/OrviLoop Demo.mp4"
ls -la "$out"
