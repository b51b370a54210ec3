#!/usr/bin/env bash
# `cpack -G DEB` in the build directory makes a package that lintian passes
# and that, unpacked into an empty root, runs and shows its manual page from
# its own files.
#   deb.sh CPACK BUILD_DIR VERSION MANUAL_PAGE
set -u
cpack=$1 build=$2 version=$3 page=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"  # man drops root's rights to read the page
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"

# A tight umask must not reach the package's modes.
(umask 077 && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; echo "FAIL cpack -G DEB"; exit 1; }
arch=$(dpkg --print-architecture)
deb=$tmp/out/corvane_${version}_$arch.deb
check "package file" "$(cd "$tmp/out" && ls ./*.deb)" "./corvane_${version}_$arch.deb"
[ -f "$deb" ] || exit 1

field() { dpkg-deb -f "$deb" "$1"; }
check "Package" "$(field Package)" corvane
check "Version" "$(field Version)" "$version"
check "Architecture" "$(field Architecture)" "$arch"
check "Section" "$(field Section)" science
# Computed by dpkg-shlibdeps from what the binary links: the C++ runtime and
# htslib.
[[ $(field Depends) == *libc6* && $(field Depends) == *libstdc++6* && $(field Depends) == *libhts3* ]] ||
  { echo "FAIL Depends: $(field Depends)"; fail=1; }
[[ $(field Description) == *"read, match and reference"*"SEQ, CIGAR"* ]] ||
  { echo "FAIL Description: $(field Description)"; fail=1; }

# Errors and warnings fail; the informational tags left are about the
# hardening flags a Debian build would add (see the README's Install).
lintian --fail-on error,warning "$deb" >"$tmp/lintian.log" 2>&1 ||
  { cat "$tmp/lintian.log"; echo "FAIL lintian"; fail=1; }

check "files, modes" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $6}' | sort)" \
"-rw-r--r-- ./usr/share/doc/corvane/changelog.gz
-rw-r--r-- ./usr/share/doc/corvane/copyright
-rw-r--r-- ./usr/share/man/man1/corvane.1.gz
-rwxr-xr-x ./usr/bin/corvane"
check "owners" "$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)" root/root

root=$tmp/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin/corvane
check "--version" "$("$bin" --version 2>&1)" "$version"
readelf -S "$bin" | grep -q '\.symtab' && { echo "FAIL the binary is not stripped"; fail=1; }
man1=$root/usr/share/man/man1/corvane.1.gz
gzip -t "$man1" && zcat "$man1" | cmp -s - "$page" || { echo "FAIL corvane.1.gz is not the manual page"; fail=1; }
check "man finds the page" "$(MANPATH=$root/usr/share/man man -w corvane)" "$man1"
MANPATH=$root/usr/share/man MANWIDTH=80 man -P cat corvane 2>"$tmp/man.err" | grep -q 'lay out SAM alignments' ||
  { cat "$tmp/man.err"; echo "FAIL man corvane"; fail=1; }
grep -q '^License: Expat$' "$root/usr/share/doc/corvane/copyright" &&
  grep -q 'Permission is hereby granted' "$root/usr/share/doc/corvane/copyright" ||
  { echo "FAIL copyright"; fail=1; }
zcat "$root/usr/share/doc/corvane/changelog.gz" | head -1 | grep -q "^corvane ($version) " ||
  { echo "FAIL changelog"; fail=1; }

exit $fail
