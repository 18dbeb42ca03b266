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
# started by root. The other Wayland desktops are whole compositors instead of Xvfb: headless GNOME
# Shell, or KDE Plasma's KWin on a virtual output, each with a private session bus, a second
# private bus in the place of the system bus, and the PipeWire sound server, all run as an
# unprivileged user (nobody, when this script runs as root) with a home and a runtime folder of
# their own.
#
#   test-services.sh start DIR [pulseaudio|pipewire] [xvfb|sway]   (default: $MIRLET_SOUND_SERVER,
#                                 else pulseaudio; xvfb) writes DIR/desktop, DIR/display (":N",
#                                 XWayland's on sway), DIR/pulse-server ("unix:...") and
#                                 DIR/client.conf; on sway also DIR/wayland-display and
#                                 DIR/swaysock (socket paths), DIR/sway-root (its folder, with
#                                 runtime/ and home/) and DIR/sway-user (uid:gid)
#   test-services.sh start DIR sway   the same as start DIR $MIRLET_SOUND_SERVER sway
#   test-services.sh start DIR gnome|kde   the same files, DIR/display naming the desktop's
#                                 Xwayland, and DIR/env, the environment of a program on that
#                                 desktop, DIR/desktop-root (its folder in /tmp, with home/ and
#                                 runtime/) and DIR/desktop-user (uid:gid). GNOME gets the
#                                 extensions in $MIRLET_GNOME_EXTENSIONS (folders named by their
#                                 uuid, separated by ':'; a bare uuid is an installed one),
#                                 enabled. With $MIRLET_EXECUTABLE (a mirlet with its modules
#                                 beside it) a copy of it goes where the desktop's user can run it
#                                 (DIR/mirlet names it): the extensions answer it, and KWin lets it
#                                 take pictures.
#   test-services.sh run DIR COMMAND [ARGS...]   runs COMMAND on the desktop in DIR, as its user,
#                                 in its environment (DIR/env); stop ends it with the desktop
#   test-services.sh grant DIR EXECUTABLE | revoke DIR   on the KDE desktop: lets EXECUTABLE take
#                                 pictures through KWin, as a desktop entry in the desktop's home
#                                 does, or takes that away again
#   test-services.sh restart-sound DIR [SECONDS]   kills the sound server as a crash would,
#                                 waits SECONDS (default 0) and starts it again on the same socket
#   test-services.sh stop DIR
set -euo pipefail

action=${1:?start, run, grant, revoke, restart-sound or stop}
dir=${2:?folder for the services}
# Absolute, since the desktops' programs get paths into it and run elsewhere.
dir=$(realpath -m -- "$dir")
# The Wayland desktops keep their folders in /tmp, which their user can reach wherever DIR is.
root=$dir
[[ ! -f "$dir/desktop-root" ]] || root=$(cat "$dir/desktop-root")
socket="$root/runtime/pulse.sock"

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
  stop_desktop
  if [[ -f "$dir/desktop-root" ]]; then rm -rf "$(cat "$dir/desktop-root")"; rm -f "$dir/desktop-root"; fi
  root=$dir
  socket="$root/runtime/pulse.sock"
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
  local config="$root/config"
  mkdir -p "$config/pipewire/pipewire.conf.d" "$config/pipewire/pipewire-pulse.conf.d" \
    "$config/wireplumber/main.lua.d" "$config/wireplumber/bluetooth.lua.d" "$root/state"
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
    gnome | kde) stop; start_desktop "$server"; return ;;
    sway) desktop=sway; server=${MIRLET_SOUND_SERVER:-pulseaudio} ;;
    *) echo "unknown kind: $server (pulseaudio, pipewire, gnome, kde or sway)" >&2; exit 2 ;;
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

# ---- The Wayland desktops ------------------------------------------------------------------

# Every process of a desktop carries this variable, also those that its buses start, so that stop
# finds each of them, whoever its parent is by then.
marker="MIRLET_TEST_DESKTOP=$dir"

