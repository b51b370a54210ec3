#!/usr/bin/env bash
# The workflow's NAME.txt is byte for byte what one run of
# samtools view -F 4 NAME | corvane writes, for BAM and CRAM, whatever the
# size of the pieces: the default (one piece for the whole fixture), 1000
# and 333 bases, which cut inside 136 and 300 of the 474 mapped reads, and
# end and start pieces at the fixture's groups of reads with one POS
# (chr1:1000, 1001, 2000). Plain and compressed output; a sample without
# mapped records; indexes made when missing or stale; a CRAM reference
# compressed with bgzip; and nothing written beside the inputs.
#   exact.sh CORVANE SOURCE_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The inputs in a directory of their own, to see that nothing is added.
in=$tmp/in
mkdir "$in"
cp "$here/fixture.bam" "$here/fixture.cram" "$here/fixture.fa" "$in/"
cp "$here/fixture.bam" "$in/indexed.bam"
samtools index "$in/indexed.bam"
cp "$here/fixture.bam" "$in/stale.bam"
samtools index "$in/stale.bam"
touch -d '1 hour ago' "$in/stale.bam.bai"
samtools view --no-PG -b -f 4 -o "$in/empty.bam" "$in/fixture.bam"
# The reference compressed with bgzip (BGZF blocks, written here: bgzip
# itself may be missing), whose index has a .gzi beside the .fai.
python3 - "$in/fixture.fa" "$in/fixture.fa.gz" <<'EOF'
import struct, sys, zlib
data, out = open(sys.argv[1], "rb").read(), open(sys.argv[2], "wb")
for chunk in [data[i:i + 60000] for i in range(0, len(data), 60000)] + [b""]:
    z = zlib.compressobj(6, zlib.DEFLATED, -15)
    body = z.compress(chunk) + z.flush()
    out.write(b"\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0" + struct.pack("<H", len(body) + 25)
              + body + struct.pack("<II", zlib.crc32(chunk), len(chunk)))
EOF
before=$(ls -l --time-style=+%s.%N "$in")

# The single runs read a copy of the reference: samtools writes its .fai
# beside it. The CRAM has an expected output of its own: CRAM keeps = and X
# only as M.
mkdir "$tmp/ref"
cp "$here/fixture.fa" "$tmp/ref/"
single bam "$in/fixture.bam"
single cram "$in/fixture.cram" "$tmp/ref/fixture.fa"
check "single run: records" "$(($(wc -l <"$tmp/bam.expected") / 4))" 474

# The README's command from a copy of the repository, with the defaults of
# config/config.yaml and corvane found on PATH.
repo=$tmp/repo
mkdir -p "$repo" "$tmp/bin"
cp -r "$src/workflow" "$src/config" "$repo/"
ln -s "$corvane" "$tmp/bin/corvane"
cat >"$repo/my.yaml" <<EOF
samples:
  bam: $in/fixture.bam
  cram: $in/fixture.cram
  indexed: $in/indexed.bam
  stale: $in/stale.bam
  empty: $in/empty.bam
reference: $in/fixture.fa
EOF
(cd "$repo" && PATH=$tmp/bin:$PATH snakemake -s workflow/Snakefile --cores 2 --configfile my.yaml \
  --scheduler greedy --quiet 2>stderr >/dev/null)
check "defaults: status" $? 0
for name in bam indexed stale; do
  same "defaults, $name" "$repo/results/$name.txt" "$tmp/bam.expected"
done
same "defaults, cram" "$repo/results/cram.txt" "$tmp/cram.expected"
check "defaults: no mapped records, empty file" "$(wc -c <"$repo/results/empty.txt")" 0
check "defaults: pieces" "$(cut -f 1,2 "$repo/results/work/bam/plan.tsv" | tr '\t\n' ' ;')" \
  "0 {chr1};0 {chr2};0 {HLA-A*01:01:01:01};0 {chrEmpty};0 {chr3};1 *;"
check "defaults: own indexes, for the missing and the stale" \
  "$(cd "$repo/results/work" && echo */index.*)" "bam/index.csi cram/index.crai empty/index.csi stale/index.csi"
check "defaults: nothing written beside the inputs" "$(ls -l --time-style=+%s.%N "$in")" "$before"
check "defaults: pieces removed" "$(find "$repo/results/work" -path '*/pieces/*')" ""

# Pieces of 1000 bases, compressed: one gzip member per piece.
cat >"$tmp/c1000.yaml" <<EOF
samples:
  bam: $in/fixture.bam
  cram: $in/fixture.cram
reference: $in/fixture.fa
corvane: $corvane
chunk_bp: 1000
compress: true
EOF
wf "$tmp/c1000" "$tmp/c1000.yaml"
check "1000, gzip: status" $? 0
for name in bam cram; do
  gz=$tmp/c1000/results/$name.txt.gz
  gzip -dc "$gz" >"$tmp/$name.out"
  check "1000, gzip, $name: gzip status" $? 0
  same "1000, gzip, $name" "$tmp/$name.out" "$tmp/$name.expected"
  members=$(python3 -c '
import sys, zlib
data, n = open(sys.argv[1], "rb").read(), 0
while data:
    d = zlib.decompressobj(31)
    d.decompress(data)
    data, n = d.unused_data, n + 1
print(n)' "$gz")
  check "1000, gzip, $name: members" "$members" "$(($(tail -n 1 "$tmp/c1000/results/work/$name/plan.tsv" | cut -f 1) + 1))"
done
# Ends of sequences, a short one cut in two, one left whole, and the piece
# for records without a sequence.
check "1000: pieces" "$(cut -f 2 "$tmp/c1000/results/work/bam/plan.tsv" | sed -n '19,20p;34,38p;$p' | tr '\n' ' ')" \
  "{chr1}:18001- {chr2}:1-1000 {chr2}:14001- {HLA-A*01:01:01:01}:1-1000 {HLA-A*01:01:01:01}:1001- {chrEmpty} {chr3}:1-1000 * "

# Pieces of 333 bases, plain; the sample's path relative to the directory
# snakemake runs in, not to the configuration file's.
cat >"$tmp/c333.yaml" <<EOF
samples:
  bam: ../in/fixture.bam
corvane: $corvane
chunk_bp: 333
EOF
wf "$tmp/c333" "$tmp/c333.yaml"
check "333: status" $? 0
same "333" "$tmp/c333/results/bam.txt" "$tmp/bam.expected"
check "333: pieces" "$(tail -n 1 "$tmp/c333/results/work/bam/plan.tsv" | cut -f 1)" 151

# CRAM against the reference compressed with bgzip.
cat >"$tmp/bgzf.yaml" <<EOF
samples:
  cram: $in/fixture.cram
reference: $in/fixture.fa.gz
corvane: $corvane
EOF
wf "$tmp/bgzf" "$tmp/bgzf.yaml"
check "bgzip reference: status" $? 0
same "bgzip reference" "$tmp/bgzf/results/cram.txt" "$tmp/cram.expected"
check "bgzip reference: index" "$(cd "$tmp/bgzf/results/work/reference" && echo *)" \
  "fixture.fa.gz fixture.fa.gz.fai fixture.fa.gz.gzi"
check "nothing written beside the inputs" "$(ls -l --time-style=+%s.%N "$in")" "$before"

if [ $fail != 0 ]; then
  for d in "$repo" "$tmp/c1000" "$tmp/c333" "$tmp/bgzf"; do
    echo "--- snakemake in $d, the end of its messages:"
    tail -n 30 "$d/stderr"
  done
fi
exit $fail
