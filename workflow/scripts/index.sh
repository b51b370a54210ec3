#!/usr/bin/env bash
# Indexes a sample into the work directory (INDEX ends in .csi for BAM, CSI
# taking sequences of any length, or .crai for CRAM), nothing beside the
# sample's file. samtools index also checks the order: a file that is not
# sorted by coordinate gets a message that says how to sort it.
#
#   index.sh SAMPLE INPUT INDEX THREADS LOG
set -euo pipefail
sample=$1 in=$2 index=$3 threads=$4 log=$5
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

csi=()
[[ $index == *.csi ]] && csi=(-c)
partial part "$index"
if samtools index "${csi[@]}" -@ "$((threads - 1))" -o "$part" -- "$in" 2>"$log"; then
  publish "$part" "$index"
  exit 0
fi
if grep -qE 'Unsorted positions|not sorted|Chromosome blocks not continuous|NO_COOR reads not in a single block' "$log"; then
  if [[ $index == *.crai ]]; then
    sort="samtools sort --reference REF.fa -O cram -o SORTED.cram $in"
  else
    sort="samtools sort -o SORTED.bam $in"
  fi
  msg="$in is not sorted by coordinate; sort it ($sort) and give the sorted file for sample $sample"
else
  msg="samtools index failed on $in: $(tail -n 1 "$log")"
fi
say "$log" "corvane workflow: sample $sample: $msg"
exit 1
