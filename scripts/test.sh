#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick twice (with AddressSanitizer and
# UndefinedBehaviorSanitizer, then as a release build), builds the libFuzzer
# targets with clang and runs each one briefly, checks the release build as
# installed into a temporary folder, then runs every test in both builds.
# The release build's CTest summary is the last thing printed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/setup.sh"

build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -Wno-dev "$@"
  cmake --build "$dir" -j "$(nproc)"
}

build "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON
build "$root/build/release" -DCMAKE_BUILD_TYPE=Release

source "$root/scripts/fuzzbuild.sh"
build_fuzzers "$root/build/fuzz"
run_fuzzers_briefly "$root/build/fuzz"

bash "$root/scripts/check-install.sh" "$root/build/release"
# The Debian package is one more build; TARNWICK_TEST_PACKAGE=1 asks for it.
if [ "${TARNWICK_TEST_PACKAGE:-0}" = 1 ]; then
  bash "$root/scripts/package.sh"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$root/build/sanitize" && ctest --output-on-failure -j "$(nproc)")
(cd "$root/build/release" && ctest --output-on-failure -j "$(nproc)")
