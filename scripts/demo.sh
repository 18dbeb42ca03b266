#!/usr/bin/env bash
# Installs what is missing, builds mirlet, and runs its main job once: lists the windows, shoots
# one, records a few seconds of a tone while playing it, and reports the output device and the
# microphone. It uses your desktop when one is reachable (DISPLAY and a sound server); otherwise
# it starts a private virtual display and sound server and stops them afterwards.
# MIRLET_SOUND_SERVER=pulseaudio or pipewire always uses a private desktop, with that sound server.
#   scripts/demo.sh [OUTPUT_DIR]      (default: ./out)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/out}" && cd "${1:-$root/out}" && pwd)

"$root/scripts/install-deps.sh" build test
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build"
mirlet="$root/build/mirlet"

services=""
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -n "$services" ]]; then "$root/scripts/test-services.sh" stop "$services"; rm -rf "$services"; fi
}
trap cleanup EXIT

if [[ -z "${MIRLET_SOUND_SERVER:-}" && -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1 &&
  pactl info >/dev/null 2>&1; then
  echo "== using your desktop (DISPLAY=$DISPLAY)"
  play=0
else
  server=${MIRLET_SOUND_SERVER:-pulseaudio}
  echo "== starting a private virtual display and sound server ($server)"
  services=$(mktemp -d)
  "$root/scripts/test-services.sh" start "$services" "$server"
  export DISPLAY=$(cat "$services/display") PULSE_SERVER=$(cat "$services/pulse-server")
  export PULSE_CLIENTCONFIG="$services/client.conf"
  xlogo -geometry 640x400+100+80 & pids+=($!)
  xterm -geometry 80x24+800+300 -title "mirlet demo" & pids+=($!)
  for _ in $(seq 50); do [[ $("$mirlet" windows) == *XLogo* ]] && break; sleep 0.1; done
  play=1
fi

run() { echo "\$ mirlet $*"; "$mirlet" "$@"; }

run check
run windows | tee "$out/windows.json"
id=$(grep -o '"id":[0-9]*' "$out/windows.json" | head -n 1 | cut -d: -f2 || true)
if [[ -n "$id" ]]; then
  run shot "$id" "$out/window.png"
else
  echo "(no window to shoot)"
fi

echo "\$ mirlet audio $out/recording.m4a   (3 seconds, then SIGINT)"
"$mirlet" audio "$out/recording.m4a" >"$out/audio.stdout" 2>"$out/audio.stderr" &
recorder=$!
for _ in $(seq 100); do [[ -s "$out/audio.stdout" ]] && break; sleep 0.1; done
cat "$out/audio.stdout"
if [[ $play -eq 1 ]]; then
  sox -q -n -r 48000 -c 2 -b 16 "$out/tone.wav" synth 3 sine 440 vol 0.5
  paplay "$out/tone.wav"
else
  sleep 3
fi
kill -INT "$recorder" 2>/dev/null || true
wait "$recorder" || echo "(mirlet audio ended with status $?)"
cat "$out/audio.stderr"
ffprobe -v error -show_entries format=duration:stream=codec_name,sample_rate,channels \
  -of compact "$out/recording.m4a" || true

run audioout
run micbusy

echo
echo "files in $out:"
ls -l "$out"
