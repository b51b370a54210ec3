#!/usr/bin/env bash
# project(VERSION) is the one place the version is kept: --version, the
# conda recipe and the package names in the README must say the same. (The
# package and the tarball themselves are checked where they are made: deb.sh,
# conda.sh, distcheck.sh.)
#   version.sh CORVANE VERSION SOURCE_DIR
set -u
corvane=$1 version=$2 src=$3
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"
check "--version" "$("$corvane" --version 2>&1)" "$version"
check "README's package names" \
  "$(grep -oE 'corvane[-_][0-9]+(\.[0-9]+)+' "$src/README.md" | sed 's/^corvane[-_]//' | sort -u)" "$version"
# A release tarball carries no recipe (see packaging/cpack-stage.cmake).
if [ -e "$src/packaging/conda/meta.yaml" ]; then
  /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/recipe.py" check \
    "$src/packaging/conda/meta.yaml" "$version" || fail=1
fi
exit $fail
