#!/usr/bin/env bash
# Builds corvane and runs every test. Extra arguments go to cmake, e.g.
#   BUILD_DIR=build-asan scripts/check.sh -DCORVANE_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-test-deps.sh
build=${BUILD_DIR:-build}
# Every test, so GoogleTest and htslib are required rather than optional.
cmake -S . -B "$build" -G Ninja -DCORVANE_WERROR=ON -DCORVANE_TESTS=ON -DCORVANE_HTSLIB=ON "$@"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
