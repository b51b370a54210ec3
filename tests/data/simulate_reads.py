#!/usr/bin/env python3
"""Deterministic read simulator for the real-aligner fixture.

Usage: simulate_reads.py GENOME.fa OUTDIR

Writes three FASTA files into OUTDIR, all drawn from the first sequence of
GENOME.fa with a fixed seed, so the same genome always gives the same reads:

  genomic.fa  reads with substitutions, small insertions and deletions, and
              random junk at one or both ends (the aligner soft-clips it);
              also chimeras of two distant pieces, which the aligner splits
              into a primary and a hard-clipped supplementary record
  eqx.fa      more reads of the first kind, aligned with =/X operations
  spliced.fa  two or three exons cut at GT..AG introns of 100-2000 bp
  noisy.fa    long reads of 2-6 kb with about 9% errors, as nanopore runs
              give them: substitutions, insertions and deletions of 1-5
              bases, some with junk at the ends (drawn with a generator of
              their own, so that the other files stay as they were)
"""

import random
import sys

SEED = 20240611
BASES = "ACGT"
COMPLEMENT = str.maketrans("ACGTN", "TGCAN")


def read_fasta(path):
    name, chunks = None, []
    with open(path) as fh:
        for line in fh:
            line = line.strip()
            if line.startswith(">"):
                if name is not None:
                    break
                name = line[1:].split()[0]
            elif line:
                chunks.append(line.upper())
    return name, "".join(chunks)


def revcomp(s):
    return s.translate(COMPLEMENT)[::-1]


def junk(rng, n):
    return "".join(rng.choice(BASES) for _ in range(n))


def mutate(rng, s, sub=0.02, ins=0.004, dele=0.004):
    """Substitutions and 1-3 base indels, never in the outer 12 bases so
    the aligner keeps them inside the alignment rather than clipping."""
    out = []
    i, n = 0, len(s)
    while i < n:
        inner = 12 <= i < n - 12
        r = rng.random()
        if inner and r < dele:
            i += rng.randint(1, 3)
            continue
        if inner and r < dele + ins:
            out.append(junk(rng, rng.randint(1, 3)))
        b = s[i]
        if inner and rng.random() < sub:
            b = rng.choice([x for x in BASES if x != b])
        out.append(b)
        i += 1
    return "".join(out)


def genomic_read(rng, genome):
    length = rng.randint(100, 400)
    start = rng.randrange(0, len(genome) - length)
    s = mutate(rng, genome[start:start + length])
    ends = rng.random()
    if ends < 0.25:
        s = junk(rng, rng.randint(15, 60)) + s
    elif ends < 0.5:
        s = s + junk(rng, rng.randint(15, 60))
    elif ends < 0.65:
        s = junk(rng, rng.randint(15, 60)) + s + junk(rng, rng.randint(15, 60))
    if rng.random() < 0.5:
        s = revcomp(s)
    return s


