#!/usr/bin/env bash
# Starts or stops the tests' private desktop: an Xvfb on a display number of its own and a
# PulseAudio with its own runtime folder and socket, a null sink as the default output and a null
# source as a microphone. Nothing here touches the user's own display or sound.
#
#   test-services.sh start DIR   writes DIR/display (":N") and DIR/pulse-server ("unix:...")
#   test-services.sh stop DIR
set -euo pipefail

action=${1:?start or stop}
dir=${2:?folder for the services}

stop() {
  for name in pulseaudio xvfb; do
    if [[ -f "$dir/$name.pid" ]]; then
      pid=$(cat "$dir/$name.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$dir/$name.pid"
    fi
  done
}

start() {
  stop
  rm -rf "$dir"
  mkdir -p "$dir/home" "$dir/runtime"
  chmod 700 "$dir/runtime"

  # Xvfb picks a free display number itself and writes it to the pipe once it listens.
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1920x1080x24 -noreset -nolisten tcp \
    +extension Composite +extension RANDR >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  local number=""
  read -r -t 10 -u "$fd" number || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
  exec {fd}<&-
  echo ":$number" >"$dir/display"

  local socket="$dir/runtime/pulse.sock"
  printf 'autospawn = no\n' >"$dir/client.conf"
  HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" DISPLAY= \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
      --log-target=stderr \
      -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
      -L "module-null-sink sink_name=speakers sink_properties=device.description=Speakers" \
      -L "module-null-source source_name=microphone" \
      >"$dir/pulseaudio.log" 2>&1 &
  echo $! >"$dir/pulseaudio.pid"
  echo "unix:$socket" >"$dir/pulse-server"
  for _ in $(seq 100); do
    if PULSE_SERVER="unix:$socket" PULSE_CLIENTCONFIG="$dir/client.conf" pactl info >/dev/null 2>&1; then
      echo "display $(cat "$dir/display"), sound server unix:$socket"
      return 0
    fi
    sleep 0.1
  done
  echo "PulseAudio did not start:"; cat "$dir/pulseaudio.log"; exit 1
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
