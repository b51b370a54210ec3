#!/usr/bin/env bash
# Rebuilds the fixture of the workflow tests from tests/data/real.sam and
# real_ref.fa (see make_fixtures.py for what the records are):
#
#   fixture.fa     five reference sequences
#   fixture.bam    coordinate-sorted, no index (the workflow makes its own)
#   fixture.cram   the same records compressed against fixture.fa
#
#   tests/workflow/make_fixtures.sh
#
# Deterministic for a given samtools version: no @PG lines, no paths of this
# machine in the headers.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
data=$here/../data

command -v samtools >/dev/null || {
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends samtools >/dev/null
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 "$here/make_fixtures.py" "$data/real.sam" "$data/real_ref.fa" "$tmp/in.sam" "$tmp/fixture.fa"
samtools faidx "$tmp/fixture.fa"
# M5 of every sequence into the @SQ lines, as a CRAM needs them.
samtools dict -H -o "$tmp/dict" "$tmp/fixture.fa"
awk -F '\t' -v OFS='\t' '
  NR == FNR { m5[substr($2, 4)] = $4; next }
  $1 == "@SQ" { $0 = $0 OFS m5[substr($2, 4)] }
  { print }' "$tmp/dict" "$tmp/in.sam" > "$tmp/in-m5.sam"

samtools sort --no-PG -l 9 -o "$tmp/fixture.bam" "$tmp/in-m5.sam"
samtools view --no-PG -C -T "$tmp/fixture.fa" -o "$tmp/with-ur.cram" "$tmp/fixture.bam"
# The CRAM writer gives the @SQ lines UR tags with the absolute path of the
# reference; the BAM's header has none.
samtools view --no-PG -H "$tmp/fixture.bam" > "$tmp/header.sam"
samtools reheader --no-PG "$tmp/header.sam" "$tmp/with-ur.cram" > "$tmp/fixture.cram"
cp "$tmp/fixture.fa" "$tmp/fixture.bam" "$tmp/fixture.cram" "$here/"

echo "wrote $here/fixture.{fa,bam,cram}: $(samtools view -c "$here/fixture.bam") records," \
  "$(samtools view -c -f 4 "$here/fixture.bam") unmapped"
