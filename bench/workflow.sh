#!/usr/bin/env bash
# Times the Snakemake workflow (workflow/) against the single pipelines run
# one after another, on SAMPLES BAM files of RECORDS records each from
# gen_sam (seeds 1, 2, ...): the figure of README.md, "Scaling out". The
# workflow runs on one core and on BENCH_CORES (default 2).
#
#   bench/workflow.sh [RECORDS [SAMPLES]]     # default 2000000 2
#
# Data and outputs go to $BENCH_DIR (default /tmp/corvane-workflow-bench,
# about 2 GB per sample of 2M records): never into the repository. Each
# command runs BENCH_RUNS times (default 3), the medians are printed, with
# the load average before and after; the machine may be shared. Every run
# of the workflow starts from an empty output directory; the files have
# indexes beside them, and are also given under names without, so that the
# workflow makes its own. Output is checked against the single pipelines.
set -euo pipefail

records=${1:-2000000}
samples=${2:-2}
runs=${BENCH_RUNS:-3}
cores=${BENCH_CORES:-2}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${BENCH_DIR:-/tmp/corvane-workflow-bench}
mkdir -p "$dir"

need=()
command -v samtools >/dev/null || need+=(samtools)
command -v snakemake >/dev/null || need+=(snakemake)
[ -e /usr/include/htslib/sam.h ] || need+=(libhts-dev pkg-config)
if ((${#need[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S "$root" -B "$root/build-bench-workflow" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_TESTS=OFF -DCORVANE_HTSLIB=ON >/dev/null
cmake --build "$root/build-bench-workflow" --target corvane -j "${BENCH_JOBS:-1}" >/dev/null
corvane=$root/build-bench-workflow/corvane
[ -x "$dir/gen_sam" ] || g++ -O2 -std=c++20 "$root/bench/gen_sam.cpp" -o "$dir/gen_sam"

names=()
for ((s = 1; s <= samples; s++)); do
  bam=$dir/s$s-$records.bam
  [ -e "$bam" ] || "$dir/gen_sam" --records "$records" --seed "$s" | samtools view -@ 2 -b -o "$bam" -
  [ -e "$bam.bai" ] || samtools index "$bam"
  ln -sf "$bam" "$dir/s$s-$records-noindex.bam"
  names+=("s$s")
done

config() {  # chunk_bp [-noindex]
  echo "samples:"
  for n in "${names[@]}"; do echo "  $n: $dir/$n-$records${2:-}.bam"; done
  echo "corvane: $corvane"
  echo "chunk_bp: $1"
}
config 10000000 -noindex >"$dir/wf-noindex.yaml"
config 10000000 >"$dir/wf-default.yaml"
config 1000000 >"$dir/wf-1m.yaml"

# The output synced to disk, as the workflow's is before it takes its name.
single() {  # extra samtools options
  for n in "${names[@]}"; do
    samtools view "$@" -F 4 "$dir/$n-$records.bam" | "$corvane" >"$dir/$n.single.txt"
    sync "$dir/$n.single.txt"
  done
}
# corvane reading the BAM itself.
direct() {
  for n in "${names[@]}"; do
    "$corvane" <"$dir/$n-$records.bam" >"$dir/$n.direct.txt"
    sync "$dir/$n.direct.txt"
  done
}
# Before every timed run: no writes of the run before still pending.
fresh() {
  rm -rf "$dir/run"
  mkdir "$dir/run"
  sync
}
workflow() {  # cores config
  (cd "$dir/run" && snakemake -s "$root/workflow/Snakefile" --cores "$1" --configfile "$2" \
    --quiet 2>log >/dev/null)
}
same() {
  for n in "${names[@]}"; do
    cmp "$dir/run/results/$n.txt" "$dir/$n.single.txt"
  done
}

median() {  # label, setup (untimed), command...
  local label=$1 setup=$2 t0 times=()
  shift 2
  for ((i = 0; i < runs; i++)); do
    $setup
    t0=$(date +%s.%N)
    "$@"
    times+=("$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')")
  done
  printf '%-58s %6.1f s   (runs: %s)\n' "$label" \
    "$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')" \
    "$(printf '%.1f ' "${times[@]}")"
}

echo "$samples samples x $records records, $cores cores, median of $runs runs"
echo "load average before: $(cat /proc/loadavg)"
median "single pipelines one after another" sync single
median "single pipelines one after another, samtools -@ 2" sync single -@ 2
median "corvane < NAME.bam, one after another" sync direct
for n in "${names[@]}"; do cmp "$dir/$n.direct.txt" "$dir/$n.single.txt"; done
median "workflow --cores 1, chunk_bp 10000000 (default)" fresh workflow 1 "$dir/wf-default.yaml"
same
median "workflow --cores $cores, chunk_bp 10000000 (default)" fresh workflow "$cores" "$dir/wf-default.yaml"
same
median "workflow --cores $cores, chunk_bp 1000000" fresh workflow "$cores" "$dir/wf-1m.yaml"
same
median "workflow --cores $cores, default, indexing the files" fresh workflow "$cores" "$dir/wf-noindex.yaml"
same
echo "load average after: $(cat /proc/loadavg)"
