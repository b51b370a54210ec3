#!/usr/bin/env bash
# Joins a sample's pieces, in order, into its final file. They go to a
# partial file in the work directory first, which takes the final name only
# once it is complete and on disk: an interrupted run never leaves a
# NAME.txt that could pass for the whole output. Compressed pieces are gzip
# members, and members joined are one gzip file.
#
#   gather.sh PIECES N EXT PARTIAL FINAL
#
# The pieces are PIECES/0EXT to PIECES/(N-1)EXT: named on the command line,
# thousands of them would not fit.
set -euo pipefail
pieces=$1 n=$2 ext=$3 partial=$4 final=$5

: >"$partial"
for ((i = 0; i < n; i++)); do
  cat -- "$pieces/$i$ext" >>"$partial"
done
sync -- "$partial"
mv -f -- "$partial" "$final"
echo "joined $n pieces, $(wc -c <"$final") bytes, into $final"
