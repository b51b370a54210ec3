#!/usr/bin/env python3
"""Random SAM-like inputs for differential testing of corvane.

    random_sam.py SEED        writes one input to standard output

generate(seed) returns the same bytes. Inputs are small and aim at the
corners: header and "@" lines, blank and short lines, odd white space,
CR LF, malformed CIGAR and MD text, SEQ and CIGAR of different lengths.
Most records complete; at most one record per input ends the run, and it
stands near the end so the records before it are compared in full.
"""

import os
import random
import sys

sys.dont_write_bytecode = True    # keep the source tree clean under ctest
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model  # noqa: E402  (used to keep run-ending records rare)

BASES = b"ACGT"
ODD_BYTES = [b"\x00", b"\x80", b"\x85", b"\xa0", b"\xff", b"\xe9", b"#", b"~", b"\x7f", b"\x01"]
SEP_WHITE = [b" ", b"\t", b"\x0b", b"\x0c", b"\r"]


def base_seq(rng, n):
    out = bytearray(rng.choice(BASES) for _ in range(n))
    if n and rng.random() < 0.15:
        # N, lower case, "=", "*" and the odd high or control byte
        for _ in range(rng.randint(1, 3)):
            i = rng.randrange(n)
            out[i] = rng.choice(b"Nacgtn=*.")
    if n and rng.random() < 0.04:
        i = rng.randrange(n)
        out[i:i + 1] = rng.choice(ODD_BYTES)
    return bytes(out)


def other_base(rng, b):
    choices = [c for c in BASES if c != b]
    return rng.choice(choices)


def gen_ops(rng, allow_h=True):
    """A well-formed operation list: (count, op) with counts >= 1."""
    ops = []
    if allow_h and rng.random() < 0.12:
        ops.append((rng.randint(1, 5), "H"))
    if rng.random() < 0.2:
        ops.append((rng.randint(1, 4), "S"))
    for _ in range(rng.randint(1, 5)):
        op = rng.choices("M=XIDNP", weights=[10, 2, 2, 2, 2, 1, 1])[0]
        if op in "MX=":
            n = rng.randint(1, 12)
        else:
            n = rng.randint(1, 3)
        ops.append((n, op))
    # end on a base-consuming operation most of the time
    if rng.random() < 0.85:
        ops.append((rng.randint(1, 8), "M"))
    if rng.random() < 0.15:
        ops.append((rng.randint(1, 4), "S"))
    if allow_h and rng.random() < 0.1:
        ops.append((rng.randint(1, 5), "H"))
    return ops


def seq_len_of(ops):
    return sum(n for n, op in ops if op in "M=XIS")


def md_for(rng, ops, seq):
    """A standard MD text that agrees with ops and seq."""
    parts = []
    run = 0
    pos = 0
    mismatch_rate = rng.choice([0.0, 0.05, 0.2, 0.5])
    for n, op in ops:
        if op in "M=X":
            for _ in range(n):
                b = seq[pos] if pos < len(seq) else ord("A")
                if rng.random() < mismatch_rate:
                    parts.append(str(run).encode())
                    parts.append(bytes([other_base(rng, b)]))
                    run = 0
                else:
                    run += 1
                pos += 1
        elif op in "IS":
            pos += n
        elif op == "D":
            parts.append(str(run).encode())
            parts.append(b"^" + bytes(rng.choice(BASES) for _ in range(n)))
            run = 0
    parts.append(str(run).encode())
    return b"".join(parts)


def fmt_count(rng, n):
    r = rng.random()
    if r < 0.04:
        return b"+" + str(n).encode()
    if r < 0.08:
        return b"0" * rng.randint(1, 3) + str(n).encode()
    return str(n).encode()


def cigar_text(rng, ops):
    return b"".join(fmt_count(rng, n) + op.encode() for n, op in ops)


