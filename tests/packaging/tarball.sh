# Sourced by the tests that build from the release tarball, after check.sh.
# make_tarball DIR writes corvane-$version.tar.gz into DIR with cpack, from
# $build, and sets $tarball. The tarball holds only what git tracks, so at
# exit a failed test names the work tree's untracked files: one of them may
# be what the build missed.
make_tarball() {
  "$cpack" --config "$build/CPackSourceConfig.cmake" -B "$1" >"$1.log" 2>&1 ||
    { cat "$1.log"; echo "FAIL cpack source package"; exit 1; }
  tarball=$1/corvane-$version.tar.gz
  [ -f "$tarball" ] || { ls "$1"; echo "FAIL no corvane-$version.tar.gz"; exit 1; }
}
untracked_note() {
  local rc=$? untracked
  untracked=$(git -C "$src" ls-files --others --exclude-standard 2>/dev/null | head -20)
  if [ $rc -ne 0 ] && [ -n "$untracked" ]; then
    printf 'note: not in the tarball, since git does not track them:\n%s\n' "$untracked"
  fi
  rm -rf "$tmp"
  return $rc
}
