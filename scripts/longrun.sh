#!/usr/bin/env bash
# Endurance run: the player drills the demo lesson sentence by sentence ("自动下一句", mode 2)
# at rate 2.0 under a null audio sink for MEDIA_MINUTES of media time (default 30, so about
# 15 minutes of wall time), and checks that it neither crashes nor grows: the resident memory
# may rise at most 20 MB above its level after the first minute.
# Usage: longrun.sh [BUILD_DIR] (default build/); MEDIA_MINUTES=2 longrun.sh for a short try.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
media="$build/OrviLoop Demo.mp4"
wall=$(( ${MEDIA_MINUTES:-30} * 60 / 2 ))
limit_kb=$(( 20 * 1024 ))
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT

# The preset: mode 2 with two repetitions per sentence, rate 2.0.
mkdir -p "$config/Orvi"
printf '[global]\nplayMode=2\nrepeatCount=2\nplayRate=2.0\nhwDecode=false\n' >"$config/Orvi/OrviLoop.conf"

# PulseAudio finds its server and cookie under the configuration directory, which is about
# to move: name both explicitly first.
server=$(pactl info 2>/dev/null | sed -n 's/^Server String: //p')
[ -n "$server" ] || { echo "no PulseAudio server answers (start one with a null sink)"; exit 2; }
export PULSE_SERVER=${PULSE_SERVER:-unix:$server}
cookie=${XDG_CONFIG_HOME:-$HOME/.config}/pulse/cookie
[ -n "${PULSE_COOKIE:-}" ] || [ ! -f "$cookie" ] || export PULSE_COOKIE=$cookie
export XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=offscreen
"$build/orviloop" --play "$media" >"$config/log.txt" 2>&1 &
app=$!

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$app/status" 2>/dev/null || echo 0; }
baseline=0 peak=0 start=$SECONDS
while (( SECONDS - start < wall )); do
  sleep 10
  kill -0 "$app" 2>/dev/null || { echo "FAIL: the player ended after $(( SECONDS - start )) s"; tail -20 "$config/log.txt"; exit 1; }
  now=$(rss)
  (( SECONDS - start >= 60 && baseline == 0 )) && baseline=$now
  (( now > peak )) && peak=$now
  echo "$(( SECONDS - start )) s: VmRSS $now kB"
done
# SIGTERM closes the windows as the learner would, which saves the place in the lesson.
kill -TERM "$app"; wait "$app" 2>/dev/null || true
growth=$(( peak - baseline ))
echo "VmRSS after the first minute: $baseline kB, peak: $peak kB, growth: $growth kB"
(( growth <= limit_kb )) || { echo "FAIL: resident memory grew by $growth kB"; exit 1; }
saved=$(grep -E '^[0-9]+\\position=[0-9]+' "$config/Orvi/OrviLoop.conf" || true)
echo "saved: ${saved:-nothing}"
[[ $saved =~ position=[1-9] ]] || { echo "FAIL: no position saved at the end"; exit 1; }
echo "OK"
