#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite with ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build"

# No display: Qt's offscreen platform. No audio server: a private PulseAudio with a null sink.
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
pulse_started=
if ! pactl info >/dev/null 2>&1; then
  export PULSE_RUNTIME_PATH=$(mktemp -d)
  export XDG_RUNTIME_DIR=$PULSE_RUNTIME_PATH
  pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit --system=false \
    -n --load="module-null-sink sink_name=orviloop_null" --load="module-native-protocol-unix" \
    --log-target=stderr 2>/dev/null || true
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink orviloop_null >/dev/null 2>&1 || true
  pulse_started=1
fi
stop_pulse() { [ -z "$pulse_started" ] || pulseaudio --kill 2>/dev/null || true; }
trap stop_pulse EXIT

cd "$top/build"
ctest --output-on-failure -j2 --timeout 600
