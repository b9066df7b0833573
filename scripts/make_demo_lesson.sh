#!/usr/bin/env bash
# Builds the demo lesson: a short video (test pattern) whose sound is English sentences
# spoken by espeak-ng with pauses between them, an audio-only MP3 of the same lesson, and
# an SRT whose cue times are measured from the generated audio.
# Usage: make_demo_lesson.sh OUTPUT_DIR [OUTPUT_DIR...]
set -euo pipefail
outs=("${@:?output directory}")
mkdir -p "${outs[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

english=(
  "Good morning, how are you today?"
  "I would like a cup of coffee, please."
  "Where is the nearest train station?"
  "It takes about ten minutes on foot."
  "Could you speak a little more slowly?"
  "Thank you very much for your help."
)
chinese=(
  "早上好，你今天好吗？"
  "请给我来一杯咖啡。"
  "最近的火车站在哪里？"
  "步行大约需要十分钟。"
  "你能说得慢一点吗？"
  "非常感谢你的帮助。"
)

rate=44100
lead=1.0   # silence before the first sentence
pause=1.2  # silence between sentences
sox -n -r $rate -c 1 "$work/lead.wav" trim 0 $lead
sox -n -r $rate -c 1 "$work/pause.wav" trim 0 $pause

fmt_time() { # seconds (float) -> HH:MM:SS,mmm
  awk -v t="$1" 'BEGIN { ms = int(t * 1000 + 0.5); h = int(ms / 3600000); ms -= h * 3600000;
    m = int(ms / 60000); ms -= m * 60000; s = int(ms / 1000); ms -= s * 1000;
    printf "%02d:%02d:%02d,%03d", h, m, s, ms }'
}

parts=("$work/lead.wav")
srt="$work/lesson.srt"
: > "$srt"
t=$lead
for i in "${!english[@]}"; do
  raw="$work/raw$i.wav"; clip="$work/s$i.wav"
  espeak-ng -v en-us -s 140 -w "$raw" "${english[$i]}"
  # Trim espeak's own leading and trailing silence so the cue matches the speech.
  sox "$raw" -r $rate -c 1 "$clip" silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse
  len=$(soxi -D "$clip")
  start=$t
  end=$(awk -v a="$t" -v b="$len" 'BEGIN { printf "%.3f", a + b }')
  printf '%d\n%s --> %s\n%s\n%s\n\n' $((i + 1)) "$(fmt_time "$start")" "$(fmt_time "$end")" \
    "${english[$i]}" "${chinese[$i]}" >> "$srt"
  parts+=("$clip" "$work/pause.wav")
  t=$(awk -v a="$end" -v b="$pause" 'BEGIN { printf "%.3f", a + b }')
done
sox "${parts[@]}" "$work/lesson.wav"
total=$(soxi -D "$work/lesson.wav")

name="OrviLoop Demo"
ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=$total" \
  -i "$work/lesson.wav" -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k \
  -shortest "$work/video.mp4"
ffmpeg -loglevel error -y -i "$work/lesson.wav" -c:a libmp3lame -b:a 128k "$work/audio.mp3"

# A subtitle already adopted by the player (.srt1) stays as it is; otherwise we ship .srt.
install_lesson() { # directory media-file base-name
  cp "$2" "$1/$3"
  local base="${3%.*}"
  if [ ! -e "$1/$base.srt1" ]; then cp "$srt" "$1/$base.srt"; fi
}
for out in "${outs[@]}"; do
  install_lesson "$out" "$work/video.mp4" "$name.mp4"
  install_lesson "$out" "$work/audio.mp3" "$name Audio.mp3"
done
