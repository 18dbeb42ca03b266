#!/usr/bin/env bash
# Installs the Debian packages that mirlet needs and that are missing; does nothing when all are
# there. Groups: build (compile), test (the test suite's servers and tools), bench (the tools that
# the benchmarks compare against), package (build the Debian package, check it with lintian, and
# run the installed package on a private desktop).
#   scripts/install-deps.sh [build] [test] [bench] [package]     (default: build test)
# The tests run their own private PipeWire, but Debian's pipewire-pulse also enables its user
# service for every login; on a desktop that should stay on PulseAudio,
# `systemctl --global disable pipewire-pulse.socket pipewire-pulse.service` keeps it there.
set -euo pipefail

build=(g++ cmake ninja-build pkg-config binutils
  libx11-dev libx11-xcb-dev libxcb1-dev libxcb-randr0-dev libxcomposite-dev libxext-dev libxdamage-dev libxfixes-dev
  libpulse-dev libavformat-dev libavcodec-dev libavutil-dev zlib1g-dev
  libwayland-dev wayland-protocols librust-wayland-protocols-dev nlohmann-json3-dev)
test=(libgtest-dev libgmock-dev libspng-dev clang-14 libclang-rt-14-dev
  xvfb x11-apps x11-utils x11-xserver-utils xterm xdotool
  pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber ffmpeg sox
  sway foot xwayland grim util-linux)
bench=(hyperfine imagemagick maim wmctrl openbox time jq python3 strace bc procps grim)
package=(dpkg-dev file lintian man-db
  xvfb x11-apps pulseaudio pulseaudio-utils ffmpeg sway foot)

groups=("$@")
[[ ${#groups[@]} -gt 0 ]] || groups=(build test)
wanted=()
for group in "${groups[@]}"; do
  case "$group" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    *) echo "unknown group: $group (build, test, bench or package)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