# The desktop's user: nobody for root, which may not run the desktop as itself (and must not give
# it the power to), otherwise the caller.
desktop_user=()
[[ $(id -u) -ne 0 ]] || desktop_user=(setpriv --reuid 65534 --regid 65534 --clear-groups)

# The environment of every program on the desktop, as written to DIR/env.
desktop_environment() {
  echo "$marker"
  echo "PATH=$root/bin:/usr/local/bin:/usr/bin:/bin"
  echo "HOME=$root/home"
  echo "XDG_RUNTIME_DIR=$root/runtime"
  echo "XDG_CONFIG_HOME=$root/config"
  echo "XDG_STATE_HOME=$root/state"
  echo "DBUS_SESSION_BUS_ADDRESS=unix:path=$root/runtime/bus"
  echo "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$root/system/bus"
  echo "XDG_CURRENT_DESKTOP=$(cat "$dir/desktop" | sed 's/gnome/GNOME/; s/kde/KDE/')"
  echo "XDG_SESSION_TYPE=wayland"
  echo "WAYLAND_DISPLAY=wayland-0"
  echo "PULSE_SERVER=unix:$socket"
  [[ ! -f "$dir/display" ]] || echo "DISPLAY=$(cat "$dir/display")"
  [[ ! -f "$dir/xauthority" ]] || echo "XAUTHORITY=$(cat "$dir/xauthority")"
}

