#!/usr/bin/env bash
# `cmake --install` puts the program and its manual page where the README
# says, under a prefix given at install time and under DESTDIR.
#   install_tree.sh CMAKE BUILD_DIR MANUAL_PAGE
set -u
cmake=$1 build=$2 page=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"

"$cmake" --install "$build" --prefix "$tmp/prefix" >/dev/null || { echo "FAIL cmake --install"; exit 1; }
check "installed files" "$(cd "$tmp/prefix" && find . -type f | sort | tr '\n' ' ')" \
  "./bin/corvane ./share/man/man1/corvane.1 "
check "installed program" "$("$tmp/prefix/bin/corvane" --version 2>&1)" 1.0.0
cmp -s "$page" "$tmp/prefix/share/man/man1/corvane.1" || { echo "FAIL installed page differs"; fail=1; }

DESTDIR=$tmp/stage "$cmake" --install "$build" --prefix /opt/corvane >/dev/null ||
  { echo "FAIL cmake --install with DESTDIR"; exit 1; }
check "staged files" "$(cd "$tmp/stage" && find . -type f | sort | tr '\n' ' ')" \
  "./opt/corvane/bin/corvane ./opt/corvane/share/man/man1/corvane.1 "

exit $fail
