#!/usr/bin/env bash
# The conda recipe, built the way conda-build builds it: the release tarball
# checked against the recipe's sha256 (written by update-recipe.sh, as at a
# release), unpacked as SRC_DIR, build.sh run there with conda's variables
# into a fresh PREFIX, then the recipe's own test commands against it.
#   conda.sh CPACK BUILD_DIR SOURCE_DIR VERSION
set -u
cpack=$1 build=$2 src=$3 version=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tmp=$(mktemp -d)
. "$here/../check.sh"
. "$here/tarball.sh"
trap untracked_note EXIT

make_tarball "$tmp/dist"
cp -r "$src/packaging/conda" "$tmp/recipe"
bash "$src/packaging/update-recipe.sh" "$tarball" "$tmp/recipe/meta.yaml" || exit 1
/usr/bin/python3 "$here/recipe.py" check "$tmp/recipe/meta.yaml" "$version" "$tarball" || exit 1

mkdir "$tmp/src" "$tmp/test"
tar -xzf "$tarball" -C "$tmp/src" --strip-components=1
prefix=$tmp/prefix
# conda-build's defaults for a Linux C++ build, in short.
(cd "$tmp/src" && env PREFIX="$prefix" SRC_DIR="$tmp/src" RECIPE_DIR="$tmp/recipe" \
   CXX="$(command -v c++)" CPU_COUNT=2 \
   CXXFLAGS="-fvisibility-inlines-hidden -fPIC -fstack-protector-strong -O2 -pipe -isystem $prefix/include" \
   LDFLAGS="-Wl,-O2 -Wl,--as-needed -Wl,-z,relro -Wl,-z,now -Wl,-rpath,$prefix/lib -L$prefix/lib" \
   CMAKE_ARGS="-DCMAKE_INSTALL_PREFIX=$prefix -DCMAKE_INSTALL_LIBDIR=lib" \
   bash -e "$tmp/recipe/build.sh") >"$tmp/build.log" 2>&1 ||
  { tail -40 "$tmp/build.log"; echo "FAIL build.sh"; exit 1; }
check "installed files" "$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')" \
  "./bin/corvane ./share/man/man1/corvane.1 "

while IFS= read -r -d '' cmd; do
  (cd "$tmp/test" && PATH=$prefix/bin:$PATH PREFIX=$prefix bash -e -c "$cmd") ||
    { echo "FAIL recipe test command: $cmd"; fail=1; }
done < <(/usr/bin/python3 "$here/recipe.py" commands "$tmp/recipe/meta.yaml")
exit $fail
