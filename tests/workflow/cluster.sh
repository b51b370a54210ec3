#!/usr/bin/env bash
# The workflow on a cluster, with the SLURM profile of workflow/profiles/slurm
# as a user runs it, and stand-ins for sbatch and sacct (fake-slurm/) that
# run every job script here, as a node would: the same bytes as the single
# runs, and a job that fails on a fatal record is seen as failed through
# the profile's status command. One job is killed while it writes a piece,
# as when its node fails: it is seen as failed, leaves nothing under the
# piece's name, and the rerun remakes what is missing, exactly.
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

# corvane writes in two halves, a moment apart: the job is killed between.
slow_corvane "$tmp/slow-corvane" 0.5
cat >"$tmp/cluster.yaml" <<EOF
samples:
  bam: $here/fixture.bam
  cram: $here/fixture.cram
  bad: $tmp/bad.bam
reference: $tmp/ref/fixture.fa
corvane: $tmp/slow-corvane
chunk_bp: 15000
EOF
# CI=true makes snakemake look at its cluster jobs every second, not every
# ten, and the option lifts the profile's limit on status checks; timeout,
# as a job whose state never comes would keep snakemake waiting.
dir=$tmp/run
mkdir "$dir"
cluster() {
  (cd "$dir" && PATH=$here/fake-slurm:$PATH FAKE_SLURM_DIR=$tmp/slurm CI=true timeout 300 \
    snakemake -s "$src/workflow/Snakefile" --configfile "$tmp/cluster.yaml" \
    --profile "$src/workflow/profiles/slurm" --max-status-checks-per-second 50 2>stderr >/dev/null)
}
FAKE_SLURM_KILL_JOB=slice:sample=bam,piece=0 FAKE_SLURM_KILL_WHEN=results/work/bam/pieces/0.txt cluster
check "cluster: status" $? 1
same "cluster, cram" "$dir/results/cram.txt" "$tmp/cram.expected"
check "cluster: final files" "$(cd "$dir/results" && echo *.txt)" "cram.txt"
# Its partial file only, left by the kill, its process id aside.
check "cluster: the killed job's piece" "$(cd "$dir/results/work/bam/pieces" && ls -d 0.txt* | sed 's/-[0-9]*$//')" \
  "0.txt~partial-$HOSTNAME"
# plan, index and 6 pieces for each sample, one reference, the gather of cram.
check "cluster: jobs submitted" "$(cat "$tmp/slurm/last-id")" $((100 + 3 * 8 + 1 + 1))
check "cluster: jobs failed" "$(grep -lvx 0 "$tmp"/slurm/*.rc | wc -l)" 2
check "cluster: jobs failed with the node" "$(grep -lx NODE_FAIL "$tmp"/slurm/*.rc | wc -l)" 1
check "cluster: failures reported" "$(grep -c "Error executing rule slice on cluster" "$dir/stderr")" 2
grep -qF "corvane workflow: sample bad, chr3 (piece " "$dir"/.snakemake/slurm-logs/slice-*.log ||
  { echo "FAIL cluster: no message in the job logs"; fail=1; }
[ $fail = 0 ] || { echo "--- snakemake's messages:"; tail -n 40 "$dir/stderr"; }

# The rerun: the killed piece and the gather of its sample, and the bad
# piece, which fails again.
cluster
check "cluster, rerun: status" $? 1
same "cluster, rerun, bam" "$dir/results/bam.txt" "$tmp/bam.expected"
same "cluster, rerun, cram" "$dir/results/cram.txt" "$tmp/cram.expected"
check "cluster, rerun: final files" "$(cd "$dir/results" && echo *.txt)" "bam.txt cram.txt"
check "cluster, rerun: jobs submitted" "$(cat "$tmp/slurm/last-id")" $((100 + 3 * 8 + 1 + 1 + 3))
check "cluster, rerun: partial files" "$(find "$dir/results" -name '*~partial-*')" ""
[ $fail = 0 ] || { echo "--- snakemake's messages:"; tail -n 40 "$dir/stderr"; }
exit $fail
