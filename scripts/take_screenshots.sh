#!/usr/bin/env bash
# Takes the README screenshots under Xvfb, each cropped to the program's own window: the library
# window listing the demo lesson, and the player drilling it. Usage: take_screenshots.sh [BUILD_DIR]
# (default build/). Installs the X tools and fonts it needs when any is missing (Debian 12).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
out=$top/docs
[ -x "$build/orviloop" ] || { echo "take_screenshots.sh: no $build/orviloop (build it first)" >&2; exit 2; }

tools=(xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei fonts-symbola)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
fi
fc-list : family | grep -i symbola >/dev/null || echo "take_screenshots.sh: warning: Symbola not found; player glyphs may be boxes" >&2

mkdir -p "$out"
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# Settings live in the temporary config directory, which is also where a PulseAudio client would
# look for its server, so name the running server (if any) explicitly: the player should really play.
pulse_env=()
if server=$(LC_ALL=C pactl info 2>/dev/null | sed -n 's/^Server String: //p') && [ -n "$server" ]; then
  case $server in /*) server=unix:$server ;; esac
  pulse_env=(PULSE_SERVER="$server")
  [ -f "$HOME/.config/pulse/cookie" ] && pulse_env+=(PULSE_COOKIE="$HOME/.config/pulse/cookie")
fi

# Runs inside the X server: starts the program, waits, finds its window whose title matches the
# pattern and writes that window (and nothing else of the screen) to the PNG.
cat >"$config/shoot_inside.sh" <<'EOF'
#!/usr/bin/env bash
set -euo pipefail
png=$1 wait=$2 title=$3; shift 3
"$@" >"$png.log" 2>&1 & app=$!
sleep "$wait"
window=$(xdotool search --onlyvisible --pid "$app" --name "$title" 2>/dev/null | tail -n 1 || true)
status=0
if [ -z "$window" ]; then
  echo "no visible window titled /$title/ of pid $app; windows present:" >&2
  xwininfo -root -tree | grep -E '^ +0x' | head -n 20 >&2
  status=1
else
  import -window "$window" "$png"
fi
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
exit $status
EOF
chmod +x "$config/shoot_inside.sh"

shoot() { # name seconds title-pattern args...
  local name=$1 wait=$2 title=$3; shift 3
  (cd "$build" && env XDG_CONFIG_HOME="$config" "${pulse_env[@]}" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$config/shoot_inside.sh" "$config/$name.png" "$wait" "$title" "$@") ||
    { cat "$config/$name.png.log" >&2; return 1; }
  cp "$config/$name.png" "$out/$name.png"
  identify "$out/$name.png"
}
shoot library 3 '^Orvi ' "$build/orviloop"
shoot player 8 'OrviLoop' "$build/orviloop" --play "$build/OrviLoop Demo.mp4"
