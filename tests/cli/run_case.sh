#!/usr/bin/env bash
# Runs corvane on one golden case and compares stdout, stderr and the exit
# status byte for byte with the expected files beside the input:
#   NAME.sam   standard input
#   NAME.args  arguments, one per line (optional)
#   NAME.out, NAME.err, NAME.rc   what corvane must write and return
#   NAME.both  stdout and stderr merged as by 2>&1 (optional)
# With --redo the expected files are written from the current build instead,
# for review before they are committed.
set -u
bin=$1 case=$2 redo=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

args=()
if [ -f "$case.args" ]; then mapfile -t args <"$case.args"; fi

"$bin" "${args[@]}" <"$case.sam" >"$tmp/out" 2>"$tmp/err"
echo $? >"$tmp/rc"
if [ -f "$case.both" ]; then "$bin" "${args[@]}" <"$case.sam" >"$tmp/both" 2>&1; fi

if [ "$redo" = --redo ]; then
  for k in out err rc both; do [ -f "$tmp/$k" ] && cp "$tmp/$k" "$case.$k"; done
  exit 0
fi

status=0
for k in out err rc both; do
  [ -f "$tmp/$k" ] || continue
  if ! cmp -s "$tmp/$k" "$case.$k"; then
    echo "FAIL $(basename "$case"): $k differs"
    diff <(od -c "$case.$k") <(od -c "$tmp/$k") | head -20
    status=1
  fi
done
exit $status
