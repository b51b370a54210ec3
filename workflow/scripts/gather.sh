#!/usr/bin/env bash
# Joins a sample's pieces, in order, into its final file. They go to a
# partial file beside it, which takes the final name only once it is
# complete and on disk: an interrupted run never leaves a NAME.txt that
# could pass for the whole output. Compressed pieces are gzip members, and
# members joined are one gzip file.
#
#   gather.sh SAMPLE PIECES N EXT FINAL LOG
#
# The pieces are PIECES/0EXT to PIECES/(N-1)EXT: named on the command line,
# thousands of them would not fit.
set -euo pipefail
sample=$1 pieces=$2 n=$3 ext=$4 final=$5 log=$6
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

fail() {
  say "$log" "corvane workflow: sample $sample: $1"
  exit 1
}
: >"$log"
partial part "$final"
err=$({ : >"$part"; } 2>&1) || fail "cannot write $final: $err"
for ((i = 0; i < n; i++)); do
  err=$(cat -- "$pieces/$i$ext" 2>&1 >>"$part") ||
    fail "joining piece $i into $final failed ($(ended $?))${err:+: $err}"
done
err=$(sync -- "$part" 2>&1) || fail "writing $final to disk failed: $err"
publish "$part" "$final"
echo "joined $n pieces, $(wc -c <"$final") bytes, into $final" >>"$log"