# CIGAR mutations that keep the run going (most of the time).
def mutate_cigar_soft(rng, text, ops):
    r = rng.randrange(9)
    pieces = [fmt_count(rng, n) + op.encode() for n, op in ops]
    i = rng.randrange(len(pieces) + 1)
    if r == 0:    # zero-length operation
        pieces.insert(i, b"0" + rng.choice([b"M", b"S", b"I", b"D", b"N", b"P", b"H", b"X", b"=", b"Z", b"m"]))
    elif r == 1:  # negative length
        pieces.insert(i, b"-" + str(rng.randint(0, 3)).encode() + rng.choice([b"M", b"S", b"I", b"D", b"N", b"P", b"Q"]))
    elif r == 2:  # unknown or lower-case operation
        pieces.insert(i, str(rng.randint(1, 3)).encode() + rng.choice([b"m", b"h", b"s", b"x", b"i", b"d", b"Q", b"Z", b"B", b"#", b"\x80", b"\xff", b"\x00", b"-", b"+", b"9"]))
    elif r == 3:  # hard clip in the middle
        pieces.insert(i, str(rng.randint(1, 3)).encode() + b"H")
    elif r == 4:  # trailing garbage after the operations that place every base
        pieces.append(rng.choice([b"5", b"+", b"-", b"*", b"M", b"10M5", b"x", b"2147483648M", b"99999999999M"]))
    elif r == 5:  # huge last operation, SEQ ends long before
        pieces[-1:] = [rng.choice([b"2147483647M", b"2147483647S", b"1000I"])]
    elif r == 6:  # leading zeros everywhere
        pieces = [b"000" + p for p in pieces]
    elif r == 7:  # zero-length soft clip or insertion: no flag, so the column takes MD
        # at the start the MD character is shown before any token was read
        pieces.insert(0 if rng.random() < 0.5 else i,
                      rng.choice([b"0S", b"0I", b"-1S", b"-2I", b"0S0I"]))
    else:
        pieces.insert(i, b"0" + rng.choice([b"D", b"N", b"P"]))
    return b"".join(pieces)


