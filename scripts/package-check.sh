#!/usr/bin/env bash
# Checks the Debian package as a user would: installs it with apt-get (which pulls its
# dependencies), runs the installed /usr/bin/mirlet on a private desktop (a virtual display with
# an xlogo window and a sound server of its own: check, request, micbusy, windows, a shot, a
# two-second recording and audioout, each with its line and status 0), the screen commands and a
# recording once more on a headless sway (a Wayland session), the screen commands on headless
# GNOME Shell (with the installed extension, enabled as a user would) and KDE Plasma's KWin (which
# the installed desktop entry lets the installed mirlet ask, with nothing to do), then removes it with
# dpkg -r and checks that nothing is left: none of its files, no record in dpkg. A mirlet package installed before is
# removed first. Needs root, or sudo.
#   scripts/package-check.sh [PACKAGE.deb]      (default: the one in build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" package

if [[ $# -gt 0 ]]; then
  package=$(realpath "$1")
else
  shopt -s nullglob
  packages=("$root"/build/mirlet_*.deb)
  shopt -u nullglob
  [[ ${#packages[@]} -eq 1 ]] || { echo "need one build/mirlet_*.deb (scripts/package.sh)" >&2; exit 1; }
  package=${packages[0]}
fi
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
mirlet=/usr/bin/mirlet
command=("$mirlet")  # how expect runs it

work=$(mktemp -d)
services="$work/services"
sway_services="$work/sway"
installed=0
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$root/scripts/test-services.sh" stop "$services" >/dev/null 2>&1 || true
  "$root/scripts/test-services.sh" stop "$sway_services" >/dev/null 2>&1 || true
  for desktop in gnome kde; do
    "$root/scripts/test-services.sh" stop "$work/$desktop" >/dev/null 2>&1 || true
  done
  if [[ $installed -eq 1 ]]; then "${sudo[@]}" dpkg -r mirlet >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' mirlet 2>/dev/null | grep -q 'install ok installed'; then
  echo "== removing the mirlet package installed before"
  "${sudo[@]}" dpkg -r mirlet
fi
echo "== installing $package"
installed=1
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "$package"
files=$(dpkg -L mirlet)
[[ -x $mirlet && -f /usr/lib/mirlet/mirlet-ffmpeg.so &&
  -f /usr/lib/mirlet/mirlet-wayland.so && -f /usr/lib/mirlet/mirlet-shell.so &&
  -f /usr/share/man/man1/mirlet.1.gz &&
  -f /usr/share/gnome-shell/extensions/mirlet@mirlet.dev/extension.js &&
  -f /usr/share/applications/mirlet.desktop ]] \
  || fail "installed files missing: $files"

echo "== the installed mirlet on a private desktop"
"$root/scripts/test-services.sh" start "$services"
DISPLAY=$(cat "$services/display")
PULSE_SERVER=$(cat "$services/pulse-server")
export DISPLAY PULSE_SERVER PULSE_CLIENTCONFIG="$services/client.conf"
xlogo -geometry 400x300+50+60 & pids+=($!)

# expect PATTERN ARGS...: mirlet ARGS... ends with status 0, one line on standard output that
# matches PATTERN (an extended regular expression, anchored), nothing on standard error.
expect() {
  local pattern=$1 status=0
  shift
  "${command[@]}" "$@" >"$work/out" 2>"$work/err" || status=$?
  local out
  out=$(cat "$work/out")
  [[ $status -eq 0 && $(wc -l <"$work/out") -eq 1 && $out =~ ^$pattern$ && ! -s "$work/err" ]] \
    || fail "mirlet $*: status $status, standard output '$out', standard error '$(cat "$work/err")'"
  echo "ok: mirlet $*: $out"
}

expect '\{"screen":true\}' check
expect '\{"screen":true\}' request
expect '\{"busy":(true|false)\}' micbusy
for _ in $(seq 50); do
  [[ $("$mirlet" windows 2>/dev/null) == *'"app":"XLogo"'* ]] && break
  sleep 0.1
done
expect '\[\{.*"app":"XLogo".*\}\]' windows
id=$(grep -o '"id":[0-9]*' "$work/out" | head -n 1 | cut -d: -f2)

expect "\\{\"ok\":true,\"mode\":\"window\",\"path\":\"$work/shot.png\"\\}" shot "$id" "$work/shot.png"
[[ $(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] \
  || fail "$work/shot.png is not a PNG"

"$mirlet" audio "$work/rec.m4a" >"$work/audio.out" 2>"$work/audio.err" &
recorder=$!
pids+=("$recorder")
for _ in $(seq 100); do [[ -s "$work/audio.out" ]] && break; sleep 0.1; done
[[ $(cat "$work/audio.out") == "{\"ok\":true,\"recording\":\"$work/rec.m4a\"}" ]] \
  || fail "mirlet audio: standard output '$(cat "$work/audio.out")', standard error '$(cat "$work/audio.err")'"
sleep 2
kill -INT "$recorder"
status=0
wait "$recorder" || status=$?
[[ $status -eq 0 && $(cat "$work/audio.err") == stopped ]] \
  || fail "mirlet audio: status $status, standard error '$(cat "$work/audio.err")'"
stream=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
  -of csv=p=0 "$work/rec.m4a") || fail "ffprobe cannot read $work/rec.m4a"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/rec.m4a")
if [[ $stream != aac,48000,2 ]] || ! awk -v d="$duration" 'BEGIN { exit !(d >= 1.5 && d <= 4) }'; then
  fail "mirlet audio: the file holds '$stream', $duration s"
fi
echo "ok: mirlet audio $work/rec.m4a: $(cat "$work/audio.out"), stopped, ${duration} s of aac"

expect '\{.*"ok":true.*\}' audioout

echo "== the installed mirlet on a headless sway"
"$root/scripts/test-services.sh" start "$sway_services" pulseaudio sway
sway_env=(env -u DISPLAY WAYLAND_DISPLAY="$(cat "$sway_services/wayland-display")"
  SWAYSOCK="$(cat "$sway_services/swaysock")" PULSE_SERVER="$(cat "$sway_services/pulse-server")"
  PULSE_CLIENTCONFIG="$sway_services/client.conf")
command=("${sway_env[@]}" "$mirlet")
# A native window, started by sway as its own user.
"${sway_env[@]}" swaymsg -q exec "foot --app-id=mirlet.check --title=check sleep 60"
for _ in $(seq 50); do
  [[ $("${command[@]}" windows 2>/dev/null) == *'"app":"mirlet.check"'* ]] && break
  sleep 0.1
done
expect '\{"screen":true\}' check
expect '\{"screen":true\}' request
expect '\[\{.*"app":"mirlet.check".*\}\]' windows
id=$(grep -o '"id":[0-9]*' "$work/out" | head -n 1 | cut -d: -f2)
expect "\\{\"ok\":true,\"mode\":\"window\",\"path\":\"$work/sway.png\"\\}" shot "$id" "$work/sway.png"
"${command[@]}" audio "$work/sway.m4a" >"$work/audio.out" 2>"$work/audio.err" &
recorder=$!
pids+=("$recorder")
for _ in $(seq 100); do [[ -s "$work/audio.out" ]] && break; sleep 0.1; done
[[ $(cat "$work/audio.out") == "{\"ok\":true,\"recording\":\"$work/sway.m4a\"}" ]] \
  || fail "mirlet audio on sway: standard output '$(cat "$work/audio.out")', standard error '$(cat "$work/audio.err")'"
kill -INT "$recorder"
status=0
wait "$recorder" || status=$?
[[ $status -eq 0 && $(cat "$work/audio.err") == stopped ]] \
  || fail "mirlet audio on sway: status $status, standard error '$(cat "$work/audio.err")'"
echo "ok: mirlet audio $work/sway.m4a on sway: $(cat "$work/audio.out"), stopped"
command=("$mirlet")

# The desktops' user writes the pictures.
chmod 755 "$work"
mkdir -m 777 "$work/shots"
for desktop in gnome kde; do
  echo "== the installed mirlet on headless $desktop"
  MIRLET_GNOME_EXTENSIONS=mirlet@mirlet.dev "$root/scripts/test-services.sh" start "$work/$desktop" "$desktop"
  on_desktop=("$root/scripts/test-services.sh" run "$work/$desktop")
  "${on_desktop[@]}" test-window.py dev.mirlet.Check check '#00ff00' 300 200 >/dev/null 2>&1 &
  pids+=($!)
  command=("${on_desktop[@]}" "$mirlet")
  for _ in $(seq 50); do
    [[ $("${command[@]}" windows 2>/dev/null) == *'"title":"check"'* ]] && break
    sleep 0.1
  done
  expect '\{"screen":true\}' check
  expect '\[\{.*"title":"check".*\}\]' windows
  id=$(grep -o '"id":[0-9]*' "$work/out" | head -n 1 | cut -d: -f2)
  expect "\\{\"ok\":true,\"mode\":\"window\",\"path\":\"$work/shots/$desktop.png\"\\}" \
    shot "$id" "$work/shots/$desktop.png"
  "$root/scripts/test-services.sh" stop "$work/$desktop"
done
command=("$mirlet")

echo "== removing the package"
installed=0
"${sudo[@]}" dpkg -r mirlet
left=()
while IFS= read -r path; do
  [[ -f $path || -L $path ]] && left+=("$path")
done <<<"$files"
[[ -e /usr/lib/mirlet ]] && left+=(/usr/lib/mirlet)
[[ -e /usr/share/doc/mirlet ]] && left+=(/usr/share/doc/mirlet)
# No maintainer script and no configuration file: dpkg forgets the package on removal.
state=$(dpkg-query -W -f='${Status}' mirlet 2>/dev/null || true)
[[ -z $state || $state == *not-installed ]] || left+=("dpkg state '$state'")
[[ ${#left[@]} -eq 0 ]] || fail "left behind after dpkg -r: ${left[*]}"
echo "package check passed: installed, every command answered, removed without a trace"
