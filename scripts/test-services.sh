#!/usr/bin/env bash
# Starts or stops the tests' private desktop: an Xvfb on a display number of its own and a sound
# server with its own runtime folder and socket, a null sink as the default output and a null
# source as a microphone. Nothing here touches the user's own display or sound.
#
# The sound server is PulseAudio, or PipeWire with WirePlumber and pipewire-pulse (the PulseAudio
# server of most current desktops); clients reach either through the same kind of socket.
#
# The desktop is the Xvfb alone (no window manager), or a headless sway (wlroots) with two outputs
# side by side, the second at scale 2, and XWayland, run as an unprivileged user (nobody) when
# started by root.
#
#   test-services.sh start DIR [pulseaudio|pipewire] [xvfb|sway]   (default: $MIRLET_SOUND_SERVER,
#                                 else pulseaudio; xvfb) writes DIR/desktop, DIR/display (":N",
#                                 XWayland's on sway), DIR/pulse-server ("unix:...") and
#                                 DIR/client.conf; on sway also DIR/wayland-display and
#                                 DIR/swaysock (socket paths), DIR/sway-root (its folder, with
#                                 runtime/ and home/) and DIR/sway-user (uid:gid)
#   test-services.sh restart-sound DIR [SECONDS]   kills the sound server as a crash would,
#                                 waits SECONDS (default 0) and starts it again on the same socket
#   test-services.sh stop DIR
set -euo pipefail

action=${1:?start, restart-sound or stop}
dir=${2:?folder for the services}
socket="$dir/runtime/pulse.sock"

# The processes this script starts, each with its pid file's name and its kernel name, clients
# before the servers they use.
sound_processes=(pipewire-pulse:pipewire-pulse wireplumber:wireplumber pipewire:pipewire
  pulseaudio:pulseaudio)

# Whether PID is still the process named NAME and not yet a zombie: a pid file can outlive its
# process, and its number can come back as someone else's.
running() {
  local pid=$1 name=$2 comm stat
  comm=$(cat "/proc/$pid/comm" 2>/dev/null) && [[ "$comm" == "$name" ]] || return 1
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [[ "${stat:0:1}" != Z ]]
}

# Ends the process of DIR/FILE.pid with SIGNAL, then with SIGKILL if it is still there after five
# seconds, and waits until it is gone.
end_process() {
  local file=$1 name=$2 signal=$3 pid
  [[ -f "$dir/$file.pid" ]] || return 0
  pid=$(cat "$dir/$file.pid")
  if running "$pid" "$name"; then
    kill "-$signal" "$pid" 2>/dev/null || true
    for _ in $(seq 50); do running "$pid" "$name" || break; sleep 0.1; done
    if running "$pid" "$name"; then
      kill -KILL "$pid" 2>/dev/null || true
      for _ in $(seq 20); do running "$pid" "$name" || break; sleep 0.1; done
    fi
  fi
  rm -f "$dir/$file.pid"
}

stop_sound() {
  local entry
  for entry in "${sound_processes[@]}"; do end_process "${entry%%:*}" "${entry#*:}" "$1"; done
}

stop() {
  stop_sound TERM
  end_process xvfb Xvfb TERM
  end_process sway sway TERM
  if [[ -f "$dir/sway-root" ]]; then rm -rf "$(cat "$dir/sway-root")"; rm -f "$dir/sway-root"; fi
}

