#!/usr/bin/env bash
# conda-build runs this in SRC_DIR, the unpacked release tarball, with the
# toolchain in CXX, CXXFLAGS and LDFLAGS; it installs into PREFIX. CMAKE_ARGS,
# set by conda's compiler activation, is split on purpose.
set -euo pipefail
# shellcheck disable=SC2086
cmake -S . -B build -G Ninja ${CMAKE_ARGS:-} \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="${PREFIX}" \
  -DCORVANE_TESTS=OFF \
  -DCORVANE_HTSLIB=ON
cmake --build build --target corvane -j "${CPU_COUNT:-1}"
cmake --install build