def mutate_md(rng, md):
    r = rng.randrange(12)
    if r == 0:
        return b""
    if r == 1:    # letters and digits at random
        return bytes(rng.choice(b"0123456789ACGTN") for _ in range(rng.randint(1, 10)))
    if r == 2:    # zeros
        return rng.choice([b"0", b"00", b"0A0", b"000C1", b"0" + md])
    if r == 3:    # "^" outside deletions
        i = rng.randrange(len(md) + 1)
        return md[:i] + b"^" + rng.choice([b"A", b"^", b"1", b"C"]) + md[i:]
    if r == 4:    # huge numbers followed by more text
        return rng.choice([b"99999999999A", b"2147483648C3", b"2147483647", b"-2147483649G1", b"4294967297T"]) + md
    if r == 5:    # signs
        return rng.choice([b"+3", b"-2A", b"+A3", b"-0", b"+-3", b"3-A"]) + md
    if r == 6:    # starts with a letter
        return rng.choice(b"ACGTN").to_bytes(1, "big") + md
    if r == 7:    # shorter than the alignment
        return md[:max(1, len(md) // 2)]
    if r == 8:    # odd bytes
        i = rng.randrange(len(md) + 1)
        return md[:i] + rng.choice(ODD_BYTES) + md[i:]
    if r == 9:    # trailing zero
        return md + b"A0"
    if r == 10:
        return b"^" + md
    return md + rng.choice([b"A", b"3", b"^AC"])


# Endings that break the run when they are reached.
def fatal_variant(rng, ops, seq, md):
    kind = rng.randrange(10)
    ctext = cigar_text(rng, ops)
    if kind == 0:
        return b"*", seq, md
    if kind == 1:    # SEQ longer than the CIGAR
        return ctext, seq + base_seq(rng, rng.randint(1, 4)), md
    if kind == 2:    # CIGAR runs out inside a number or a bad count
        return ctext[:-1] if ctext[-1:].isalpha() else ctext, seq + b"A", md
    if kind == 3:
        return rng.choice([b"2147483648M", b"99999999999M", b"-2147483649M", b"M5", b"+M"]), seq, md
    if kind == 4:    # MD ends in "^" while the alignment goes on
        return ctext, seq, b"1^"
    if kind == 5:    # MD ends in a sign
        return ctext, seq, rng.choice([b"1+", b"+", b"-", b"2A-"])
    if kind == 6:    # MD ends in a number outside 32 bits
        return ctext, seq, rng.choice([b"99999999999", b"1A2147483648", b"-2147483649"])
    if kind == 7:    # skipped hard clip with nothing after it
        return ctext + b"2H", seq + b"A", (md or b"1") + b"A1"
    if kind == 8:
        return ctext + b"3", seq + b"A", md
    return ctext, seq + b"AC", b""


def qual_for(rng, seq):
    r = rng.random()
    if r < 0.02:
        return b"MD:Z:1"    # QUAL is never taken for the MD tag
    if r < 0.1:
        return b"*"
    if r < 0.15:
        return b"I"
    return b"I" * len(seq)


def opt_fields(rng, md):
    """Optional fields, MD last or among others; None md means no MD tag."""
    opts = []
    if rng.random() < 0.5:
        opts.append(b"NM:i:" + str(rng.randint(0, 5)).encode())
    if rng.random() < 0.1:
        opts.append(b"CO:Z:two words here")
    if rng.random() < 0.08:
        opts.append(b"md:z:6")
    if rng.random() < 0.05:
        opts.append(b"MD:i:3")
    if rng.random() < 0.05:
        opts.append(b"MD:Z")
    if md is not None:
        if rng.random() < 0.12:
            # an earlier tag that the last one replaces
            opts.append(b"MD:Z:" + rng.choice([b"", b"^", b"+", b"99A", b"0"]))
        opts.append(b"MD:Z:" + md)
        if rng.random() < 0.06:
            # a later empty tag wins: no MD at all
            opts.append(b"MD:Z:")
    if rng.random() < 0.2:
        opts.append(b"XS:A:+")
    if rng.random() < 0.05:
        # bytes that some locales call white space; here they are field text
        opts.insert(rng.randrange(len(opts) + 1),
                    rng.choice([b"\xa0", b"\x85", b"XY:Z:a\xa0b", b"\xa0MD:Z:1"]))
    return opts


def join_fields(rng, fields, style):
    if style == "tab":
        sep = [b"\t"] * (len(fields) - 1)
    elif style == "space":
        sep = [b" "] * (len(fields) - 1)
    else:
        sep = [b"".join(rng.choice(SEP_WHITE) for _ in range(rng.randint(1, 3)))
               for _ in range(len(fields) - 1)]
    out = bytearray(fields[0])
    for s, f in zip(sep, fields[1:]):
        out += s + f
    if style == "mixed" and rng.random() < 0.3:
        out = bytearray(rng.choice(SEP_WHITE)) + out
    if rng.random() < 0.05:
        out += rng.choice([b" ", b"\t", b" \t "])
    return bytes(out)


def qname(rng, k):
    r = rng.random()
    if r < 0.03:
        return b"@r" + str(k).encode()
    if r < 0.05:
        return b"MD:Z:1"
    if r < 0.07:
        return b"r" + str(k).encode() + rng.choice(ODD_BYTES)
    return b"r" + str(k).encode()


def record_fields(rng, k, want):
    """Fields of one record; want is 'complete', 'soft' or 'fatal'."""
    ops = gen_ops(rng)
    seq = base_seq(rng, max(1, seq_len_of(ops)))
    if seq_len_of(ops) == 0:
        ops.append((1, "M"))
    has_md = rng.random() < 0.6
    md = md_for(rng, ops, seq) if has_md else None
    ctext = cigar_text(rng, ops)
    if want == "soft":
        r = rng.random()
        if r < 0.45:
            ctext = mutate_cigar_soft(rng, ctext, ops)
        elif r < 0.75 and md is not None:
            md = mutate_md(rng, md)
        elif r < 0.85:
            seq = seq[:max(1, len(seq) - rng.randint(1, 5))]   # SEQ shorter than the CIGAR
        else:
            ctext = mutate_cigar_soft(rng, ctext, ops)
            md = mutate_md(rng, md) if md is not None else None
        if rng.random() < 0.15:
            md = None    # a D then cannot be laid out
    elif want == "fatal":
        ctext, seq, md = fatal_variant(rng, ops, seq, md if md is not None else b"")
        if md == b"":
            md = None
    fields = [qname(rng, k), str(rng.choice([0, 16, 4, 256])).encode(), b"chr1",
              str(rng.randint(1, 1000)).encode(), b"60", ctext, b"=", b"0", b"0",
              seq, qual_for(rng, seq)]
    fields += opt_fields(rng, md)
    return fields


def record_line(rng, k, want):
    style = rng.choices(["tab", "space", "mixed"], weights=[75, 10, 15])[0]
    for _ in range(20):
        line = join_fields(rng, record_fields(rng, k, want), style)
        outcome = model.record_outcome(line)
        if (outcome == model.FATAL) == (want == "fatal"):
            return line
    # fall back to a record that surely completes
    return b"\t".join([b"r" + str(k).encode(), b"0", b"chr1", b"1", b"60", b"4M",
                       b"=", b"0", b"0", b"ACGT", b"IIII", b"MD:Z:1A2"])


def odd_line(rng, k):
    r = rng.randrange(7)
    if r == 0:
        return b""
    if r == 1:
        return b"".join(rng.choice(SEP_WHITE) for _ in range(rng.randint(1, 4)))
    if r == 2:    # 1 to 10 fields
        n = rng.randint(1, 10)
        return join_fields(rng, [b"f" + str(i).encode() for i in range(n)],
                           rng.choice(["tab", "space", "mixed"]))
    if r == 3:    # "@" line after the first record: a short record
        return b"@SQ\tSN:chr1\tLN:1000"
    if r == 4:    # "@" line with enough fields: processed as a record
        return b"@" + record_line(rng, k, "complete")
    if r == 5:
        return b"\t".join([b"r" + str(k).encode(), b"0", b"chr1", b"1", b"60",
                           b"3M", b"=", b"0", b"0", b"ACG"])   # QUAL missing
    return b"\x80\xff \x00"


HEADERS = [b"@HD\tVN:1.6\tSO:unsorted", b"@SQ\tSN:chr1\tLN:1000", b"@PG\tID:x\tPN:x",
           b"@CO\tfree text with spaces", b"@", b"@\t", b"@RG ID:a SM:b"]


TINY_INPUTS = [b"", b"\n", b"\n\n", b" \n", b"\r\n", b"@HD", b"@HD\n", b"@HD\n@SQ\n",
               b"@HD\n\n@SQ\n", b"x", b"\t\t\t", b"@HD\n@SQ\tSN:c"]


def long_record(rng, k):
    """One record long enough to cross any read buffer."""
    n = rng.randint(10000, 70000)
    seq = bytes(rng.choice(BASES) for _ in range(n))
    ops = [(n // 2, "M"), (rng.randint(1, 3), "D"), (n - n // 2, "M")]
    md = md_for(rng, ops, seq) if rng.random() < 0.8 else None
    fields = [b"long" + str(k).encode(), b"0", b"chr1", b"1", b"60", cigar_text(rng, ops),
              b"=", b"0", b"0", seq, b"*"]
    if md is not None:
        fields.append(b"MD:Z:" + md)
    return b"\t".join(fields)


def generate(seed):
    rng = random.Random(seed)
    if rng.random() < 0.02:
        return rng.choice(TINY_INPUTS)
    lines = []
    if rng.random() < 0.4:
        lines += [rng.choice(HEADERS) for _ in range(rng.randint(1, 3))]
        if rng.random() < 0.1:
            # a record that begins with "@" right after the header is skipped with it
            lines.append(b"@" + record_line(rng, 0, "complete"))
    if rng.random() < 0.05:
        lines.append(rng.choice([b"", b"  "]))   # counts as a record: no more header lines
        lines.append(rng.choice(HEADERS))
    n = rng.randint(1, 14)
    big = rng.random()
    if big < 0.01:
        n = rng.randint(200, 600)    # many records: lines cross buffer boundaries
    fatal_at = None
    if rng.random() < 0.3:
        fatal_at = max(0, n - rng.randint(1, 2))
    for k in range(n):
        if k == fatal_at:
            lines.append(record_line(rng, k, "fatal"))
            continue
        r = rng.random()
        if big >= 0.01 and big < 0.025 and k == 0:
            lines.append(long_record(rng, k))
        elif r < 0.1:
            lines.append(odd_line(rng, k))
        elif r < 0.55:
            lines.append(record_line(rng, k, "complete"))
        else:
            lines.append(record_line(rng, k, "soft"))
    if rng.random() < 0.1:
        lines = [l + b"\r" for l in lines]   # CR LF
    data = b"\n".join(lines)
    r = rng.random()
    if r < 0.8:
        data += b"\n"
    elif r < 0.85:
        data += b"\n\n"
    return data


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: random_sam.py SEED\n")
        return 2
    sys.stdout.buffer.write(generate(int(sys.argv[1])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