# Runs NAME (with ARGS) in the background on the desktop, its pid in DIR/NAME.pid, its output in
# DIR/NAME.log.
desktop_start() {
  local name=$1
  shift
  local environment
  mapfile -t environment < <(desktop_environment)
  "${desktop_user[@]}" env -i "${environment[@]}" "$@" >>"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}

# Runs COMMAND on the desktop and waits for it.
desktop_run() {
  local environment
  mapfile -t environment < <(desktop_environment)
  "${desktop_user[@]}" env -i "${environment[@]}" "$@"
}

# The processes that carry the marker: the desktop's own, those that its buses or the compositor
# started, and the programs started with `run`.
marked_processes() {
  grep -lzx -- "$marker" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true
}

# Ends the desktop: its compositor first, so that its clients and helpers end with a closed
# connection rather than a vanished server, then whatever still carries the marker, with SIGTERM
# and after five seconds SIGKILL.
stop_desktop() {
  local pids
  end_process compositor "$(cat "$dir/compositor-name" 2>/dev/null || echo none)" TERM
  for signal in TERM KILL; do
    pids=$(marked_processes)
    [[ -n "$pids" ]] || break
    # shellcheck disable=SC2086
    kill "-$signal" $pids 2>/dev/null || true
    for _ in $(seq 50); do
      [[ -n "$(marked_processes)" ]] || break
      sleep 0.1
    done
  done
  rm -f "$dir"/*.pid
  pids=$(marked_processes)
  [[ -z "$pids" ]] || { echo "still running after SIGKILL: $pids" >&2; return 1; }
}

# Waits until COMMAND succeeds on the desktop, for at most SECONDS; fails at once when the
# compositor has ended.
desktop_wait() {
  local what=$1 seconds=$2 deadline
  shift 2
  deadline=$((SECONDS + seconds))
  while ! desktop_run "$@" >/dev/null 2>&1; do
    if ! running "$(cat "$dir/compositor.pid")" "$(cat "$dir/compositor-name")"; then
      echo "$(cat "$dir/compositor-name") ended before $what:"
      tail -n 40 "$dir/compositor.log"
      return 1
    fi
    if [[ $SECONDS -ge $deadline ]]; then
      echo "$what: not within $seconds s:"
      tail -n 40 "$dir/compositor.log"
      return 1
    fi
    sleep 0.05
  done
}

# The session bus, the stand-in for the system bus (GNOME Shell will not start without one to
# ask logind on, though nothing answers there), and the sound server, on the desktop.
start_buses_and_sound() {
  mkdir -p "$root/system"
  cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <!-- root may connect too: the tests' own checks of the bus run as root. -->
  <policy context="default"><allow user="root"/></policy>
</busconfig>
EOF
  chown -R "$desktop_owner" "$root/home" "$root/runtime" "$root/system" "$root/config" "$root/state"
  desktop_start session-bus dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile \
    --address="unix:path=$root/runtime/bus"
  desktop_start system-bus dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile \
    --address="unix:path=$root/system/bus"
  local deadline=$((SECONDS + 10))
  until [[ -S "$root/runtime/bus" && -S "$root/system/bus" ]]; do
    [[ $SECONDS -lt $deadline ]] || { echo "the private buses did not start"; return 1; }
    sleep 0.02
  done
  configure_pipewire
  chown -R "$desktop_owner" "$root/config" "$root/state"
  desktop_start pipewire pipewire
  for _ in $(seq 100); do
    [[ -S "$root/runtime/pipewire-0" ]] && break
    sleep 0.05
  done
  desktop_start wireplumber wireplumber
  desktop_start pipewire-pulse pipewire-pulse
  echo pipewire >"$dir/sound-server"
}

start_gnome() {
  local extension uuid enabled=() deadline
  local extensions="$root/home/.local/share/gnome-shell/extensions"
  mkdir -p "$extensions"
  IFS=: read -ra wanted <<<"${MIRLET_GNOME_EXTENSIONS:-}"
  for extension in "${wanted[@]}"; do
    [[ -n "$extension" ]] || continue
    uuid=$(basename "$extension")
    enabled+=("'$uuid'")
    # A bare uuid names an installed extension, which the shell finds itself.
    [[ "$extension" == */* ]] || continue
    cp -r "$extension" "$extensions/$uuid"
    # The copy of mirlet is the executable that mirlet's extension answers.
    if [[ -f "$dir/mirlet" && "$uuid" == mirlet@mirlet.dev ]]; then
      sed -i "s|\"mirlet-executable\": \"[^\"]*\"|\"mirlet-executable\": \"$(cat "$dir/mirlet")\"|" \
        "$extensions/$uuid/metadata.json"
    fi
  done
  chown -R "$desktop_owner" "$root/home"
  # Set before the shell starts: it reads them once. New windows centred, so that windows of
  # different sizes lie over each other in a known way.
  desktop_run gsettings set org.gnome.shell enabled-extensions "[$(IFS=,; echo "${enabled[*]}")]"
  desktop_run gsettings set org.gnome.mutter center-new-windows true
  desktop_run gsettings set org.gnome.desktop.interface enable-animations false

  echo gnome-shell >"$dir/compositor-name"
  desktop_start compositor gnome-shell --headless --virtual-monitor 1280x720 --wayland
  # The shell owns its name once its JavaScript runs; it starts in the overview, which is closed
  # here, as a user would, so that windows are on screen.
  desktop_wait "GNOME Shell on the bus" 30 gdbus call --session --timeout 2 -d org.gnome.Shell \
    -o /org/gnome/Shell -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive
  desktop_wait "the overview closed" 10 sh -c "
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
      -m org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' &&
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
      -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive | grep -q false"
  for extension in "${enabled[@]}"; do
    desktop_wait "extension $extension enabled" 10 sh -c "
      gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.gnome.Shell.Extensions.GetExtensionInfo $extension | grep -q \"'state': <1.0>\""
  done
  # mutter starts Xwayland with the shell and names its display in the log.
  deadline=$((SECONDS + 10))
  until grep -q "Using public X11 display" "$dir/compositor.log"; do
    [[ $SECONDS -lt $deadline ]] || { echo "no Xwayland display in the shell's log"; return 1; }
    sleep 0.05
  done
  grep -o "Using public X11 display :[0-9]*" "$dir/compositor.log" | grep -o ":[0-9]*" \
    >"$dir/display"
  ls "$root"/runtime/.mutter-Xwaylandauth.* >"$dir/xauthority"
}

