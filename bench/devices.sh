#!/usr/bin/env bash
# micbusy and audioout next to pactl on one private sound server: the medians of one hyperfine
# run and their ratios to `pactl get-default-sink` (the cheapest complete question a client can
# ask) and `pactl list sources short` (the same device list micbusy reads). Also counts the
# connections one micbusy run makes to the server. `mirlet check` without a display stands for
# mirlet's own start-up and end, with no server asked: the part of each answer that the device
# queries cannot change.
#
#   bench/devices.sh [path/to/mirlet] [runs]      (defaults: build/mirlet, 200)
# MIRLET_SOUND_SERVER (default pulseaudio) picks the private sound server: pulseaudio or pipewire.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mirlet=$(realpath "${1:-$root/build/mirlet}")
runs=${2:-200}
server=${MIRLET_SOUND_SERVER:-pulseaudio}
servers=(pulseaudio)
[[ "$server" == pipewire ]] && servers=(pipewire wireplumber pipewire-pulse)
for tool in hyperfine jq pactl "${servers[@]}"; do
  command -v "$tool" >/dev/null || { echo "bench/devices.sh needs $tool" >&2; exit 2; }
done
[[ -x "$mirlet" ]] || { echo "no mirlet at $mirlet (build it first)" >&2; exit 2; }

work=$(mktemp -d)
services="$work/services"
cleanup() {
  "$root/scripts/test-services.sh" stop "$services" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A server of the benchmark's own, set up like the test one: a null sink as the default output
# and a null source as the microphone (the X server it also starts is not used).
"$root/scripts/test-services.sh" start "$services" "$server" >/dev/null
socket=$(cut -d: -f2- "$services/pulse-server")
export PULSE_SERVER="unix:$socket" PULSE_CLIENTCONFIG="$services/client.conf"
unset DISPLAY
echo "sound server:     $(pactl info | sed -n 's/^Server Name: //p')"

echo "mirlet micbusy:   $("$mirlet" micbusy)"
echo "mirlet audioout:  $("$mirlet" audioout)"
if command -v strace >/dev/null; then
  strace -f -qq -e trace=connect -o "$work/connect.trace" "$mirlet" micbusy >/dev/null
  echo "connections to the server in one micbusy run: $(grep -c "$socket" "$work/connect.trace")"
fi
echo

# The machine's load drifts while the benchmark runs, so the commands take turns: several short
# hyperfine rounds, each running every command, and the median of all the samples per command.
rounds=10
per_round=$(( (runs + rounds - 1) / rounds ))
for round in $(seq "$rounds"); do
  hyperfine -N --style none --warmup 5 --runs "$per_round" --export-json "$work/round$round.json" \
    --command-name micbusy "$mirlet micbusy" \
    --command-name audioout "$mirlet audioout" \
    --command-name "pactl list sources short" "pactl list sources short" \
    --command-name "pactl get-default-sink" "pactl get-default-sink" \
    --command-name "mirlet check (start-up)" "$mirlet check" >/dev/null 2>>"$work/hyperfine.err"
done

median() {
  jq -s -r --arg name "$1" '[.[].results[] | select(.command == $name) | .times[]] | sort
    | if length % 2 == 1 then .[length / 2 | floor] else (.[length / 2 - 1] + .[length / 2]) / 2 end' \
    "$work"/round*.json
}
base=$(median "pactl get-default-sink")
sources=$(median "pactl list sources short")
echo "median wall time of $((rounds * per_round)) runs each, in $rounds alternating hyperfine rounds:"
for name in micbusy audioout "pactl list sources short" "pactl get-default-sink" \
  "mirlet check (start-up)"; do
  m=$(median "$name")
  awk -v n="$name" -v m="$m" -v b="$base" -v s="$sources" 'BEGIN {
    printf "  %-26s %6.2f ms   %5.2fx get-default-sink   %5.2fx list sources short\n",
           n, m * 1000, m / b, m / s }'
done
for name in micbusy audioout; do
  awk -v n="$name" -v m="$(median "$name")" -v b="$base" 'BEGIN {
    printf "target %-9s <= 1.00x pactl get-default-sink: %s\n", n, (m <= b ? "met" : "missed") }'
done
if grep -q outliers "$work/hyperfine.err"; then
  echo "(hyperfine saw statistical outliers: other programs were busy; medians hold up, means would not)"
fi
