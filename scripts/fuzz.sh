#!/usr/bin/env bash
# Fuzzes with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer
# for SECONDS in all (default 60), seeded with the test fixtures and
# fuzz/corpus: the record loop (fuzz_records) for two thirds of the time,
# then the run-at-a-time layout against the column walk (fuzz_layouts). A
# crash or a difference fails the run and leaves its input in
# build-fuzz/crashes/; keep it in fuzz/regressions/ once fixed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_records fuzz_layouts)
build=${BUILD_DIR:-build-fuzz}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  # Each target keeps a corpus of its own across runs.
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  cp tests/cli/cases/*.sam fuzz/regressions/* fuzz/corpus/* "$corpus"/ 2>/dev/null || true
  share=$((seconds / 3))
  [[ $target == fuzz_records && ${#targets[@]} -gt 1 ]] && share=$((seconds - seconds / 3))
  ((${#targets[@]} == 1)) && share=$seconds
  echo "== $target, $share s" >&2
  "$build/fuzz/$target" -max_total_time="$share" -timeout=30 -rss_limit_mb=2048 \
    -max_len=8192 -dict=fuzz/sam.dict -print_final_stats=1 -artifact_prefix="$build/crashes/" \
    "$corpus"
done
