#!/usr/bin/env bash
# Fuzzes one target of tests/fuzz for a while, at the lowest priority:
#   bash scripts/fuzz.sh TARGET [SECONDS]       (default 1800 seconds)
# TARGET is fuzz_RecordWalk, fuzz_RunList, fuzz_AttributeList, fuzz_Volume,
# fuzz_CompressedStream or fuzz_IndexBlock.
# Builds build/fuzz with clang first. What the fuzzer learns stays in
# build/fuzz/work/TARGET for the next run; a crash or hang is written to
# build/fuzz/artifacts/TARGET/. Keep a mended one as a named case under
# tests/fuzz/cases/TARGET/, which every test run replays. Run one fuzzer at
# a time on a shared machine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}
seconds=${2:-1800}

source "$root/scripts/fuzzbuild.sh"
build_fuzzers "$root/build/fuzz"

dir="$root/build/fuzz/tests/fuzz"
work="$root/build/fuzz/work/$target"
artifacts="$root/build/fuzz/artifacts/$target"
mkdir -p "$work" "$artifacts"
mapfile -t corpora < <(fuzz_corpora "$root/build/fuzz" "$target")
nice -n 19 "$dir/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
  -max_len=1048576 -print_final_stats=1 -artifact_prefix="$artifacts/" \
  "$work" "${corpora[@]}"
