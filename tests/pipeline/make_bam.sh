#!/usr/bin/env bash
# Rebuilds the BAM fixtures of the pipeline tests from tests/data/real.sam:
#
#   fixture.bam       every third record of real.sam (minimap2 alignments with
#                     MD tags: soft and hard clips, indels, =/X, introns) and
#                     five unmapped records, three placed beside a mapped
#                     mate position and two unplaced; coordinate-sorted
#   fixture.bam.bai   its index, for region queries
#   fixture-nomd.bam  the same records without MD tags, for samtools calmd
#
# With the path of a corvane binary it also writes the expected outputs
# (fixture.out for the whole file, fixture-region.out for REGION below);
# review them before they are committed.
#
#   tests/pipeline/make_bam.sh [CORVANE]
#
# Deterministic for a given samtools version: no @PG lines, fixed selection.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
data=$here/../data
corvane=${1:-}
region='gi|9626243|ref|NC_001416.1|:12000-14000'

command -v samtools >/dev/null || {
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends samtools >/dev/null
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

{
  grep '^@' "$data/real.sam"
  printf '@CO\ttests/pipeline/make_bam.sh: every third record of tests/data/real.sam, five unmapped records\n'
  awk '!/^@/ && n++ % 3 == 0' "$data/real.sam"
  # Unmapped copies of a few reads: FLAG 4, no CIGAR, no tags. Aligners give
  # an unmapped read its mate's position, or no position at all.
  awk -F '\t' -v OFS='\t' '
    !/^@/ { n++ }
    !/^@/ && (n == 10 || n == 200 || n == 400 || n == 50 || n == 300) {
      placed = n == 10 || n == 200 || n == 400
      print $1 "_unmapped", 4, placed ? $3 : "*", placed ? $4 : 0, 0, "*", "*", 0, 0, $10, $11
    }' "$data/real.sam"
} > "$tmp/fixture.sam"

samtools sort --no-PG -l 9 -o "$tmp/fixture.bam" "$tmp/fixture.sam"
samtools index "$tmp/fixture.bam"
samtools view --no-PG -b -x MD -o "$tmp/fixture-nomd.bam" "$tmp/fixture.bam"

cp "$tmp/fixture.bam" "$tmp/fixture-nomd.bam" "$here/"
# After the BAM, so that the index is not older than the data.
cp "$tmp/fixture.bam.bai" "$here/"

if [[ -n $corvane ]]; then
  samtools view -h -F 4 "$here/fixture.bam" | "$corvane" > "$here/fixture.out"
  samtools view -h -F 4 "$here/fixture.bam" "$region" | "$corvane" > "$here/fixture-region.out"
fi
echo "wrote $here/fixture.bam ($(samtools view -c "$here/fixture.bam") records," \
  "$(samtools view -c -f 4 "$here/fixture.bam") unmapped), fixture.bam.bai, fixture-nomd.bam"
