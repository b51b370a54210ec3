#!/usr/bin/env bash
# At release: writes the version and the sha256 of the published tarball
# into the conda recipe.
#   packaging/update-recipe.sh corvane-VERSION.tar.gz [meta.yaml]
# The recipe stays out of the tarball (see cpack-stage.cmake), so writing
# the checksum does not change what it checks.
set -euo pipefail
tarball=$1
recipe=${2:-$(dirname "$0")/conda/meta.yaml}
name=$(basename "$tarball")
[[ $name =~ ^corvane-([0-9][0-9A-Za-z.]*)\.tar\.gz$ ]] ||
  { echo "update-recipe.sh: not a release tarball: $tarball" >&2; exit 1; }
version=${BASH_REMATCH[1]}
sha=$(sha256sum "$tarball" | cut -d' ' -f1)
sed -i -E \
  -e "s/^\{% set version = \"[^\"]*\" %\}$/{% set version = \"$version\" %}/" \
  -e "s/^\{% set sha256 = \"[^\"]*\" %\}$/{% set sha256 = \"$sha\" %}/" "$recipe"
grep -qFx "{% set version = \"$version\" %}" "$recipe" && grep -qFx "{% set sha256 = \"$sha\" %}" "$recipe" ||
  { echo "update-recipe.sh: $recipe lacks the version or sha256 line" >&2; exit 1; }
