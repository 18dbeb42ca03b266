#!/usr/bin/env bash
# Records what a private sound server plays with `mirlet audio`, with `ffmpeg -f pulse` and with
# `parec | ffmpeg`, all in one run, and prints their cost, their timing and the fidelity of
# mirlet's file, with ratios against ffmpeg.
#
#   bench/audio.sh [path/to/mirlet]        DURATION=60 seconds per recording by default
#
# LOADED_DURATION (default DURATION) sets the length of the recording under load, KILL_AFTER
# (default 60) when the crash-survival recording is killed.
#
# MARKERS=SECONDS runs the marker check alone (see below): 600 for the ten-minute one.
# LONG=SECONDS runs one long recording alone: its memory after the first minute and at the end,
# and its file's duration against the wall clock (1800 for the half-hour one).
#
# MIRLET_SOUND_SERVER (default pulseaudio) picks the private sound server: pulseaudio or pipewire
# (PipeWire with WirePlumber and pipewire-pulse).
#
# Needs: Xvfb, pulseaudio or pipewire, pulseaudio-utils, ffmpeg, sox, python3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mirlet=$(realpath "${1:-$root/build/mirlet}")
duration=${DURATION:-60}
loaded_duration=${LOADED_DURATION:-$duration}
kill_after=${KILL_AFTER:-60}
server=${MIRLET_SOUND_SERVER:-pulseaudio}
work=$(mktemp -d)
services="$work/services"
trap '"$root/scripts/test-services.sh" stop "$services" >/dev/null 2>&1 || true; kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

"$root/scripts/test-services.sh" start "$services" "$server" >/dev/null
echo "sound server: $(PULSE_SERVER=$(cat "$services/pulse-server") pactl info | sed -n 's/^Server Name: //p')"
export DISPLAY=$(cat "$services/display")
export PULSE_SERVER=$(cat "$services/pulse-server")
export PULSE_CLIENTCONFIG="$services/client.conf"
tick=$(getconf CLK_TCK)

now() { date +%s.%N; }
cpu_seconds() { awk -v t="$tick" '{print ($14 + $15) / t}' "/proc/$1/stat"; }
peak_kib() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }
duration_of() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }

# The marker check, alone (MARKERS=SECONDS; 600 for ten minutes): a click at each second of the
# output's own clock, recorded by mirlet while parec, beside it, measures how fast that clock runs
# against the monotonic one. Prints how far each click lies in the file from where the wall clock
# puts it (a file that kept the output's clock would drift away at its rate), and mirlet's CPU
# time.
if [[ -n ${MARKERS:-} ]]; then
  python3 -c '
import sys, wave, math, struct
click = b"".join(struct.pack("<hh", v, v) for v in
                 (int(16383 * math.sin(2 * math.pi * 1000 * i / 48000)) for i in range(480)))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
    w.writeframes((click + bytes(4 * (48000 - 480))) * int(sys.argv[2]))
' "$work/markers.wav" $((MARKERS + 30))
  paplay --latency-msec=100 "$work/markers.wav" 2>/dev/null &
  sleep 2.5
  # The output's rate: the least lag of its monitor's arrivals in each 4 s, and how it moves. And
  # where the clicks fall in what parec heard: a jump there is in the output itself (a player
  # that ran dry for a cycle delays every later click), not in mirlet's file alone.
  python3 -c '
import array, subprocess, sys, time
parec = subprocess.Popen(["parec", "-d", "speakers.monitor", "--format=float32le", "--rate=48000",
                          "--channels=2", "--latency-msec=100"], stdout=subprocess.PIPE)
