# Sourced by the shell tests: check WHAT GOT WANT records a failure in
# $fail, printing both values quoted, and lets the test go on.
fail=0
check() {
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s:\n got: %q\nwant: %q\n' "$1" "$2" "$3"
    fail=1
  fi
}
