# Shared by scripts/test.sh and scripts/fuzz.sh: the libFuzzer build, with
# clang, of the fuzz targets and their seed corpora only.
fuzz_targets=(fuzz_RecordWalk fuzz_RunList fuzz_AttributeList fuzz_Volume)

build_fuzzers() {
  local dir=$1
  cmake -S "$root" -B "$dir" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNWICK_BUILD_FUZZERS=ON -DTARNWICK_BUILD_GUI=OFF
  cmake --build "$dir" -j "$(nproc)" --target fuzzers
}

# Every target over its seeds and kept cases, then a fixed number of
# mutations: a regression that crashes on a known input fails at once.
run_fuzzers_briefly() {
  local dir=$1 runs=$2 work status
  for target in "${fuzz_targets[@]}"; do
    work=$(mktemp -d)
    echo "== $target: seeds, cases and $runs runs"
    status=0
    "$dir/tests/fuzz/$target" -runs="$runs" -timeout=30 -rss_limit_mb=2560 -max_len=1048576 \
      -artifact_prefix="$work/" "$work" "$dir/tests/fuzz/corpus/$target" "$root/tests/fuzz/cases/$target" \
      >"$work/log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      cat "$work/log"
      echo "$target failed; the input is in $work"
      return 1
    fi
    grep -E '(INITED|DONE) ' "$work/log" || true
    rm -rf "$work"
  done
}
