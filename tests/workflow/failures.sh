#!/usr/bin/env bash
# How the workflow fails. A configuration it cannot run stops it before any
# job, with a message that names the fault. Output that cannot be written (a
# full disk, a file size limit) fails its job, named with sample and piece.
# A record that ends corvane's run fails its job: snakemake exits non-zero,
# the message names the sample and the region, and the sample has no final
# file, not even one left from an earlier run, while the other samples are
# done in full (compressed, here). A file that is not sorted by coordinate
# is named, with the command that sorts it. The failed jobs' messages come
# again at the end of the run, after snakemake's own.
#   failures.sh CORVANE SOURCE_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bam=$here/fixture.bam
printf 'not\ta\tBAM\n' >"$tmp/text.sam"
# A corvane built without htslib, as far as the workflow can tell.
mkdir "$tmp/text-only"
printf '#!/bin/sh\necho "corvane: error reading standard input: BAM input needs corvane built with htslib" >&2\nexit 1\n' \
  >"$tmp/text-only/corvane"
chmod +x "$tmp/text-only/corvane"

# Configuration faults, one per line: what the file says, and a piece of the
# message.
while IFS='|' read -r what yaml message; do
  dir=$tmp/config-$what
  printf "$yaml\n" >"$tmp/$what.yaml"
  wf "$dir" "$tmp/$what.yaml"
  check "$what: status" $? 1
  grep -qF -- "$message" "$dir/stderr" || { echo "FAIL $what: no '$message' in:"; cat "$dir/stderr"; fail=1; }
  [ ! -e "$dir/results" ] || { echo "FAIL $what: a job ran"; fail=1; }
