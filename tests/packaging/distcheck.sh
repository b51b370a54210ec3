#!/usr/bin/env bash
# The release tarball, as `make distcheck` proves one: it holds the tracked
# files and nothing else, and in a fresh directory the README's two commands
# build corvane, run it on the example and pass every test.
#   distcheck.sh CPACK BUILD_DIR SOURCE_DIR VERSION
# The tarball's own suite holds this test too: CORVANE_DISTCHECK, set here,
# keeps the inner configure from registering it again.
set -u
cpack=$1 build=$2 src=$3 version=$4
tmp=$(mktemp -d)
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"
. "$(dirname "${BASH_SOURCE[0]}")/tarball.sh"
trap untracked_note EXIT

make_tarball "$tmp/dist"
check "tarball" "$(cd "$tmp/dist" && ls ./*.tar.gz)" "./corvane-$version.tar.gz"

# What serves only the checkout and the conda recipe stay out (see
# packaging/cpack-stage.cmake); so do tracked files deleted in the work tree.
want=$(cd "$src" && git ls-files | grep -vE '^(\.git|\.ci/|\.clang-|packaging/conda/)' |
       while IFS= read -r f; do [ -e "$f" ] && echo "corvane-$version/$f"; done | sort)
check "tarball contents" "$(tar -tzf "$tarball" | grep -v '/$' | sort)" "$want"

mkdir "$tmp/fresh"
tar -xzf "$tarball" -C "$tmp/fresh"
cd "$tmp/fresh/corvane-$version" || exit 1
# The README's first two shell blocks, as they stand.
awk '/^```sh$/ {n++; on = 1; next} /^```/ {on = 0} on && n <= 2 {print > (dir "/readme" n ".sh")}' \
  dir="$tmp" README.md
[ -s "$tmp/readme1.sh" ] && [ -s "$tmp/readme2.sh" ] || { echo "FAIL README has no two commands"; exit 1; }

env -u BUILD_DIR bash -e "$tmp/readme1.sh" >"$tmp/out1" 2>"$tmp/err1" ||
  { tail -40 "$tmp/err1"; echo "FAIL README's first command: $(cat "$tmp/readme1.sh")"; exit 1; }
# cmake's own messages come first on standard output; corvane's blocks end it.
"$build/corvane" <"$src/examples/example.sam" >"$tmp/want1"
tail -c "$(wc -c <"$tmp/want1")" "$tmp/out1" | cmp -s - "$tmp/want1" ||
  { echo "FAIL the first command's output does not end in corvane's on example.sam"; fail=1; }

CORVANE_DISTCHECK=1 env -u BUILD_DIR bash -e "$tmp/readme2.sh" >"$tmp/log2" 2>&1 ||
  { tail -60 "$tmp/log2"; echo "FAIL README's second command: $(cat "$tmp/readme2.sh")"; exit 1; }
grep -qE '^100% tests passed, 0 tests failed out of [1-9]' "$tmp/log2" ||
  { tail -20 "$tmp/log2"; echo "FAIL no tests ran"; fail=1; }
exit $fail
