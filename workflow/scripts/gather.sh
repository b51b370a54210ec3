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
  echo "corvane workflow: sample $sample: $1" | tee -a "$log" >&2
  exit 1
}
: >"$log"
partial part "$final"
{ : >"$part"; } 2>>"$log" || fail "cannot write beside $final: $(tail -n 1 "$log")"
for ((i = 0; i < n; i++)); do
  cat -- "$pieces/$i$ext" >>"$part" 2>>"$log" ||
    fail "joining piece $i into $final failed ($(ended $?)): $(tail -n 1 "$log")"
done
sync -- "$part" 2>>"$log" || fail "writing $final to disk failed: $(tail -n 1 "$log")"
publish "$part" "$final"
echo "joined $n pieces, $(wc -c <"$final") bytes, into $final" >>"$log"
