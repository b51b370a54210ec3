#!/usr/bin/env bash
# How corvane ends when its streams fail: a read error and a write error are
# reported with status 1; a reader that stops early ends it quietly.
set -u
bin=$1
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"
rec=$'r1\t0\tc\t1\t60\t4M\t=\t0\t0\tACGT\tIIII'

# Standard input that cannot be read.
err=$("$bin" </ 2>&1 >/dev/null); rc=$?
check "directory as stdin: message" "$err" "corvane: error reading standard input: Is a directory"
check "directory as stdin: status" "$rc" 1

# Standard output on a full device.
if [ -w /dev/full ]; then
  err=$(printf '%s\n' "$rec" | "$bin" 2>&1 >/dev/full); rc=$?
  check "stdout on /dev/full: message" "$err" "corvane: error writing standard output: No space left on device"
  check "stdout on /dev/full: status" "$rc" 1
  err=$(printf '%s\n' "${rec/4M/2M1D1M}" | "$bin" 2>/dev/full >/dev/null); rc=$?
  check "stderr on /dev/full: status" "$rc" 1
  err=$("$bin" --version 2>/dev/full); rc=$?
  check "version on /dev/full: status" "$rc" 1
fi

# A reader that stops after one line: SIGPIPE, no message.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
yes "$rec" | head -n 200000 | "$bin" 2>"$tmp/err" | head -n 1 >"$tmp/out"
rc=${PIPESTATUS[2]}
check "early reader: first line" "$(cat "$tmp/out")" $'r1\t0\tc\t1\t60\t4M\t=\t0\t0'
check "early reader: no message" "$(cat "$tmp/err")" ""
check "early reader: killed by SIGPIPE" "$rc" 141

exit $fail
