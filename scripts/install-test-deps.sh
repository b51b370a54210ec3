#!/usr/bin/env bash
# Installs, from Debian's packages, the tools the tests use that a fresh
# machine may lack. Does nothing when all are present.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# BAM, CRAM and compressed input, found through pkg-config.
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -e /usr/include/htslib/sam.h ] || need+=(libhts-dev)
# The pipeline tests and the manual page lint. moreutils has a parallel of
# its own; the tests need GNU parallel.
command -v samtools >/dev/null || need+=(samtools)
[[ $(parallel --version 2>/dev/null) == "GNU parallel"* ]] || need+=(parallel)
command -v mandoc >/dev/null || need+=(mandoc)
# The packaging tests: the Debian package's dependencies (dpkg-shlibdeps),
# its check and its manual page; the conda recipe, read by Debian's Python.
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v lintian >/dev/null || need+=(lintian)
command -v man >/dev/null || need+=(man-db)
command -v readelf >/dev/null || need+=(binutils)
/usr/bin/python3 -c 'import jinja2, yaml' 2>/dev/null || need+=(python3-jinja2 python3-yaml)
# The workflow tests (tests/workflow), with Debian's Snakemake 7.
command -v snakemake >/dev/null || need+=(snakemake)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install these Debian packages first: ${need[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
