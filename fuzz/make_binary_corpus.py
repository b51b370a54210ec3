#!/usr/bin/env python3
"""Rebuilds fuzz/corpus-binary, the seeds of fuzz_binary: tiny uncompressed
BAM streams ("BAM\\1" and the records, no BGZF, so that every mutation
reaches a field), made with samtools from the records of some golden cases
that it takes (with @SQ lines for their reference names) and from records that are odd in
binary form: names and tag values with spaces, a first name that begins
with '@', two MD tags, an MD of another type, unmapped records and mates,
a mapped record without CIGAR or SEQ.

    fuzz/make_binary_corpus.py
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # keep the source tree clean under ctest
sys.path.insert(0, os.path.join(ROOT, "tests", "binary"))
import bgzf  # noqa: E402

CASES = ["plain", "mixed", "md-select", "md-guided", "md-deletion-failure", "md-read-failure",
         "md-hardclip-failure", "cigar-no-md", "cigar-seq-longer", "cigar-unmapped"]

ODD = """\
Ax1\t0\tchr1\t5\t60\t4M\t*\t0\t0\tACGT\tIIII\tMD:Z:4
r3\t0\tchr1\t20\t60\t4M\t*\t0\t0\tACGT\tIIII\tXA:Z:a b\tMD:Z:1A2
r4\t16\tchr1\t30\t60\t3M1I2M\t*\t0\t0\tACGTAC\tIIIIII\tMD:Z:5\tMD:Z:2C2
r5\t0\tchr1\t40\t60\t4M\t*\t0\t0\tACGT\tIIII\tMD:i:4
r6\t4\t*\t0\t0\t*\t*\t0\t0\tACGT\tIIII
r7\t73\tchr1\t50\t60\t4M\t=\t50\t0\tACGT\tIIII\tMD:Z:4
r8\t0\tchr1\t60\t60\t*\t*\t0\t0\tACGT\tIIII
r9\t0\tchr1\t70\t60\t2S2M1N2M\tchr2\t5\t0\t*\t*\tMD:Z:4
r10\t0\tchr2\t80\t60\t1H2M2P2M\t=\t90\t30\tACGT\t*\tMD:Z:0A3\tNM:i:1
r 11\t0\tchr1\t90\t60\t2M1D2M\t*\t0\t0\tACGT\tIIII\tMD:Z:2^A2
"""


def sq_lines(sam):
    names = []
    for line in sam.split(b"\n"):
        fields = line.split(b"\t")
        if line.startswith(b"@") or len(fields) < 7:
            continue
        for name in (fields[2], fields[6]):
            if name not in (b"*", b"=") and name not in names:
                names.append(name)
    return b"".join(b"@SQ\tSN:" + n + b"\tLN:100000000\n" for n in names)


def accepted(header, record, tmp):
    path = os.path.join(tmp, "one.sam")
    with open(path, "wb") as f:
        f.write(header + record)
    return subprocess.run(["samtools", "view", "--no-PG", "-b", "-o", os.devnull, path],
                          stderr=subprocess.DEVNULL).returncode == 0


def raw_bam(sam, tmp):
    """The records of `sam` that samtools takes, as an uncompressed BAM."""
    header = sq_lines(sam)
    records = [line + b"\n" for line in sam.split(b"\n") if line and not line.startswith(b"@")]
    path = os.path.join(tmp, "in.sam")
    with open(path, "wb") as f:
        f.write(header + b"".join(r for r in records if accepted(header, r, tmp)))
    bam = subprocess.run(["samtools", "view", "--no-PG", "-b", path], check=True,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return bgzf.decompress(bam)


def main():
    out = os.path.join(HERE, "corpus-binary")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        seeds = {"odd-records": ODD.encode()}
        for case in CASES:
            with open(os.path.join(ROOT, "tests", "cli", "cases", case + ".sam"), "rb") as f:
                seeds[case] = f.read()
        for name, sam in seeds.items():
            bam = raw_bam(sam, tmp)
            if name == "odd-records":
                # SAM text would take it for a header line.
                bam = bam.replace(b"Ax1\0", b"@x1\0")
            with open(os.path.join(out, name + ".bam"), "wb") as f:
                f.write(bam)


if __name__ == "__main__":
    main()
