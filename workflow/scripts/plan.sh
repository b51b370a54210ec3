#!/usr/bin/env bash
# Cuts the reference sequences of a BAM or CRAM header into pieces, one job
# each, in header order:
#
# - a sequence longer than CHUNK_BP into pieces of CHUNK_BP bases (the last
#   one shorter), each a region query with a filter on POS: the query also
#   gives the reads that begin in the piece before and reach into this one;
# - shorter sequences, whole and as they come, into pieces of at most
#   CHUNK_BP bases together;
# - then one piece for mapped records without a reference sequence, which
#   samtools view -F 4 writes last (there are seldom any; the unmapped reads
#   at the end of the file are read past).
#
# One line per region: piece number, samtools region, first POS to keep (0
# for all), label for messages.
#
#   plan.sh INPUT CHUNK_BP PLAN STALE
#
# STALE, the sample's final file from an earlier run, is removed: the
# sample is being redone, so it would no longer match.
set -euo pipefail
in=$1 chunk=$2 plan=$3 stale=$4
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

rm -f -- "$stale"
partial part "$plan"
samtools view -H -- "$in" | awk -v chunk="$chunk" '
  BEGIN { FS = "\t"; piece = 0; packed = 0; rows = 0 }
  $1 == "@SQ" {
    name = ""; len = 0
    for (i = 2; i <= NF; i++) {
      if (substr($i, 1, 3) == "SN:") name = substr($i, 4)
      else if (substr($i, 1, 3) == "LN:") len = substr($i, 4) + 0
    }
    if (len > chunk) {
      if (rows) { piece++; packed = 0; rows = 0 }
      for (first = 1; first <= len; first += chunk) {
        last = first + chunk - 1
        # {NAME} keeps a name with ":" whole; "FIRST-" runs to the end.
        if (last >= len)
          printf "%d\t{%s}:%.0f-\t%.0f\t%s:%.0f-%.0f\n", piece, name, first, first, name, first, len
        else
          printf "%d\t{%s}:%.0f-%.0f\t%.0f\t%s:%.0f-%.0f\n", piece, name, first, last, first, name, first, last
        piece++
      }
    } else {
      if (rows && packed + len > chunk) { piece++; packed = 0; rows = 0 }
      printf "%d\t{%s}\t0\t%s\n", piece, name, name
      packed += len; rows++
    }
  }
  END {
    if (rows) piece++
    printf "%d\t*\t0\tmapped records without a reference sequence\n", piece
  }' >"$part"
publish "$part" "$plan"