# A headless sway: no GPU (pixman renders), no input devices, two outputs. Ready in about 0.2 s; the
# drmGetDevices2 errors it logs are harmless.
start_sway() {
  local root user=() owner ipc="" wayland=""
  # In /tmp, which every user can reach: DIR may sit in a folder that sway's user cannot enter.
  root=$(mktemp -d /tmp/mirlet-sway.XXXXXX)
  echo "$root" >"$dir/sway-root"
  mkdir -p "$root/runtime" "$root/home"
  chmod 700 "$root/runtime"
  cat >"$root/config" <<'EOF'
output HEADLESS-1 resolution 1280x720 position 0 0
output HEADLESS-2 resolution 1280x720 position 1280 0 scale 2
workspace 1 output HEADLESS-1
workspace 2 output HEADLESS-2
workspace mirlet-new output HEADLESS-1
default_border normal 2
default_floating_border normal 2
focus_on_window_activation none
xwayland enable
EOF
  owner="$(id -u):$(id -g)"
  if [[ $(id -u) -eq 0 ]]; then
    # sway is not meant to run as root.
    owner=65534:65534
    chown -R "$owner" "$root"
    user=(setpriv --reuid 65534 --regid 65534 --clear-groups)
  fi
  echo "$owner" >"$dir/sway-user"
  "${user[@]}" env -i PATH="$PATH" HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" \
    LANG=C.UTF-8 WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_HEADLESS_OUTPUTS=2 sway -c "$root/config" >"$dir/sway.log" 2>&1 &
  echo $! >"$dir/sway.pid"
  for _ in $(seq 200); do
    ipc=$(compgen -G "$root/runtime/sway-ipc.*.sock" || true)
    wayland=$(compgen -G "$root/runtime/wayland-[0-9]" || true)
    [[ -n "$ipc" && -n "$wayland" ]] && break
    running "$(cat "$dir/sway.pid")" sway || break
    sleep 0.05
  done
  [[ -n "$ipc" && -n "$wayland" ]] || { echo "sway did not start:"; tail -n 40 "$dir/sway.log"; exit 1; }
  echo "$ipc" >"$dir/swaysock"
  echo "$wayland" >"$dir/wayland-display"
  # XWayland's display: sway reserves it at its start and gives it to what it runs.
  SWAYSOCK="$ipc" swaymsg -q exec "printf '%s\\n' \"\$DISPLAY\" >'$root/x-display'"
  for _ in $(seq 100); do [[ -s "$root/x-display" ]] && break; sleep 0.05; done
  [[ -s "$root/x-display" ]] || { echo "sway gave no X display"; exit 1; }
  cp "$root/x-display" "$dir/display"
}

# The devices and the socket of a private PipeWire, as configuration snippets in its own
# XDG_CONFIG_HOME; the rest is the packages' own configuration.
configure_pipewire() {
  local config="$dir/config"
  mkdir -p "$config/pipewire/pipewire.conf.d" "$config/pipewire/pipewire-pulse.conf.d" \
    "$config/wireplumber/main.lua.d" "$config/wireplumber/bluetooth.lua.d" "$dir/state"
  cat >"$config/pipewire/pipewire.conf.d/50-mirlet-test-devices.conf" <<'EOF'
context.objects = [
  { factory = adapter
    args = {
      factory.name = support.null-audio-sink
      node.name = "speakers"
      node.description = "Speakers"
      media.class = Audio/Sink
      audio.position = [ FL FR ]
    }
  }
  { factory = adapter
    args = {
      factory.name = support.null-audio-sink
      node.name = "microphone"
      node.description = "Microphone"
      media.class = Audio/Source/Virtual
      audio.position = [ FL FR ]
    }
  }
]
EOF
  cat >"$config/pipewire/pipewire-pulse.conf.d/50-mirlet-test-socket.conf" <<EOF
pulse.properties = {
  server.address = [ "unix:$socket" ]
}
EOF
  # Without these WirePlumber asks D-Bus for device reservation and the Flatpak portal. The
  # private server also leaves the machine's real cards, cameras and Bluetooth alone: it would
  # otherwise open the user's own sound devices.
  cat >"$config/wireplumber/main.lua.d/51-mirlet-test.lua" <<'EOF'
alsa_monitor.properties["alsa.reserve"] = false
default_access.properties["enable-flatpak-portal"] = false
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
EOF
  cat >"$config/wireplumber/bluetooth.lua.d/51-mirlet-test.lua" <<'EOF'
bluez_monitor.enabled = false
EOF
}

start_pulseaudio() {
  HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" DISPLAY= \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
      --log-target=stderr \
      -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
      -L "module-null-sink sink_name=speakers sink_properties=device.description=Speakers" \
      -L "module-null-source source_name=microphone" \
      >>"$dir/pulseaudio.log" 2>&1 &
  echo $! >"$dir/pulseaudio.pid"
}

