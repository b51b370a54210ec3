#!/usr/bin/env bash
# Rebuilds real.sam and real_ref.fa: real minimap2 alignments against the
# lambda phage genome that Debian's bowtie2-examples ships. Deterministic:
# fixed read selection, a fixed simulator seed and one aligner thread, so two
# runs with the same tool versions give identical files.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
examples=/usr/share/doc/bowtie2/examples

missing=()
command -v minimap2 >/dev/null || missing+=(minimap2)
command -v samtools >/dev/null || missing+=(samtools)
command -v python3 >/dev/null || missing+=(python3)
[[ -f $examples/reference/lambda_virus.fa.gz ]] || missing+=(bowtie2-examples)
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

tmp=$(mktemp -d)
trap 'rc=$?; ((rc == 0)) || cat "$tmp/minimap2.log" >&2 2>/dev/null || true; rm -rf "$tmp"' EXIT

# Images that drop /usr/share/doc at install time leave the package
# registered but its files gone: unpack the .deb by hand then.
if [[ ! -f $examples/reference/lambda_virus.fa.gz ]]; then
  (cd "$tmp" && apt-get download bowtie2-examples && dpkg-deb -x bowtie2-examples_*.deb deb)
  examples=$tmp/deb/usr/share/doc/bowtie2/examples
fi

cd "$tmp"
gzip -dc "$examples/reference/lambda_virus.fa.gz" > ref.fa
# awk rather than head: head closing the pipe early would fail under pipefail.
gzip -dc "$examples/reads/reads_1.fq.gz" | awk 'NR <= 4 * 150' > short.fq
gzip -dc "$examples/reads/longreads.fq.gz" | awk 'NR <= 4 * 60' > long.fq
python3 "$here/simulate_reads.py" ref.fa .

# Relative file names keep the recorded command lines free of the temp path.
align() {
  minimap2 -t 1 -a --MD "$@" 2>>minimap2.log
}
runs=(
  "-x sr ref.fa short.fq"
  "ref.fa long.fq"
  "ref.fa genomic.fa"
  "--eqx ref.fa eqx.fa"
  "-x splice ref.fa spliced.fa"
  "-x map-ont ref.fa noisy.fa"
)

n=0
for r in "${runs[@]}"; do
  # shellcheck disable=SC2086 # each run is a word list on purpose
  align $r > "run$n.sam"
  n=$((n + 1))
done

{
  samtools view --no-PG -H run0.sam | grep -v '^@PG'
  printf '@CO\tminimap2 %s, samtools %s\n' "$(minimap2 --version)" \
    "$(samtools --version | awk 'NR == 1 {print $2}')"
  printf '@CO\tbowtie2-examples %s: reads_1.fq.gz first 150, longreads.fq.gz first 60, plus simulate_reads.py\n' \
    "$(dpkg-query -W -f '${Version}' bowtie2-examples 2>/dev/null || echo unknown)"
  for r in "${runs[@]}"; do
    printf '@CO\tminimap2 -t 1 -a --MD %s | samtools view -F 4\n' "$r"
  done
  # Unmapped records carry CIGAR "*", which ends the layout run: keep them out.
  for ((i = 0; i < n; i++)); do
    samtools view --no-PG -F 4 "run$i.sam"
  done
} > real.sam

cp ref.fa "$here/real_ref.fa"
cp real.sam "$here/real.sam"
echo "wrote $here/real.sam ($(grep -vc '^@' real.sam) records) and $here/real_ref.fa"
