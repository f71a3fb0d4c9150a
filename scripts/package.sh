#!/usr/bin/env bash
# Builds the Debian package tarnwick_VERSION_amd64.deb in build/package and
# checks it: the installed layout as scripts/check-install.sh sees it, the
# dependencies apt would install it with, and lintian, which must report no
# errors. Prints the package's path last.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/package"

bash "$root/scripts/setup.sh"

# Compiled and linked with the hardening flags a Debian package build uses
# (stack protector, fortified functions, read-only relocations bound at
# start); no debugging information, as the package is stripped anyway.
eval "$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DTARNWICK_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$CPPFLAGS ${CFLAGS//-g /}" -DCMAKE_CXX_FLAGS="$CPPFLAGS ${CXXFLAGS//-g /}" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tarnwick_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/tarnwick_*.deb)

bash "$root/scripts/check-install.sh" "$build"
apt-get install --simulate -qq "$package" >/dev/null
lintian --fail-on error --tag-display-limit 0 "$package"
echo "$package"
