#!/usr/bin/env bash
# corvane behind samtools, as the README shows it: a whole BAM, a region
# query, a BAM without MD tags through samtools calmd, and what the -F 4
# filter and the MD tags are for.
#   bam_pipeline.sh CORVANE
set -uo pipefail
bin=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"
same() {  # what, file, expected file
  if ! cmp -s "$2" "$3"; then
    echo "FAIL $1: output differs from $(basename "$3")"
    diff "$3" "$2" | head -20 | cut -c 1-160
    fail=1
  fi
}

# The index must be newer than the BAM, or samtools warns; a checkout does
# not keep the order of the two. calmd writes an index of the FASTA beside
# it, so the FASTA is copied too.
cp "$here/fixture.bam" "$here/fixture-nomd.bam" "$here/../data/real_ref.fa" "$tmp"/
cp "$here/fixture.bam.bai" "$tmp"/
touch "$tmp/fixture.bam.bai"
cd "$tmp" || exit 1
region='gi|9626243|ref|NC_001416.1|:12000-14000'

samtools view -h -F 4 fixture.bam | "$bin" >out 2>err
check "whole BAM: status" "${PIPESTATUS[*]}" "0 0"
same "whole BAM" out "$here/fixture.out"
check "whole BAM: standard error" "$(cat err)" ""

samtools view -h -F 4 fixture.bam "$region" | "$bin" >out 2>err
check "region: status" "${PIPESTATUS[*]}" "0 0"
same "region" out "$here/fixture-region.out"
check "region: standard error" "$(cat err)" ""

samtools calmd -b fixture-nomd.bam real_ref.fa 2>calmd.err | samtools view -h -F 4 - | "$bin" >out 2>err
check "calmd: status" "${PIPESTATUS[*]}" "0 0 0"
same "calmd" out "$here/fixture.out"
check "calmd: standard error" "$(cat err calmd.err)" ""

# Without -F 4 the first unmapped record (CIGAR "*") ends the run; the
# blocks before it stand as written. (samtools may then die of SIGPIPE.)
samtools view -h fixture.bam | "$bin" >out 2>err
check "unfiltered: status" "${PIPESTATUS[1]}" 1
first=$(samtools view fixture.bam | awk -F '\t' '$6 == "*" {print NR; exit}')
samtools view -F 4 fixture.bam | head -n $((first - 1)) | "$bin" >before
same "unfiltered: blocks before the unmapped record" out before
check "unfiltered: report" "$(cat err)" \
  "$(samtools view fixture.bam | awk -F '\t' -v OFS='\t' -v n="$first" 'NR == n {NF = 9; print}')
shift_cigar failed. Exiting."

# Without MD tags a record with a deletion is reported and skipped, and one
# that starts with a hard clip is dropped without a word; the rest is laid
# out as with the tags, mismatches shown as matches.
samtools view -F 4 fixture-nomd.bam | "$bin" >out 2>err
check "no MD: status" "${PIPESTATUS[*]}" "0 0"
want_reports=$(samtools view -F 4 fixture-nomd.bam | awk -F '\t' '$6 ~ /D/ && $6 !~ /^[0-9]+H/' | wc -l)
want_blocks=$(samtools view -F 4 fixture-nomd.bam | awk -F '\t' '$6 !~ /D/ && $6 !~ /^[0-9]+H/' | wc -l)
check "no MD: deletion reports" "$(grep -c '^D encountered in CIGAR without MD tag$' err)" "$want_reports"
check "no MD: blocks" "$(($(wc -l <out) / 4))" "$want_blocks"
# Blocks of M, = and X alone: the read line is the reference line.
ungapped='NR % 4 == 1 {keep = $6 ~ /^([0-9]+[MX=H])+$/; r = ""} keep && NR % 4 == 2 {r = $0}
  keep && NR % 4 == 3 {m = $0} keep && NR % 4 == 0 {n++; if (r != $0 || m ~ / /) d++}
  END {print n + 0, d + 0}'
check "no MD: mismatches shown as matches" "$(awk -F '\t' "$ungapped" out | cut -d ' ' -f 2)" 0
with_md=$(awk -F '\t' "$ungapped" "$here/fixture.out")
[ "${with_md#* }" -gt 0 ] || { echo "FAIL no MD: fixture has no mismatches to hide"; fail=1; }
if [ "$want_reports" -eq 0 ] || [ "$want_blocks" -eq 0 ]; then echo "FAIL no MD: fixture lacks cases"; fail=1; fi

exit $fail