start_kde() {
  # The package's kwin_wayland carries the file capability cap_sys_resource, which a container
  # may not grant: exec fails even for root. A copy has none, and it keeps the name, under which
  # Qt finds its platform plugin.
  mkdir -p "$root/bin"
  cp /usr/bin/kwin_wayland "$root/bin/kwin_wayland"
  # KWin starts the programs named after its options once Xwayland runs, with DISPLAY set: this
  # one tells the display, which is also the sign that KWin is ready.
  cat >"$root/bin/announce-display" <<EOF
#!/bin/sh
echo "\$DISPLAY" >"$root/runtime/display.new" && mv "$root/runtime/display.new" "$root/runtime/display"
EOF
  chmod 755 "$root/bin/announce-display"
  echo kwin_wayland >"$dir/compositor-name"
  # New windows centred, as on the GNOME desktop, so that windows of different sizes lie over each
  # other in a known way (KWin's default puts each where it covers the least).
  printf '[Windows]\nPlacement=Centered\n' >"$root/config/kwinrc"
  chown "$desktop_owner" "$root/config/kwinrc"
  # The copy of mirlet may take pictures from the start.
  if [[ -f "$dir/mirlet" ]]; then write_grant "$(cat "$dir/mirlet")"; fi
  # KDE's service cache, where KWin looks for the desktop entries that grant its screenshot
  # interface, ready before KWin starts rather than built by KWin at its first question.
  desktop_run kbuildsycoca5 --noincremental >>"$dir/kbuildsycoca5.log" 2>&1
  desktop_start compositor "$root/bin/kwin_wayland" --virtual --width 1280 --height 720 \
    --no-lockscreen --xwayland --socket wayland-0 "$root/bin/announce-display"
  desktop_wait "Xwayland" 30 test -s "$root/runtime/display"
  cp "$root/runtime/display" "$dir/display"
  desktop_wait "KWin on the bus" 10 gdbus call --session --timeout 2 -d org.kde.KWin \
    -o /Scripting -m org.freedesktop.DBus.Peer.Ping
}

# A copy of $MIRLET_EXECUTABLE and its modules where the desktop's user may run them (a build
# folder may sit where that user cannot enter), named in DIR/mirlet.
stage_mirlet() {
  [[ -n "${MIRLET_EXECUTABLE:-}" ]] || return 0
  local from
  from=$(dirname "$(realpath "$MIRLET_EXECUTABLE")")
  mkdir -p "$root/mirlet"
  cp "$MIRLET_EXECUTABLE" "$root/mirlet/mirlet"
  cp "$from"/mirlet-*.so "$root/mirlet/"
  chmod -R a+rX "$root/mirlet"
  echo "$root/mirlet/mirlet" >"$dir/mirlet"
}