# Runs a PipeWire program in the private folders. No D-Bus: the user's session bus stays out of
# reach, and without DISPLAY nothing tries to autolaunch one.
pipewire_run() {
  local name=$1
  env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY -u PIPEWIRE_REMOTE \
    -u PIPEWIRE_RUNTIME_DIR -u PIPEWIRE_CONFIG_DIR -u WIREPLUMBER_CONFIG_DIR -u PULSE_SERVER \
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
    XDG_STATE_HOME="$dir/state" "$name" >>"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}

start_pipewire() {
  # A killed core leaves its socket behind; waiting for a new one must not find the old.
  rm -f "$dir/runtime/pipewire-0"
  pipewire_run pipewire
  # The session manager and the PulseAudio server connect at their start, so the core's socket
  # comes first.
  for _ in $(seq 100); do
    [[ -S "$dir/runtime/pipewire-0" ]] && break
    running "$(cat "$dir/pipewire.pid")" pipewire || break
    sleep 0.05
  done
  pipewire_run wireplumber
  pipewire_run pipewire-pulse
}

# Waits until the sound server answers with the null sink and source as its defaults: PulseAudio
# answers before its -L modules are loaded, and pipewire-pulse before WirePlumber chose them.
wait_for_sound() {
  local server=$1 sink="" source="" deadline=$((SECONDS + 10)) ended="" entry
  export PULSE_SERVER="unix:$socket" PULSE_CLIENTCONFIG="$dir/client.conf"
  while [[ $SECONDS -lt $deadline && -z "$ended" ]]; do
    sink=$(timeout 2 pactl get-default-sink 2>/dev/null || true)
    source=$(timeout 2 pactl get-default-source 2>/dev/null || true)
    [[ "$sink" == speakers && "$source" == microphone ]] && return 0
    for entry in "${sound_processes[@]}"; do
      [[ -f "$dir/${entry%%:*}.pid" ]] || continue
      running "$(cat "$dir/${entry%%:*}.pid")" "${entry#*:}" || ended=${entry%%:*}
    done
    sleep 0.1
  done
  echo "$server did not start with the null devices as defaults" \
    "(default sink '$sink', default source '$source'${ended:+; $ended ended}):"
  local log
  for log in "$dir"/pulseaudio.log "$dir"/pipewire.log "$dir"/wireplumber.log \
    "$dir"/pipewire-pulse.log; do
    [[ -f "$log" ]] && { echo "== $log"; tail -n 40 "$log"; }
  done
  return 1
}

start_sound() {
  local server
  server=$(cat "$dir/sound-server")
  "start_$server"
  wait_for_sound "$server"
}

start() {
  local server=${1:-${MIRLET_SOUND_SERVER:-pulseaudio}} desktop=${2:-xvfb}
  case "$server" in
    pulseaudio | pipewire) ;;
    *) echo "unknown sound server: $server (pulseaudio or pipewire)" >&2; exit 2 ;;
  esac
  case "$desktop" in
    xvfb | sway) ;;
    *) echo "unknown desktop: $desktop (xvfb or sway)" >&2; exit 2 ;;
  esac
  stop
  rm -rf "$dir"
  mkdir -p "$dir/home" "$dir/runtime"
  chmod 700 "$dir/runtime"
  # A start that fails half-way leaves nothing running.
  trap stop EXIT

  echo "$desktop" >"$dir/desktop"
  if [[ "$desktop" == sway ]]; then
    start_sway
  else
    # Xvfb picks a free display number itself and writes it to the pipe once it listens.
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1920x1080x24 -noreset -nolisten tcp \
      +extension Composite +extension RANDR >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    local number=""
    read -r -t 10 -u "$fd" number || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
    exec {fd}<&-
    echo ":$number" >"$dir/display"
  fi

  echo "$server" >"$dir/sound-server"
  printf 'autospawn = no\n' >"$dir/client.conf"
  if [[ "$server" == pipewire ]]; then configure_pipewire; fi
  echo "unix:$socket" >"$dir/pulse-server"
  start_sound
  trap - EXIT
  echo "$desktop, display $(cat "$dir/display"), sound server unix:$socket ($server)"
}

# A crash and a restart of the sound server: SIGKILL leaves its socket file behind, as a crash
# does, and the new server takes the same path over.
restart_sound() {
  [[ -f "$dir/sound-server" ]] || { echo "no services in $dir" >&2; exit 1; }
  stop_sound KILL
  sleep "${1:-0}"
  start_sound
}

case "$action" in
  start) start "${3:-}" "${4:-}" ;;
  restart-sound) restart_sound "${3:-0}" ;;
  stop) stop ;;
  *) echo "usage: $0 start DIR [pulseaudio|pipewire] [xvfb|sway] | restart-sound DIR [SECONDS] | stop DIR" >&2
     exit 2 ;;
esac
