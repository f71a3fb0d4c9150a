#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick twice (with AddressSanitizer and
# UndefinedBehaviorSanitizer, then as a release build), builds the suites
# that drive the MFT reader thread with ThreadSanitizer, builds the libFuzzer
# targets with clang and runs each one briefly, checks the release build as
# installed into a temporary folder, then runs the ThreadSanitizer suites and
# every test in both builds. The release build's CTest summary is the last
# thing printed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/setup.sh"

configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -Wno-dev "$@"
}

build() {
  configure "$@"
  cmake --build "$1" -j "$(nproc)"
}

build "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON
build "$root/build/release" -DCMAKE_BUILD_TYPE=Release

# The MFT reader's read-ahead thread is the only second thread; these suites
# drive it through whole scans, failing reads and a cancelled record pass.
# Only they are built with ThreadSanitizer, as the build costs CI time.
tsan_suites=(ntfs_fixturevolumes engine_realvolumes engine_damagedvolumes engine_appcontext)
tsan_tests="^($(IFS='|' && echo "${tsan_suites[*]}"))\$"
configure "$root/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_SANITIZE_THREAD=ON -DTARNWICK_BUILD_GUI=OFF
cmake --build "$root/build/tsan" -j "$(nproc)" --target "${tsan_suites[@]}"

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
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
(cd "$root/build/sanitize" && ctest --output-on-failure -j "$(nproc)")
(cd "$root/build/tsan" && TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --output-on-failure -j "$(nproc)" -R "$tsan_tests")
(cd "$root/build/release" && ctest --output-on-failure -j "$(nproc)")