def chimeric_read(rng, genome):
    la, lb = rng.randint(150, 300), rng.randint(150, 300)
    a = rng.randrange(0, len(genome) // 2 - la)
    b = rng.randrange(len(genome) // 2, len(genome) - lb)
    left = mutate(rng, genome[a:a + la], sub=0.01, ins=0.0, dele=0.0)
    right = mutate(rng, genome[b:b + lb], sub=0.01, ins=0.0, dele=0.0)
    if rng.random() < 0.5:
        right = revcomp(right)
    s = left + right
    if rng.random() < 0.5:
        s = revcomp(s)
    return s


def splice_sites(genome):
    donors = [i for i in range(len(genome) - 1) if genome[i:i + 2] == "GT"]
    acceptors = set(i + 2 for i in range(len(genome) - 1) if genome[i:i + 2] == "AG")
    return donors, acceptors


def spliced_read(rng, genome, donors, acceptors):
    """Exons joined at GT..AG introns; the read is the spliced transcript."""
    n_exons = rng.choice([2, 2, 3])
    for _ in range(1000):
        exon_len = rng.randint(60, 150)
        start = rng.randrange(0, len(genome) - 6000)
        pos, exons, ok = start, [], True
        for k in range(n_exons):
            end = pos + exon_len
            exons.append((pos, end))
            if k == n_exons - 1:
                break
            # Next donor at or after the planned exon end, then an acceptor
            # 100-2000 bp downstream of it.
            d = next((x for x in donors if x >= end), None)
            if d is None or d - end > 30:
                ok = False
                break
            exons[-1] = (pos, d)
            lo, hi = d + 100, d + 2000
            cands = [a for a in range(lo, hi) if a in acceptors]
            if not cands:
                ok = False
                break
            pos = rng.choice(cands)
            exon_len = rng.randint(60, 150)
        if ok and exons[-1][1] <= len(genome):
            break
    s = "".join(genome[a:b] for a, b in exons)
    s = mutate(rng, s, sub=0.01, ins=0.0, dele=0.0)
    # A mismatch right at an exon edge puts an MD token boundary next to
    # the intron's N run; substitutions keep the exon coordinates valid.
    if rng.random() < 0.5:
        junction, s = 0, list(s)
        for a, b in exons[:-1]:
            junction += b - a
            at = junction - rng.randint(0, 1)
            s[at] = rng.choice([x for x in BASES if x != s[at]])
        s = "".join(s)
    if rng.random() < 0.5:
        s = revcomp(s)
    return s


def noisy_read(rng, genome):
    """About 9% of the bases in error: an error event every 17 bases, 45%
    of them substitutions, 27% insertions and 28% deletions, indels of 1-5
    bases (mostly short)."""
    length = rng.randint(2000, 6000)
    start = rng.randrange(0, len(genome) - length)
    ref, out, i = genome[start:start + length], [], 0
    while i < length:
        r = rng.random()
        if r < 0.016:
            out.append(junk(rng, rng.choice([1, 1, 1, 2, 2, 3, 4, 5])))
        elif r < 0.0325:
            i += rng.choice([1, 1, 1, 2, 2, 3, 4, 5])
            continue
        if 0.0325 <= r < 0.0585:
            out.append(rng.choice([x for x in BASES if x != ref[i]]))
        else:
            out.append(ref[i])
        i += 1
    s = "".join(out)
    if rng.random() < 0.4:
        s = junk(rng, rng.randint(20, 120)) + s
    if rng.random() < 0.4:
        s = s + junk(rng, rng.randint(20, 120))
    if rng.random() < 0.5:
        s = revcomp(s)
    return s


def write_fasta(path, records):
    with open(path, "w") as fh:
        for name, seq in records:
            fh.write(">%s\n%s\n" % (name, seq))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: simulate_reads.py GENOME.fa OUTDIR")
    _, genome = read_fasta(sys.argv[1])
    out = sys.argv[2]
    rng = random.Random(SEED)

    genomic = [("sim_gen_%03d" % i, genomic_read(rng, genome)) for i in range(120)]
    genomic += [("sim_chim_%03d" % i, chimeric_read(rng, genome)) for i in range(30)]
    eqx = [("sim_eqx_%03d" % i, genomic_read(rng, genome)) for i in range(50)]
    donors, acceptors = splice_sites(genome)
    spliced = [("sim_spl_%03d" % i, spliced_read(rng, genome, donors, acceptors))
               for i in range(60)]

    noisy_rng = random.Random(SEED + 1)
    noisy = [("sim_ont_%03d" % i, noisy_read(noisy_rng, genome)) for i in range(12)]

    write_fasta("%s/genomic.fa" % out, genomic)
    write_fasta("%s/eqx.fa" % out, eqx)
    write_fasta("%s/spliced.fa" % out, spliced)
    write_fasta("%s/noisy.fa" % out, noisy)


if __name__ == "__main__":
    main()
