# Shared by scripts/test.sh and scripts/fuzz.sh: the libFuzzer build, with
# clang, of the fuzz targets and their seed corpora only.
fuzz_targets=(fuzz_RecordWalk fuzz_RunList fuzz_AttributeList fuzz_Volume fuzz_CompressedStream fuzz_IndexBlock)
# Mutations per target in the brief run: a few seconds each, the whole
# volume being by far the slowest to run once.
declare -A fuzz_brief_runs=([fuzz_RecordWalk]=5000 [fuzz_RunList]=5000 [fuzz_AttributeList]=1000 [fuzz_Volume]=200
  [fuzz_CompressedStream]=5000 [fuzz_IndexBlock]=20000)

build_fuzzers() {
  local dir=$1
  cmake -S "$root" -B "$dir" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNWICK_BUILD_FUZZERS=ON -DTARNWICK_BUILD_GUI=OFF
  cmake --build "$dir" -j "$(nproc)" --target fuzzers
}

# The seed corpus a build made for TARGET and the cases kept for it, those
# that exist (a target may have neither yet).
fuzz_corpora() {
  local dir=$1 target=$2 folder
  for folder in "$dir/tests/fuzz/corpus/$target" "$root/tests/fuzz/cases/$target"; do
    [ -d "$folder" ] && echo "$folder"
  done
  return 0
}

# Every target over its seeds and kept cases, then a fixed number of
# mutations: a regression that crashes on a known input fails at once.
run_fuzzers_briefly() {
  local dir=$1 runs work status corpora
  for target in "${fuzz_targets[@]}"; do
    runs=${fuzz_brief_runs[$target]:-1000}
    work=$(mktemp -d)
    mapfile -t corpora < <(fuzz_corpora "$dir" "$target")
    echo "== $target: seeds, cases and $runs runs"
    status=0
    "$dir/tests/fuzz/$target" -runs="$runs" -timeout=30 -rss_limit_mb=2560 -max_len=1048576 \
      -artifact_prefix="$work/" "$work" "${corpora[@]}" >"$work/log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      cat "$work/log"
      echo "$target failed; the input is in $work"
      return 1
    fi
    grep -E '(INITED|DONE) ' "$work/log" || true
    rm -rf "$work"
  done
}