frames, start, least, rest, clicks, quiet_until = 0, None, {}, b"", [], 0
while True:
    rest += parec.stdout.read1(65536)
    whole = len(rest) // 8 * 8
    samples = array.array("f"); samples.frombytes(rest[:whole]); rest = rest[whole:]
    left = samples[::2]
    got = len(left)
    if left and (max(left) > 0.1 or min(left) < -0.1):
        for i, v in enumerate(left):
            if frames + i >= quiet_until and abs(v) > 0.1:
                clicks.append(frames + i); quiet_until = frames + i + 24000
    now = time.monotonic()
    if start is None: start = now
    frames += got
    t = now - start
    if t > float(sys.argv[1]): break
    lag = t * 48000 - frames
    b = int(t // 4)
    if b not in least or lag < least[b][1]: least[b] = (t, lag)
parec.kill()
# From one 4 s to the next the least lag moves by the drift alone, unless audio was lost (a
# jump of many milliseconds): those steps are left out.
pts = [least[b] for b in sorted(least)][1:]
steps = [(b[1] - a[1], b[0] - a[0]) for a, b in zip(pts, pts[1:]) if abs(b[1] - a[1]) < 240]
slope = sum(d for d, _ in steps) / sum(t for _, t in steps)
print("%.2f" % (-slope / 48000 * 1e6))
# The jumps themselves: audio the server did not deliver to parec either.
lost = ["%.0f s: %+.1f ms" % (b[0], (b[1] - a[1]) / 48) for a, b in zip(pts, pts[1:])
        if abs(b[1] - a[1]) >= 240]
print(", ".join(lost) or "none", file=sys.stderr)
gaps = ["%d: %+.1f" % (k + 1, (b - a - 48000) / 48) for k, (a, b) in enumerate(zip(clicks, clicks[1:]))
        if abs(b - a - 48000) > 480]
with open(sys.argv[2], "w") as f: print(", ".join(gaps) or "none", file=f)
' $((MARKERS + 5)) "$work/parec-clicks" >"$work/rate" 2>"$work/parec-jumps" &
  watcher=$!
  "$mirlet" audio "$work/markers.m4a" >/dev/null 2>"$work/err" &
  pid=$!
  sleep "$MARKERS"
  cpu=$(cpu_seconds "$pid")
  kill -INT "$pid"; wait "$pid"
  wait "$watcher"
  ffmpeg -v error -i "$work/markers.m4a" -af "pan=mono|c0=c0" -f f32le -ar 48000 - | python3 -c '
import sys, array
s = array.array("f"); s.frombytes(sys.stdin.buffer.read())
ppm, minutes, cpu = float(sys.argv[1]), float(sys.argv[2]) / 60, float(sys.argv[3])
on, i = [], 0
while i < len(s):
    if abs(s[i]) > 0.1: on.append(i); i += 24000
    else: i += 1
# Click k plays k seconds of the output clock after the first: k / (1 + ppm) s of the wall clock.
off = [(f - on[0]) / 48 - k * 1000 / (1 + ppm / 1e6) for k, f in enumerate(on)]
# A spacing far off a second is silence put in for lost audio (or audio dropped); apart from
# those, the offsets say how well the file kept the wall clock.
gaps = [(k + 1, off[k + 1] - off[k]) for k in range(len(on) - 1) if abs(on[k + 1] - on[k] - 48000) > 480]
kept = [o - sum(g for j, g in gaps if j <= k) for k, o in enumerate(off)]
print("output clock %+.1f ppm against the monotonic clock; %d clicks in %.1f min" % (ppm, len(on), minutes))
print("click offsets from the wall clock: last %+.1f ms, largest %+.1f ms (target within 20)" %
      (off[-1], max(off, key=abs)))
print("jumps between clicks (click: ms): %s; without them: last %+.1f ms, largest %+.1f ms" %
      (", ".join("%d: %+.1f" % g for g in gaps) or "none", kept[-1], max(kept, key=abs)))
print("offsets each minute: %s" % " ".join("%+.1f" % o for o in off[::60]))
print("mirlet cpu %.3f s/min" % (cpu / minutes))
' "$(cat "$work/rate")" "$MARKERS" "$cpu"
  echo "parec, beside mirlet, saw its lag jump at: $(cat "$work/parec-jumps")"
  echo "jumps between clicks in parec's own recording (click: ms): $(cat "$work/parec-clicks")"
  exit 0
fi

# A long steady tone at half scale. Its player keeps a buffer that rides out busy cores, so the
# source itself never breaks; the capture still runs at its own short fragments.
tone_seconds=$((${LONG:-0} + ${CPU_ROUNDS:-0} * duration * 2 + duration * 3 + loaded_duration +
  kill_after + 120))
sox -q -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth "$tone_seconds" sine 440 vol 0.5
# The peer every CPU figure is a ratio against; the output file follows.
ffmpeg_peer=(ffmpeg -nostdin -loglevel error -f pulse -i speakers.monitor -c:a aac -b:a 128k -ar 48000
  -ac 2 -y)
# Its complaint when the server goes away at the end is no finding.
paplay --latency-msec=200 "$work/tone.wav" 2>/dev/null &
sleep 2.5

# The long recording (LONG=SECONDS): resident memory at one minute and at the end, and the file
# against the wall-clock time from the recording's line to the stop.
if [[ -n ${LONG:-} ]]; then
  rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
  "$mirlet" audio "$work/long.m4a" >"$work/line" 2>"$work/err" &
  pid=$!
  until [[ -s "$work/line" ]]; do sleep 0.01; done
  started=$(now)
  sleep 60
  first=$(rss_kib "$pid")
  sleep $((LONG - 60))
  last=$(rss_kib "$pid")
  cpu=$(cpu_seconds "$pid")
  stopped=$(now)
  kill -INT "$pid"; wait "$pid"
  python3 -c '
import sys
first, last, wall, file, cpu = (float(v) for v in sys.argv[1:])
print("resident memory: %.1f MiB at one minute, %.1f MiB at %.0f min: %+.2f MiB (target at most +2)"
      % (first / 1024, last / 1024, wall / 60, (last - first) / 1024))
print("file %.3f s against %.3f s of wall clock: %+.0f ms (target within 200)"
      % (file, wall, (file - wall) * 1000))
print("mirlet cpu %.3f s/min" % (cpu / (wall / 60)))
' "$first" "$last" "$(echo "$stopped - $started" | bc)" "$(duration_of "$work/long.m4a")" "$cpu"
  exit 0
fi

# One recording of `duration` seconds by the command in "$@" (its output file is its last word);
# sets cpu, peak, stop_ms, wall, file_duration.
record() {
  local out=${!#} start stop_sent ended pids
  rm -f "$out"
  start=$(now)
  "$@" >"$work/line" 2>"$work/err" &
  local pid=$!
  sleep "$duration"
  pids="$pid $(pgrep -P "$pid" || true)"
  cpu=0; peak=0
  for p in $pids; do
    cpu=$(echo "$cpu + $(cpu_seconds "$p")" | bc -l)
    peak=$(( peak + $(peak_kib "$p" || echo 0) ))
  done
  stop_sent=$(now)
  kill -INT -- "-$pid" 2>/dev/null || kill -INT "$pid"
  wait "$pid" || true
  ended=$(now)
  stop_ms=$(echo "($ended - $stop_sent) * 1000" | bc -l)
  wall=$(echo "$stop_sent - $start" | bc -l)
  file_duration=$(duration_of "$out")
}

report() {
  printf '%-18s cpu %6.3f s/min   peak %7.1f MiB   SIGINT->exit %6.1f ms   wall-file %6.3f s\n' \
    "$1" "$(echo "$cpu * 60 / $duration" | bc -l)" "$(echo "$peak / 1024" | bc -l)" "$stop_ms" \
    "$(echo "$wall - $file_duration" | bc -l)"
}

# The CPU comparison alone (CPU_ROUNDS=N): N rounds in which mirlet and ffmpeg -f pulse record
# side by side for `duration` seconds. This machine's speed wanders over minutes: the same
# recording cost mirlet 0.40 s of CPU a minute in one round and 1.20 in another, and ffmpeg
# 1.36-3.12, so recordings taken in turns compared different machines. Side by side, both meet the
# same conditions; the median of the rounds' ratios is the figure. BASELINE=path/to/mirlet records
# a third time beside them with another build, for a change's cost on the same terms. TURNS=1
# records them in turns instead, each alone (a baseline after them), the order swapped every
# round: each recorder's cost on a machine that is otherwise idle, where a wake-up costs more than
# on busy cores.
if [[ -n ${CPU_ROUNDS:-} ]]; then
  baseline=${BASELINE:+$(realpath "$BASELINE")}
  ratios=(); baseline_ratios=()
  median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
  alone() {  # alone COMMAND...: records for `duration` seconds and prints its CPU seconds
    "$@" >/dev/null 2>"$work/err" & local pid=$!
    sleep "$duration"
    cpu_seconds "$pid"
    kill -INT "$pid"; wait "$pid" || true
  }
  for ((round = 1; round <= CPU_ROUNDS; round++)); do
    rm -f "$work/mirlet.m4a" "$work/ffmpeg.m4a" "$work/baseline.m4a"
    if [[ -n ${TURNS:-} ]]; then
      if ((round % 2)); then
        m_cpu=$(alone "$mirlet" audio "$work/mirlet.m4a")
        f_cpu=$(alone "${ffmpeg_peer[@]}" "$work/ffmpeg.m4a")
      else
        f_cpu=$(alone "${ffmpeg_peer[@]}" "$work/ffmpeg.m4a")
        m_cpu=$(alone "$mirlet" audio "$work/mirlet.m4a")
      fi
      [[ -n $baseline ]] && b_cpu=$(alone "$baseline" audio "$work/baseline.m4a")
    else
      "$mirlet" audio "$work/mirlet.m4a" >/dev/null 2>"$work/err" &
      m_pid=$!
      "${ffmpeg_peer[@]}" "$work/ffmpeg.m4a" &
      f_pid=$!
      pids=("$m_pid" "$f_pid")
      if [[ -n $baseline ]]; then
        "$baseline" audio "$work/baseline.m4a" >/dev/null 2>"$work/baseline-err" &
        b_pid=$!
        pids+=("$b_pid")
      fi
      sleep "$duration"
      m_cpu=$(cpu_seconds "$m_pid"); f_cpu=$(cpu_seconds "$f_pid")
      [[ -n $baseline ]] && b_cpu=$(cpu_seconds "$b_pid")
      kill -INT "${pids[@]}"; wait "${pids[@]}" || true
    fi
    ratios+=("$(echo "$m_cpu / $f_cpu" | bc -l)")
    printf 'round %d%s: cpu s/min mirlet %.3f, ffmpeg -f pulse %.3f, ratio %.2fx' "$round" \
      "${TURNS:+, in turns}" "$(echo "$m_cpu * 60 / $duration" | bc -l)" \
      "$(echo "$f_cpu * 60 / $duration" | bc -l)" "${ratios[-1]}"
    if [[ -n $baseline ]]; then
      baseline_ratios+=("$(echo "$b_cpu / $f_cpu" | bc -l)")
      printf '; baseline %.3f, ratio %.2fx' "$(echo "$b_cpu * 60 / $duration" | bc -l)" \
        "${baseline_ratios[-1]}"
    fi
    echo
  done
  printf 'median cpu ratio against ffmpeg -f pulse%s: %.3fx (target <= 0.4x)\n' "${TURNS:+, in turns}" \
    "$(median "${ratios[@]}")"
  [[ -n $baseline ]] && printf 'baseline, the same way: %.3fx\n' "$(median "${baseline_ratios[@]}")"
  exit 0
fi

# mirlet, with the time to its line and to the first audio in its file.
rm -f "$work/mirlet.m4a"
start=$(now)
"$mirlet" audio "$work/mirlet.m4a" >"$work/line" 2>"$work/err" &
pid=$!
line_at=""; first_at=""
while [[ -z "$first_at" ]]; do
  [[ -z "$line_at" && -s "$work/line" ]] && line_at=$(now)
  [[ -s "$work/mirlet.m4a" ]] && first_at=$(now)
  sleep 0.005
done
[[ -z "$line_at" ]] && line_at=$first_at
sleep "$duration"
cpu=$(cpu_seconds "$pid"); peak=$(peak_kib "$pid")
stop_sent=$(now); kill -INT "$pid"; wait "$pid"; ended=$(now)
stop_ms=$(echo "($ended - $stop_sent) * 1000" | bc -l)
wall=$(echo "$stop_sent - $start" | bc -l)
file_duration=$(duration_of "$work/mirlet.m4a")
m_cpu=$cpu; m_peak=$peak
report mirlet
printf '%-18s line after %.0f ms, first audio in the file after %.0f ms, file vs first-audio-to-stop %+.0f ms\n' \
  mirlet "$(echo "($line_at - $start) * 1000" | bc -l)" "$(echo "($first_at - $start) * 1000" | bc -l)" \
  "$(echo "($file_duration - ($stop_sent - $first_at)) * 1000" | bc -l)"

record "${ffmpeg_peer[@]}" "$work/ffmpeg.m4a"
f_cpu=$cpu; f_peak=$peak
report "ffmpeg -f pulse"

# The pipeline's shell is left out of the sums; SIGINT goes to the whole process group.
record setsid sh -c "parec -d speakers.monitor --format=s16le --rate=48000 --channels=2 | \
  ffmpeg -nostdin -loglevel error -f s16le -ar 48000 -ac 2 -i - -c:a aac -b:a 128k -y $work/parec.m4a" \
  "$work/parec.m4a"
report "parec | ffmpeg"

printf '\nratios against ffmpeg -f pulse: cpu %.2fx (target <= 0.4x), peak memory %.2fx (target <= 0.4x)\n' \
  "$(echo "$m_cpu / $f_cpu" | bc -l)" "$(echo "$m_peak / $f_peak" | bc -l)"

# Fidelity of mirlet's file, and a recording under load on every core checked sample by sample.
analyse() {
  ffmpeg -v error -i "$1" -af "pan=mono|c0=c0" -f f32le -ar 48000 - | python3 -c '
import sys, array, math
s = array.array("f"); s.frombytes(sys.stdin.buffer.read())
a = s[int(3 * 48000):len(s) - 48000]
up = [i for i in range(1, len(a)) if a[i-1] < 0 <= a[i]]
if len(up) < 2: print("no tone in the file (silence: a source other than the output recorded?)"); sys.exit()
hz = (len(up) - 1) * 48000 / (up[-1] - up[0])
db = 10 * math.log10(sum(x * x for x in a) / len(a))
# A 440 Hz sine at half scale moves at most 0.029 per sample; a jump far beyond that is a break.
jumps = sum(1 for i in range(1, len(a)) if abs(a[i] - a[i-1]) > 0.08)
print("tone %.2f Hz (440 +- 2), level %.2f dBFS (expected -9.03 +- 1), discontinuities %d" % (hz, db, jumps))'
}
printf '%-18s ' "mirlet fidelity"; analyse "$work/mirlet.m4a"
load=(); for _ in $(seq "$(nproc)"); do (while :; do :; done) & load+=($!); done
"$mirlet" audio "$work/loaded.m4a" >/dev/null 2>&1 &
pid=$!; sleep "$loaded_duration"; kill -INT "$pid"; wait "$pid"
kill "${load[@]}"
printf '%-18s ' "mirlet, cores busy"; analyse "$work/loaded.m4a"

# The desktop changing under a recording: how long from a switch of the default output, and from
# the sound server's return after a crash, until the new audio is in the file. The switch goes to
# a second output that plays 1000 Hz, once with a player of short latency and once with one of the
# default latency (a null sink then renders up to two seconds ahead, so a new monitor stream hears
# it late); after the restart the speakers play 660 Hz.
sox -q -n -r 48000 -c 2 -b 16 "$work/switch.wav" synth 120 sine 1000 vol 0.5
sox -q -n -r 48000 -c 2 -b 16 "$work/back.wav" synth 120 sine 660 vol 0.5
# Seconds into FILE from which HZ is heard (a 20 ms window at least 20 dB over silence), from AFTER.
heard_from() {
  ffmpeg -v error -i "$1" -af "pan=mono|c0=c0" -f f32le -ar 48000 - | python3 -c '
import sys, array, math
s = array.array("f"); s.frombytes(sys.stdin.buffer.read())
hz, after, n = float(sys.argv[1]), float(sys.argv[2]), 960
k = 2 * math.cos(2 * math.pi * hz / 48000)
for start in range(int(after * 48000), len(s) - n, n // 4):
    p1 = p2 = 0.0
    for x in s[start:start + n]: p1, p2 = x + k * p1 - p2, p1
    if 10 * math.log10(2 * (p1 * p1 + p2 * p2 - k * p1 * p2) / (n * n) + 1e-20) > -20:
        print("%.3f" % (start / 48000)); sys.exit()
print("nan")' "$2" "$3"
}
# A recording that starts on the speakers; CHANGE runs at 3 s. Prints the delay in ms from the
# moment the change took effect to the first of its audio in the file.
change_delay() {
  local change=$1 hz=$2 start line_at changed_at pid
  rm -f "$work/change.m4a"
  "$mirlet" audio "$work/change.m4a" >"$work/line" 2>/dev/null &
  pid=$!
  while [[ ! -s "$work/line" ]]; do sleep 0.002; done
  line_at=$(now)
  sleep 3
  $change
  changed_at=$(cat "$work/changed")
  sleep 4
  kill -INT "$pid"; wait "$pid" || true
  echo "$(heard_from "$work/change.m4a" "$hz" "$(echo "$changed_at - $line_at" | bc -l)") \
    $changed_at $line_at" | awk '{printf "%.0f", ($1 - ($2 - $3)) * 1000}'
}
# Each change notes when it took effect.
switch_to_headset() { pactl set-default-sink headset >/dev/null; now >"$work/changed"; }
restart_server() {
  "$root/scripts/test-services.sh" restart-sound "$services" 1 >/dev/null
  local back; back=$(now)
  echo "$back" >"$work/changed"
  # mirlet's own part: until its record stream is on the new server.
  until pactl list short source-outputs 2>/dev/null | grep -q .; do sleep 0.005; done
  echo "($(now) - $back) * 1000" | bc -l | xargs printf '%.0f' >"$work/reconnected"
  paplay --latency-msec=100 "$work/back.wav" 2>/dev/null &
}
for latency in 100 default; do
  module=$(pactl load-module module-null-sink sink_name=headset)
  pactl set-default-sink speakers
  if [[ $latency == default ]]; then paplay -d headset "$work/switch.wav" 2>/dev/null &
  else paplay --latency-msec=100 -d headset "$work/switch.wav" 2>/dev/null &
  fi
  sleep 2.5
  printf '%-18s default output switched -> its audio in the file after %s ms (player latency %s)\n' \
    "mirlet" "$(change_delay switch_to_headset 1000)" "$latency"
  pactl unload-module "$module"
done
pactl set-default-sink speakers
delay=$(change_delay restart_server 660)
printf '%-18s sound server back (restarted after 1 s) -> recording again after %s ms, audio of a player started then in the file after %s ms\n' \
  "mirlet" "$(cat "$work/reconnected")" "$delay"

# Crash survival: killed after `kill_after` seconds; all but the last second must be readable.
"$mirlet" audio "$work/killed.m4a" >/dev/null 2>&1 &
pid=$!; sleep "$kill_after"; kill -KILL "$pid"; { wait "$pid"; } 2>/dev/null || true
printf '%-18s killed after %s s, ffprobe reads %.2f s (target >= %s s)\n' "mirlet SIGKILL" \
  "$kill_after" "$(duration_of "$work/killed.m4a")" "$((kill_after - 1))"
