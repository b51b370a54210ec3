#!/usr/bin/env bash
# Scaling out as the README shows it gives the same bytes as one corvane run
# over the whole input: one record stream cut into many chunks for GNU
# parallel, with plain and compressed output, and a scatter over the
# reference names of an indexed BAM, joined again in header order.
#   scale_out.sh CORVANE GEN_SAM
set -uo pipefail
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
gen=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../check.sh"
same() {  # what, file
  if ! cmp -s "$2" single.out; then
    echo "FAIL $1: output differs from the single run"
    cmp "$2" single.out
    fail=1
  fi
}

# The commands below are the README's, with corvane found on PATH. GNU
# parallel takes options from $PARALLEL and its config directory
# (~/.parallel): neither may reach these runs. --will-cite keeps its
# citation notice away.
PATH=$(dirname "$bin"):$PATH
export PATH
unset PARALLEL
export PARALLEL_HOME=$tmp/parallel-home
cd "$tmp" || exit 1

# 20,000 records of 150 bases with MD tags, about 7.7 MB; none is fatal.
"$gen" --records 20000 >in.sam
corvane <in.sam >single.out 2>err
check "single run: status" $? 0
check "single run: standard error" "$(cat err)" ""
check "single run: blocks" "$(($(wc -l <single.out) / 4))" 20000
samtools view -b -o in.bam in.sam && samtools index in.bam

# One stream over four jobs, in chunks of 200 kB.
chunks=$(samtools view -F 4 in.bam | parallel --will-cite --pipe --block 200k -j 4 wc -l | wc -l)
[ "$chunks" -ge 30 ] || { echo "FAIL parallel: only $chunks chunks"; fail=1; }
samtools view -F 4 in.bam | parallel --will-cite --pipe --keep-order --block 200k -j 4 corvane >out 2>err
check "parallel: status" "${PIPESTATUS[*]}" "0 0"
same "parallel" out
check "parallel: standard error" "$(cat err)" ""

# A header would only reach the start of the first chunk, where it is skipped.
samtools view -h -F 4 in.bam | parallel --will-cite --pipe --keep-order --block 200k -j 4 corvane >out 2>err
check "parallel, with header: status" "${PIPESTATUS[*]}" "0 0"
same "parallel, with header" out
check "parallel, with header: standard error" "$(cat err)" ""

# Each chunk compressed by its own job: the gzip members join into one file.
samtools view -F 4 in.bam |
  parallel --will-cite --pipe --keep-order --block 200k -j 4 'corvane | gzip' >out.gz 2>err
check "parallel, gzip: status" "${PIPESTATUS[*]}" "0 0"
gzip -dc out.gz >out
same "parallel, gzip" out
check "parallel, gzip: standard error" "$(cat err)" ""

# One job per reference sequence of the indexed BAM.
samtools view -H in.bam | awk '$1=="@SQ"{sub("SN:","",$2);print $2}' > names.txt
check "scatter: names" "$(tr '\n' ' ' <names.txt)" "chr1 chr2 chr3 "
parallel --will-cite -j 3 'samtools view -F 4 in.bam {} | corvane > out.{}.txt' < names.txt 2>err
check "scatter: status" $? 0
while read -r c; do cat "out.$c.txt"; done < names.txt > out.txt    # header order
same "scatter, joined in header order" out.txt
check "scatter: standard error" "$(cat err)" ""
[ -s out.chr3.txt ] || { echo "FAIL scatter: no records on chr3"; fail=1; }

# The same with --keep-order into one file.
samtools view -H in.bam | awk '$1=="@SQ"{sub("SN:","",$2);print $2}' |
  parallel --will-cite --keep-order -j 3 'samtools view -F 4 in.bam {} | corvane' > out.txt 2>err
check "scatter, one file: status" "${PIPESTATUS[*]}" "0 0 0"
same "scatter, one file" out.txt
check "scatter, one file: standard error" "$(cat err)" ""

exit $fail
