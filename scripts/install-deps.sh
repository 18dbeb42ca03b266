#!/usr/bin/env bash
# Installs the Debian packages that mirlet needs and that are missing; does nothing when all are
# there. Groups: build (compile), test (the test suite's servers and tools, with the Wayland test
# desktops of scripts/test-services.sh: GNOME Shell and KDE Plasma's KWin with Xwayland, and GTK for
# their test windows; those about 500 MB on a bare Debian 12, installed without recommended
# packages, which would bring whole desktop sessions), bench (the tools that the benchmarks compare
# against), package (build the Debian package, check it with lintian, and run the installed
# package on private desktops), desktops (the Wayland test desktops alone).
#   scripts/install-deps.sh [build] [test] [bench] [package] [desktops]     (default: build test)
# The tests run their own private PipeWire, but Debian's pipewire-pulse also enables its user
# service for every login; on a desktop that should stay on PulseAudio,
# `systemctl --global disable pipewire-pulse.socket pipewire-pulse.service` keeps it there.
set -euo pipefail

build=(g++ cmake ninja-build pkg-config binutils
  libxcb1-dev libxcb-randr0-dev libxcb-composite0-dev libxcb-damage0-dev libxcb-shm0-dev
  libpulse-dev libavformat-dev libavcodec-dev libavutil-dev libswresample-dev zlib1g-dev
  libwayland-dev wayland-protocols librust-wayland-protocols-dev nlohmann-json3-dev
  libsystemd-dev)
# Xlib only for the X clients the tests make for themselves.
test=(libgtest-dev libgmock-dev libspng-dev libx11-dev clang-14 libclang-rt-14-dev
  xvfb x11-apps x11-utils x11-xserver-utils xterm xdotool
  pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber ffmpeg sox
  sway foot xwayland grim util-linux)
bench=(hyperfine imagemagick maim wmctrl openbox time jq python3 strace bc procps grim)
# KDE's screenshot tool, without the recommended packages (a Plasma session's worth).
bench_lean=(kde-spectacle)
package=(dpkg-dev file lintian man-db
  xvfb x11-apps pulseaudio pulseaudio-utils ffmpeg sway foot)
desktops=(gnome-shell kwin-wayland libkf5service-bin xwayland dbus-daemon dbus-bin libglib2.0-bin
  util-linux pipewire pipewire-bin pipewire-pulse wireplumber pulseaudio-utils python3-gi
  gir1.2-gtk-3.0)

groups=("$@")
[[ ${#groups[@]} -gt 0 ]] || groups=(build test)
wanted=() lean=()
for group in "${groups[@]}"; do
  case "$group" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}"); lean+=("${desktops[@]}") ;;
    bench) wanted+=("${bench[@]}"); lean+=("${bench_lean[@]}") ;;
    package) wanted+=("${package[@]}"); lean+=("${desktops[@]}") ;;
    desktops) lean+=("${desktops[@]}") ;;
    *) echo "unknown group: $group (build, test, bench, package or desktops)" >&2; exit 2 ;;
  esac
done

# The packages of a list that are not installed yet.
missing() {
  local package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$package"
  done
}
mapfile -t missing < <(missing "${wanted[@]}")
mapfile -t missing_lean < <(missing "${lean[@]}")
[[ ${#missing[@]} -eq 0 && ${#missing_lean[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "installing: ${missing[*]} ${missing_lean[*]}"
"${sudo[@]}" apt-get update -q
if [[ ${#missing[@]} -gt 0 ]]; then
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi
if [[ ${#missing_lean[@]} -gt 0 ]]; then
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
    "${missing_lean[@]}"
fi
