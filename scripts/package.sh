#!/usr/bin/env bash
# Builds the Debian package: a RelWithDebInfo build of its own in build/package, without the
# tests and with Debian's hardening flags (fortified functions, stack protector, read-only
# relocations), then CPack's DEB generator, which strips the binaries and computes the
# dependencies. The package lands in build/ as mirlet_<version>_<arch>.deb; its path is printed
# last.
#   scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dir="$root/build/package"

"$root/scripts/install-deps.sh" build package

# Immediate binding (-z now) stays off: the modules are loaded with lazy binding, which is what
# keeps the FFmpeg and PulseAudio commands' start-up short.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRLET_TESTS=OFF \
  -DMIRLET_SANITIZE= -DMIRLET_STATIC_CXX_RUNTIME=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$dir"

rm -f "$dir"/mirlet_*.deb "$root"/build/mirlet_*.deb
(cd "$dir" && cpack -G DEB)
package=$(cd "$dir" && ls mirlet_*.deb)
mv "$dir/$package" "$root/build/$package"
echo "$root/build/$package"
