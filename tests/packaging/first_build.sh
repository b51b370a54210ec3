#!/usr/bin/env bash
# The README's first command on a machine with only a compiler, CMake and
# Ninja: with GoogleTest and htslib hidden from CMake it still builds
# corvane and lays out the example, and binary input then gets one line that
# says what to install.
#   first_build.sh CORVANE SOURCE_DIR BAM
set -u
full=$1 src=$2 bam=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"

# What the first build reads of the tree; a copy, so that its build
# directory stays out of the source tree.
mkdir "$tmp/tree"
(cd "$src" && cp -r CMakeLists.txt LICENSE README.md corvane.1 examples packaging src "$tmp/tree/")
cmd=$(awk '/^```sh$/ {on = 1; next} on {print; exit}' "$src/README.md")
hidden=$(sed 's/cmake -S \. -B build -G Ninja/& -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON/' <<<"$cmd")
[ "$hidden" != "$cmd" ] || { echo "FAIL the README's first command does not configure build/: $cmd"; exit 1; }

(cd "$tmp/tree" && bash -e -c "$hidden") >"$tmp/out" 2>"$tmp/err" ||
  { tail -30 "$tmp/err"; echo "FAIL the first command without GoogleTest and htslib: $hidden"; exit 1; }
grep -q "htslib not found" "$tmp/out" || { echo "FAIL no word that htslib is missing"; fail=1; }
grep -q "GoogleTest not found" "$tmp/out" || { echo "FAIL no word that GoogleTest is missing"; fail=1; }
# cmake's own messages come first; corvane's blocks end the output, as the
# full build writes them.
"$full" <"$src/examples/example.sam" >"$tmp/want"
tail -c "$(wc -c <"$tmp/want")" "$tmp/out" | cmp -s - "$tmp/want" ||
  { echo "FAIL the output does not end in the blocks of example.sam"; fail=1; }

corvane=$tmp/tree/build/corvane
err=$("$corvane" <"$bam" 2>&1 >/dev/null)
check "BAM without htslib: status" $? 1
check "BAM without htslib: message" "$err" \
  "corvane: error reading standard input: BAM or compressed input needs corvane built with htslib: install htslib (Debian: libhts-dev) and build again, or pipe SAM text in: samtools view -F 4 FILE | corvane"
exit $fail
