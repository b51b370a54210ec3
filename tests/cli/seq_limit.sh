#!/usr/bin/env bash
# A SEQ longer than the walk's 32-bit position can count is reported and
# skipped; the run goes on. Needs a 2 GiB line, so a few GiB of memory.
set -u
bin=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
head=$'r1\t0\tc\t1\t60\t2147483648M\t=\t0\t0'
{
  printf '%s\t' "$head"
  head -c 2147483648 /dev/zero | tr '\0' A
  printf '\t*\n'
  printf 'r2\t0\tc\t1\t60\t2M\t=\t0\t0\tAC\t*\n'
} | "$bin" >"$tmp/out" 2>"$tmp/err"
rc=$?
want_err=$(printf '%s\nSEQ longer than 2147483647 bases is not supported\n\n\n' "$head"; echo x)
want_out=$(printf 'r2\t0\tc\t1\t60\t2M\t=\t0\t0\nAC\n||\nAC\n'; echo x)
fail=0
[ "$rc" = 0 ] || { echo "FAIL status $rc"; fail=1; }
[ "$(cat "$tmp/err"; echo x)" = "$want_err" ] || { echo "FAIL stderr:"; head -c 300 "$tmp/err"; fail=1; }
[ "$(cat "$tmp/out"; echo x)" = "$want_out" ] || { echo "FAIL stdout:"; head -c 300 "$tmp/out"; fail=1; }
exit $fail