done <<EOF
missing-input|samples: {a: $tmp/nothing.bam}\ncorvane: $corvane|sample a: input file $tmp/nothing.bam does not exist
not-bam|samples: {a: $tmp/text.sam}\ncorvane: $corvane|sample a: $tmp/text.sam is neither BAM nor CRAM
cram-no-reference|samples: {a: $bam, c: $here/fixture.cram}\ncorvane: $corvane|CRAM sample(s) c: set \`reference\` to the FASTA
missing-reference|samples: {c: $here/fixture.cram}\nreference: $tmp/nothing.fa\ncorvane: $corvane|reference $tmp/nothing.fa does not exist
no-corvane|samples: {a: $bam}\ncorvane: no-such-corvane|corvane not found: no executable no-such-corvane on PATH
no-corvane-path|samples: {a: $bam}\ncorvane: $tmp/bin/corvane|corvane not found: no executable $tmp/bin/corvane;
text-only-corvane|samples: {a: $bam}\ncorvane: $tmp/text-only/corvane|corvane $tmp/text-only/corvane reads no BAM (corvane: error reading standard input: BAM input needs corvane built with htslib): build it with htslib
no-samples|corvane: $corvane|no samples
misspelt-samples|sample: {a: $bam}\ncorvane: $corvane|Additional properties are not allowed ('sample' was unexpected)
relative-input|samples: {a: in/a.bam}\ncorvane: $corvane|sample a: input file in/a.bam does not exist (in $tmp/config-relative-input, where snakemake runs
misspelt-key|samples: {a: $bam}\nchunkbp: 5|Additional properties are not allowed ('chunkbp' was unexpected)
wrong-type|samples: {a: $bam}\nchunk_bp: lots|key chunk_bp: 'lots' is not of type 'integer'
bad-name|samples: {a/b: $bam}|key samples: 'a/b' does not match
EOF

# Output that cannot be written, one case per line: the file size limit
# (ulimit -f, in KiB), or a full file system (a tmpfs of that size over
# results/, mounted in a mount namespace of the run's own); compressed or
# not, chunk_bp, and the message (an extended regular expression). The job
# fails, its message names the sample and the piece, and no final file is
# left, nor a partial one.
attempt() {
  wf "$1" "$2"
  local status=$?
  find "$1/results" -name 'a.txt*' -o -name '*~partial-*' >"$1/left"
  return $status
}
export -f attempt wf
export src
namespace=()
if unshare -rm true 2>/dev/null; then
  namespace=(unshare -rm)
elif unshare -m true 2>/dev/null; then
  namespace=(unshare -m)
fi
# Whichever piece fills the disk first: its label may hold several
# sequences' names, parted by ", ".
piece='sample a, .+ \(piece [0-9]+\): '
while IFS='|' read -r what limit compress chunk message; do
  dir=$tmp/write-$what
  mkdir -p "$dir/results"
  printf 'samples: {a: %s}\ncorvane: %s\nchunk_bp: %s\ncompress: %s\n' "$bam" "$corvane" "$chunk" "$compress" \
    >"$tmp/$what.yaml"
  case $limit in
    ulimit*) (ulimit -c 0 && ulimit -f "${limit#ulimit }" && attempt "$dir" "$tmp/$what.yaml") ;;
    *)
      if ((${#namespace[@]} == 0)); then
        echo "SKIP $what: no mount namespace here (unshare -m) for a small file system"
        continue
      fi
      "${namespace[@]}" bash -c 'mount -t tmpfs -o "size=$1" tmpfs "$2/results" && attempt "$2" "$3"' \
        - "${limit#tmpfs }" "$dir" "$tmp/$what.yaml"
      ;;
  esac
  check "$what: status" $? 1
  grep -qE -- "corvane workflow: $message" "$dir/stderr" ||
    { echo "FAIL $what: no '$message' in:"; cat "$dir/stderr"; fail=1; }
  check "$what: final and partial files" "$(cat "$dir/left")" ""
done <<EOF
piece-size-limit|ulimit 100|false|15000|${piece}writing results/work/a/pieces/[0-9]+\.txt failed: killed by SIGXFSZ, the file size limit \(ulimit -f\) reached$
gzip-size-limit|ulimit 10|true|15000|${piece}writing results/work/a/pieces/[0-9]+\.txt\.gz failed: killed by SIGXFSZ
join-size-limit|ulimit 100|false|1000|sample a: joining piece [0-9]+ into results/a\.txt failed \(killed by SIGXFSZ, the file size limit \(ulimit -f\) reached\)$
piece-full-disk|tmpfs 150k|false|15000|${piece}writing results/work/a/pieces/[0-9]+\.txt failed: No space left on device$
gzip-full-disk|tmpfs 16k|true|15000|${piece}gzip failed writing results/work/a/pieces/[0-9]+\.txt\.gz: gzip: stdout: No space left on device$
join-full-disk|tmpfs 1m|false|15000|sample a: joining piece [0-9]+ into results/a\.txt failed \(exit status 1\): cat: write error: No space left on device$
EOF

# A fatal record in the middle of chr2: its MD tag ends in a lone '+'.
samtools view -h "$bam" | awk -F '\t' -v OFS='\t' '
  !/^@/ && $3 == "chr2" && ++n == 40 {
    for (i = 12; i <= NF; i++) if ($i ~ /^MD:Z:/) $i = "MD:Z:3+"
    print $1, $4 > "'"$tmp/fatal"'"
  }
  { print }' | samtools view --no-PG -b -o "$tmp/bad.bam" -
read -r qname pos <"$tmp/fatal"
first=$(((pos - 1) / 5000 * 5000 + 1))
region="chr2:$first-$((first + 4999))"
samtools sort -n -o "$tmp/unsorted.bam" "$bam"
single good "$bam"

runs=$tmp/runs
mkdir -p "$runs/results"
# A final file of an earlier run, older than the input that has changed since.
echo "an earlier run" | gzip >"$runs/results/bad.txt.gz"
touch -d '1 hour ago' "$runs/results/bad.txt.gz"
cat >"$tmp/runs.yaml" <<EOF
samples:
  good: $bam
  bad: $tmp/bad.bam
  unsorted: $tmp/unsorted.bam
corvane: $corvane
chunk_bp: 5000
compress: true
EOF
wf "$runs" "$tmp/runs.yaml" --keep-going
check "runs: status" $? 1
gzip -dc "$runs/results/good.txt.gz" >"$tmp/good.out"
same "runs, good" "$tmp/good.out" "$tmp/good.expected"
check "runs: final files" "$(cd "$runs/results" && echo *.txt*)" "good.txt.gz"
check "runs: no partial files" "$(find "$runs/results" -name '*partial*')" ""
# The jobs' messages again at the end, the last after snakemake's own last
# line, sample by sample.
again=$(sed '1,/^Complete log: /d' "$runs/stderr")
check "runs: messages again" "$(head -n 1 <<<"$again")" "corvane workflow: the run failed:"
for message in \
  "corvane workflow: sample bad, $region (piece " \
  "a record ended corvane's run (exit status 1); corvane's report:" \
  "$qname	" \
  "shift_md failed; didn't grab character. Exiting."; do
  grep -qF -- "$message" <<<"$again" || { echo "FAIL runs: no '$message' at the end"; fail=1; }
done
check "runs: the last line" "$(tail -n 1 "$runs/stderr")" \
  "corvane workflow: sample unsorted: $tmp/unsorted.bam is not sorted by coordinate; sort it (samtools sort -o SORTED.bam $tmp/unsorted.bam) and give the sorted file for sample unsorted"
[ $fail = 0 ] || { echo "--- snakemake's messages:"; grep -v '^Select jobs\|^Removing temporary' "$runs/stderr"; }
exit $fail
