#!/usr/bin/env python3
"""Writes the SAM text and the reference of the workflow tests' fixture from
tests/data/real.sam and real_ref.fa (one 48,502 bp sequence). make_fixtures.sh
turns them into fixture.bam and fixture.cram.

The lambda genome is cut into four sequences, and a fifth of unrelated bases
that no read lies on is put among them; header order is not genome order.
Every record whose aligned span lies within one of the four is moved onto it;
the others (they cross a cut) are left out, and so are SA tags, which name
the old sequence. Added:

- groups of reads at one POS (chr1:1000, 1001 and 2000), ends and starts of
  pieces for chunk_bp 1000 and 333; their members differ, so a change of
  order shows;
- three unmapped reads placed at their mapped mate's POS, one of them inside
  the group at chr1:1001;
- three unplaced unmapped reads, which sort to the end.

    make_fixtures.py REAL_SAM REAL_REF OUT_SAM OUT_FASTA
"""
import re
import sys

real_sam, real_ref, out_sam, out_fa = sys.argv[1:5]

genome = "".join(l.strip() for l in open(real_ref) if not l.startswith(">"))
assert len(genome) == 48502


def revcomp(s):
    return s[::-1].translate(str.maketrans("ACGTN", "TGCAN"))


# (name, first base on lambda, last base), in header order. The name with
# '*' and ':' needs quoting in a shell and braces in a samtools region.
cuts = [("chr1", 1, 19000), ("chr2", 19001, 34000), ("HLA-A*01:01:01:01", 34001, 35200),
        ("chrEmpty", None, None), ("chr3", 35201, 48502)]
seqs = {}
for name, beg, end in cuts:
    seqs[name] = genome[beg - 1:end] if beg else revcomp(genome[:700])


def ref_span(cigar):
    return sum(int(n) for n, op in re.findall(r"(\d+)([MIDNSHP=X])", cigar) if op in "MDN=X")


records = []
for line in open(real_sam):
    if line.startswith("@"):
        continue
    f = line.rstrip("\n").split("\t")
    pos, end = int(f[3]), int(f[3]) + ref_span(f[5]) - 1
    for name, beg, last in cuts:
        if beg and beg <= pos and end <= last:
            f[2], f[3] = name, str(pos - beg + 1)
            records.append([x for x in f if not x.startswith("SA:Z:")])
            break


def exact(qname, pos, length, flag=0, mismatch=None):
    """A read of chr1 from POS, every base matching unless one is changed."""
    seq = list(seqs["chr1"][pos - 1:pos - 1 + length])
    md = str(length)
    if mismatch is not None:
        ref = seq[mismatch]
        seq[mismatch] = "A" if ref != "A" else "C"
        md = f"{mismatch}{ref}{length - mismatch - 1}"
    return [qname, str(flag), "chr1", str(pos), "60", f"{length}M", "*", "0", "0", "".join(seq),
            "I" * length, f"NM:i:{0 if mismatch is None else 1}", f"MD:Z:{md}"]


records += [
    exact("same1000_a", 1000, 90), exact("same1000_b", 1000, 140, 16, mismatch=7),
    exact("same1001_a", 1001, 120), exact("same1001_b", 1001, 60, 16),
    exact("same1001_c", 1001, 200, 0, mismatch=150),
    exact("same2000_a", 2000, 75, 16), exact("same2000_b", 2000, 300, 0, mismatch=0),
]

# Mapped reads whose mate did not map (the first record of each name): the
# mate takes their place.
mates = []
for r in records:
    if r[0] in ("same1001_b", "r38", "r37") and r[0] not in (m[0] for m in mates):
        rev = int(r[1]) & 16
        r[1] = str(1 | 8 | 64 | rev)
        r[6], r[7] = "=", r[3]
        seq = revcomp(r[9][:50])
        mates.append([r[0], str(1 | 4 | 128 | (32 if rev else 0)), r[2], r[3], "0", "*", "=", r[3],
                      "0", seq, "F" * len(seq)])
assert len(mates) == 3
records += mates
for i, seq in enumerate(("ACGTTGCAACGTAGGCTTAACG", "TTTTGGGGCCCCAAAATTTTGG", "GATTACAGATTACAGATTACA")):
    records.append([f"unplaced{i}", "4", "*", "0", "0", "*", "*", "0", "0", seq, "#" * len(seq)])

with open(out_sam, "w") as out:
    out.write("@HD\tVN:1.6\tSO:unsorted\n")
    for name, _, _ in cuts:
        out.write(f"@SQ\tSN:{name}\tLN:{len(seqs[name])}\n")
    out.write("@CO\ttests/workflow/make_fixtures.py: tests/data/real.sam cut onto four sequences, "
              "same-POS groups, unmapped reads\n")
    for r in records:
        out.write("\t".join(r) + "\n")

with open(out_fa, "w") as out:
    for name, _, _ in cuts:
        s = seqs[name]
        out.write(f">{name}\n")
        for i in range(0, len(s), 60):
            out.write(s[i:i + 60] + "\n")
