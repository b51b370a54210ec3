#!/usr/bin/env bash
# The workflow on a cluster, with the SLURM profile of workflow/profiles/slurm
# as a user runs it, and stand-ins for sbatch and sacct (fake-slurm/) that
# run every job script here, as a node would: the same bytes as the single
# runs, and a job that fails on a fatal record is seen as failed through
# the profile's status command.
#   cluster.sh CORVANE SOURCE_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mkdir "$tmp/ref" "$tmp/slurm"
cp "$here/fixture.fa" "$tmp/ref/"
single bam "$here/fixture.bam"
single cram "$here/fixture.cram" "$tmp/ref/fixture.fa"
# A record in chr3 (one piece, whole) whose MD tag ends in a lone '-'.
samtools view -h "$here/fixture.bam" | awk -F '\t' -v OFS='\t' '
  !/^@/ && $3 == "chr3" && ++n == 10 { for (i = 12; i <= NF; i++) if ($i ~ /^MD:Z:/) $i = "MD:Z:7-" }
  { print }' | samtools view --no-PG -b -o "$tmp/bad.bam" -

cat >"$tmp/cluster.yaml" <<EOF
samples:
  bam: $here/fixture.bam
  cram: $here/fixture.cram
  bad: $tmp/bad.bam
reference: $tmp/ref/fixture.fa
corvane: $corvane
chunk_bp: 15000
EOF
# CI=true makes snakemake look at its cluster jobs every second, not every
# ten, and the option lifts the profile's limit on status checks; timeout,
# as a job whose state never comes would keep snakemake waiting.
dir=$tmp/run
mkdir "$dir"
(cd "$dir" && PATH=$here/fake-slurm:$PATH FAKE_SLURM_DIR=$tmp/slurm CI=true timeout 300 \
  snakemake -s "$src/workflow/Snakefile" --configfile "$tmp/cluster.yaml" \
  --profile "$src/workflow/profiles/slurm" --max-status-checks-per-second 50 2>stderr >/dev/null)
check "cluster: status" $? 1
same "cluster, bam" "$dir/results/bam.txt" "$tmp/bam.expected"
same "cluster, cram" "$dir/results/cram.txt" "$tmp/cram.expected"
check "cluster: final files" "$(cd "$dir/results" && echo *.txt)" "bam.txt cram.txt"
# plan, index and 6 pieces for each sample, one reference, 2 gathers.
check "cluster: jobs submitted" "$(cat "$tmp/slurm/last-id")" $((100 + 3 * 8 + 1 + 2))
check "cluster: jobs failed" "$(grep -lvx 0 "$tmp"/slurm/*.rc | wc -l)" 1
grep -q "Error executing rule slice on cluster" "$dir/stderr" ||
  { echo "FAIL cluster: the failed job is not reported"; fail=1; }
grep -qF "corvane workflow: sample bad, chr3 (piece " "$dir"/.snakemake/slurm-logs/slice-*.log ||
  { echo "FAIL cluster: no message in the job logs"; fail=1; }
[ $fail = 0 ] || { echo "--- snakemake's messages:"; tail -n 40 "$dir/stderr"; }
exit $fail
