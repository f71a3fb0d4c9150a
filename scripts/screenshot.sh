#!/usr/bin/env bash
# Makes the README's picture of the file selection page from the demo
# volume, without a display: docs/file-selection-page.png.
#   bash scripts/screenshot.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${1:-$root/build/release}"

bash "$root/scripts/setup.sh"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target tarnwick_screenshot tarnwick_demo_volume

mkdir -p "$root/docs"
# Sanitizer builds would report ntfs-3g's and Qt's own allocations kept until exit.
ASAN_OPTIONS=detect_leaks=0 "$build/tests/wizard/tarnwick_screenshot" "$build/fixtures/demo.img" \
  "$root/docs/file-selection-page.png"
echo "Wrote docs/file-selection-page.png"