start_desktop() {
  local kind=$1 started
  rm -rf "$dir"
  mkdir -p "$dir"
  root=$(mktemp -d /tmp/mirlet-desktop.XXXXXX)
  chmod 755 "$root"
  echo "$root" >"$dir/desktop-root"
  socket="$root/runtime/pulse.sock"
  mkdir -p "$root/home" "$root/runtime" "$root/config" "$root/state"
  chmod 700 "$root/runtime"
  echo "$kind" >"$dir/desktop"
  desktop_owner=$(id -u):$(id -g)
  [[ ${#desktop_user[@]} -eq 0 ]] || desktop_owner=65534:65534
  echo "$desktop_owner" >"$dir/desktop-user"
  # A start that fails half-way leaves nothing running.
  trap stop EXIT
  started=$(date +%s%N)
  stage_mirlet
  # The tests' windows, also where the clone is closed to the desktop's user.
  mkdir -p "$root/bin"
  cp "$(dirname "$(realpath "$0")")/test-window.py" "$root/bin/"
  chmod 755 "$root/bin" "$root/bin/test-window.py"
  start_buses_and_sound
  wait_for_sound pipewire
  "start_$kind"
  local xauthority
  xauthority=$(cat "$dir/xauthority" 2>/dev/null || true)
  desktop_environment >"$dir/env"
  echo "unix:$socket" >"$dir/pulse-server"
  printf 'autospawn = no\n' >"$dir/client.conf"
  desktop_run dbus-update-activation-environment WAYLAND_DISPLAY=wayland-0 \
    "DISPLAY=$(cat "$dir/display")" ${xauthority:+"XAUTHORITY=$xauthority"}
  trap - EXIT
  echo "$kind desktop ready in $(( ($(date +%s%N) - started) / 1000000 )) ms: wayland-0 in" \
    "$root/runtime, Xwayland $(cat "$dir/display"), sound server unix:$socket"
}

# KWin lets a program take pictures when a desktop entry whose Exec names the program's
# executable (an absolute path; symbolic links are resolved) lists the screenshot interface, and
# it looks only at the first entry it finds for that executable. It finds entries through KDE's
# service cache, which a Plasma session rebuilds when the folders change and this bare desktop
# does not, so it is rebuilt here, until it holds the entry (or no longer does): one rebuild
# here once left a new entry out. KWin looks at a changed cache after up to 1.5 s, so a test
# asks until the answer changes.
grant_entry() {
  echo "$root/home/.local/share/applications/mirlet.desktop"
}

# Whether the service cache names the entry; it keeps its texts in UTF-16.
cache_has_entry() {
  /usr/bin/python3 - "$root"/home/.cache/ksycoca5_* <<'EOF'
import sys
sys.exit(0 if any(b"mirlet.desktop".decode().encode("utf-16-be") in open(path, "rb").read()
                  for path in sys.argv[1:]) else 1)
EOF
}

rebuild_service_cache() {
  local want=$1 deadline=$((SECONDS + 10))
  while :; do
    desktop_run kbuildsycoca5 --noincremental >>"$dir/kbuildsycoca5.log" 2>&1
    if cache_has_entry; then [[ $want == with ]] && return 0
    else [[ $want == without ]] && return 0; fi
    [[ $SECONDS -lt $deadline ]] || { echo "the service cache is still $want the entry" >&2; exit 1; }
    sleep 0.5
  done
}

write_grant() {
  desktop_run mkdir -p "$(dirname "$(grant_entry)")"
  desktop_run sh -c "cat >'$(grant_entry)'" <<EOF
[Desktop Entry]
Type=Application
Name=mirlet
Exec=$1
NoDisplay=true
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
EOF
}

grant() {
  local executable=${1:?executable}
  [[ "$(cat "$dir/desktop" 2>/dev/null)" == kde ]] || { echo "no KDE desktop in $dir" >&2; exit 1; }
  write_grant "$executable"
  rebuild_service_cache with
}

revoke() {
  [[ "$(cat "$dir/desktop" 2>/dev/null)" == kde ]] || { echo "no KDE desktop in $dir" >&2; exit 1; }
  rm -f "$(grant_entry)"
  rebuild_service_cache without
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
  run) shift 2; mapfile -t environment <"$dir/env"
    exec "${desktop_user[@]}" env -i "${environment[@]}" "$@" ;;
  restart-sound) restart_sound "${3:-0}" ;;
  grant) grant "${3:-}" ;;
  revoke) revoke ;;
  stop) stop ;;
  *) echo "usage: $0 start DIR [pulseaudio|pipewire|gnome|kde|sway] [xvfb|sway] |" \
       "run DIR COMMAND [ARGS...] | grant DIR EXECUTABLE | revoke DIR |" \
       "restart-sound DIR [SECONDS] | stop DIR" >&2
     exit 2 ;;
esac
