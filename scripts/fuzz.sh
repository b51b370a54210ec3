#!/usr/bin/env bash
# Fuzzes with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer
# for SECONDS in all (default 60): the record loop (fuzz_records) and BAM
# through the binary reader (fuzz_binary) for two fifths of the time each,
# the run-at-a-time layout against the column walk (fuzz_layouts) for the
# last fifth; fewer targets share the time in the same proportions. The
# text targets are seeded with the test fixtures and fuzz/corpus, the
# binary one with fuzz/corpus-binary. A crash or a difference fails the run
# and leaves its input in build-fuzz/crashes/; keep it in fuzz/regressions/
# (or fuzz/regressions-binary/) once fixed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_records fuzz_binary fuzz_layouts)
build=${BUILD_DIR:-build-fuzz}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"
mkdir -p "$build/crashes"
weight() { [[ $1 == fuzz_layouts ]] && echo 1 || echo 2; }
total=0
for target in "${targets[@]}"; do total=$((total + $(weight "$target"))); done
for target in "${targets[@]}"; do
  # Each target keeps a corpus of its own across runs.
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  if [[ $target == fuzz_binary ]]; then
    cp fuzz/corpus-binary/* fuzz/regressions-binary/* "$corpus"/ 2>/dev/null || true
    options=()
  else
    cp tests/cli/cases/*.sam fuzz/regressions/* fuzz/corpus/* "$corpus"/ 2>/dev/null || true
    options=(-dict=fuzz/sam.dict)
  fi
  share=$((seconds * $(weight "$target") / total))
  echo "== $target, $share s" >&2
  "$build/fuzz/$target" -max_total_time="$share" -timeout=30 -rss_limit_mb=2048 \
    -max_len=8192 "${options[@]}" -print_final_stats=1 -artifact_prefix="$build/crashes/" \
    "$corpus"
done
