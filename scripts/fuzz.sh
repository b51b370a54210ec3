#!/usr/bin/env bash
# Fuzzes the record loop with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer for SECONDS (default 60), seeded with the test
# fixtures. A crash fails the run and leaves its input in build-fuzz/crashes/;
# keep it in fuzz/regressions/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${BUILD_DIR:-build-fuzz}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_records
corpus="$build/corpus"
mkdir -p "$corpus" "$build/crashes"
cp tests/cli/cases/*.sam fuzz/regressions/* "$corpus"/ 2>/dev/null || true
"$build/fuzz/fuzz_records" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -max_len=4096 -dict=fuzz/sam.dict -print_final_stats=1 -artifact_prefix="$build/crashes/" "$corpus"
