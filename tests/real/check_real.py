#!/usr/bin/env python3
"""Checks corvane's layout of real aligner output against the true reference.

Usage: check_real.py BINARY SAM FASTA

Runs BINARY over SAM and checks every alignment block column by column
against FASTA, the reference the records were aligned to: the reference line
must show the reference base at each M, = , X and D column, "-" at I, "N" at
S and N, "*" at P; the read line is SEQ with "-" at D and "." at N columns
("*" at P); the match line has "|" exactly where an M, = or X column's read
base equals the reference base. Every record must give exactly the outcome
its CIGAR and MD predict: one block, one report on standard error, or nothing
(a hard clip met while no MD text is left unread drops the record silently).

A second pass runs the same records with their MD tags removed. The reference
line then cannot know mismatches: M, = and X columns show the read's own base
over "|", a D column is reported instead of laid out, and a leading hard clip
drops the record.

Exit status 0 when everything agrees, 1 otherwise (with the first few
differences printed), 2 on bad usage or input the check does not model.
"""

import re
import subprocess
import sys

MAX_SHOWN = 10
CIGAR_OP = re.compile(rb"(\d+)([MIDNSHP=X])")
MD_TOKEN = re.compile(rb"(\d+)|\^([A-Za-z]+)|([A-Za-z])")

NON_FATAL = {
    b"Unsupported CIGAR character encountered",
    b"D encountered in CIGAR without MD tag",
    b"Record has fewer than 11 fields",
    b"SEQ longer than 2147483647 bases is not supported",
}
FATAL = {
    b"shift_cigar failed. Exiting.",
    b"shift_md failed; didn't grab character. Exiting.",
    b"Character not detected after ^ in MD tag. Exiting",
}


class Unmodelled(Exception):
    """A record outside what real aligner output holds (and this check models)."""


def read_fasta(path):
    seqs, name, chunks = {}, None, []
    with open(path, "rb") as fh:
        for line in fh:
            line = line.strip()
            if line.startswith(b">"):
                if name is not None:
                    seqs[name] = b"".join(chunks)
                name, chunks = line[1:].split()[0], []
            elif line:
                chunks.append(line)
    if name is not None:
        seqs[name] = b"".join(chunks)
    return seqs


def read_records(path):
    """Record lines as corvane sees them: header lines only before the first
    record, blank lines skipped."""
    records, started = [], False
    with open(path, "rb") as fh:
        for raw in fh:
            line = raw.rstrip(b"\n")
            if not started and line.startswith(b"@"):
                continue
            started = True
            if line.split():
                records.append(line)
    return records


def find_md(fields):
    md = b""
    for f in fields[11:]:
        if f.startswith(b"MD:Z:"):
            md = f[5:]
    return md


def md_claims(md):
    """What the MD tag says about each reference base the alignment covers,
    in order: None for a base equal to the read's, the reference base for a
    mismatch or a deleted base."""
    claims, pos = [], 0
    while pos < len(md):
        m = MD_TOKEN.match(md, pos)
        if not m:
            raise Unmodelled("MD %r unreadable at %d" % (md, pos))
        if m.group(1) is not None:
            claims.extend([None] * int(m.group(1)))
        else:
            claims.extend(bytes([c]) for c in (m.group(2) or m.group(3)))
        pos = m.end()
    return claims


def expected_layout(fields, ref, with_md):
    """Outcome and, for a block, the list of columns:
    (op, read char, match char, ref char, ref position or None, MD claim)."""
    cigar, seq = fields[5], fields[9]
    ops = [(int(n), op) for n, op in CIGAR_OP.findall(cigar)]
    if b"".join(b"%d%s" % o for o in ops) != cigar or any(n < 1 for n, _ in ops):
        raise Unmodelled("CIGAR %r" % cigar)
    md = find_md(fields) if with_md else b""
    claims = md_claims(md) if md else None
    if claims is not None:
        covered = sum(n for n, op in ops if op in b"M=XD")
        if len(claims) != covered:
            raise Unmodelled("%s: MD %r covers %d reference bases, CIGAR %r %d"
                             % (text(fields[0]), md, len(claims), cigar, covered))
    pos = int(fields[3]) - 1
    read_pos, claim_i, columns = 0, 0, []
    for n, op in ops:
        if read_pos >= len(seq):
            break
        if op == b"H":
            if not md:
                return ("dropped", None)
            if columns:
                # Whether MD text is still unread here depends on how the
                # walk spends it; aligners put hard clips at the ends only.
                raise Unmodelled("hard clip inside CIGAR %r" % cigar)
            continue
        for _ in range(n):
            if read_pos >= len(seq):
                break
            if op in b"M=X":
                base = seq[read_pos:read_pos + 1]
                truth = ref[pos:pos + 1]
                claim = claims[claim_i] if claims is not None and claim_i < len(claims) else None
                if not md:
                    columns.append((op, base, b"|", base, pos, None))
                elif seq == b"*":
                    # No stored read: where MD claims a match the layout
                    # can only repeat the single "base" "*".
                    columns.append((op, base, b"|" if claim is None else b" ",
                                    base if claim is None else truth, pos, claim))
                else:
                    same = base.upper() == truth.upper()
                    columns.append((op, base, b"|" if same else b" ", truth, pos, claim))
                pos += 1
                claim_i += 1
                read_pos += 1
            elif op == b"I":
                columns.append((op, seq[read_pos:read_pos + 1], b" ", b"-", None, None))
                read_pos += 1
            elif op == b"S":
                columns.append((op, seq[read_pos:read_pos + 1], b" ", b"N", None, None))
                read_pos += 1
            elif op == b"D":
                if not md:
                    return ("report", b"D encountered in CIGAR without MD tag")
                claim = claims[claim_i] if claim_i < len(claims) else None
                columns.append((op, b"-", b" ", ref[pos:pos + 1], pos, claim))
                pos += 1
                claim_i += 1
            elif op == b"N":
                columns.append((op, b".", b" ", b"N", None, None))
                pos += 1
            else:  # P
                columns.append((op, b"*", b" ", b"*", None, None))
    if read_pos < len(seq):
        raise Unmodelled("CIGAR %r places fewer bases than SEQ has" % cigar)
    if pos > len(ref):
        raise Unmodelled("alignment runs past the end of %r" % fields[2])
    return ("block", columns)


def parse_stdout(data):
    lines = data.split(b"\n")
    if lines[-1] != b"":
        raise ValueError("standard output does not end with a line feed")
    lines.pop()
    if len(lines) % 4:
        raise ValueError("standard output has %d lines, not a multiple of 4" % len(lines))
    return [lines[i:i + 4] for i in range(0, len(lines), 4)]


def parse_stderr(data):
    lines = data.split(b"\n")
    if lines[-1] != b"":
        raise ValueError("standard error does not end with a line feed")
    lines.pop()
    reports, i = [], 0
    while i < len(lines):
        if i + 1 >= len(lines):
            raise ValueError("standard error line %d: dump without message" % (i + 1))
        dump, msg = lines[i], lines[i + 1]
        if msg in FATAL:
            reports.append((dump, msg))
            i += 2
        elif msg in NON_FATAL:
            if lines[i + 2:i + 4] != [b"", b""]:
                raise ValueError("standard error line %d: report not followed by two empty lines"
                                 % (i + 2))
            reports.append((dump, msg))
            i += 4
        else:
            raise ValueError("standard error line %d: unknown message %r" % (i + 2, msg))
    return reports


def text(b):
    return b.decode("latin-1")


def run_pass(label, binary, records, seqs, with_md, problems):
    stats = {"records": len(records), "blocks": 0, "columns": 0, "dropped": 0, "reported": 0,
             "fatal": 0}
    proc = subprocess.run([binary], input=b"".join(r + b"\n" for r in records),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        blocks = parse_stdout(proc.stdout)
        reports = parse_stderr(proc.stderr)
    except ValueError as e:
        problems.append("%s: %s" % (label, e))
        return stats

    def problem(name, what):
        problems.append("%s: record %d, %s: %s" % (label, number, text(name), what))

    bi = ri = 0
    for number, line in enumerate(records, 1):
        fields = line.split()
        dump = b"\t".join(fields[:9])
        name = fields[0]
        if len(fields) < 11:
            expected = ("report", b"Record has fewer than 11 fields")
            dump = b"\t".join(fields)
        else:
            ref = seqs.get(fields[2])
            if ref is None:
                raise Unmodelled("%s: RNAME %r is not in the FASTA" % (text(name), fields[2]))
            expected = expected_layout(fields, ref, with_md)

        if bi < len(blocks) and blocks[bi][0] == dump:
            got = "block"
        elif ri < len(reports) and reports[ri][0] == dump:
            got = "report"
        else:
            got = "dropped"
        if got != expected[0]:
            problem(name, "expected %s, got %s" % (expected[0], got))
            # Resynchronise on what was actually written.
            bi += got == "block"
            ri += got == "report"
            continue

        if got == "dropped":
            stats["dropped"] += 1
            continue
        if got == "report":
            msg = reports[ri][1]
            ri += 1
            stats["reported"] += 1
            if msg != expected[1]:
                problem(name, "report %r, expected %r" % (text(msg), text(expected[1])))
            if msg in FATAL:
                stats["fatal"] += 1
            continue

        read_line, match_line, ref_line = blocks[bi][1:]
        bi += 1
        stats["blocks"] += 1
        columns = expected[1]
        for lname, line_, idx in (("read", read_line, 1), ("match", match_line, 2),
                                  ("reference", ref_line, 3)):
            if len(line_) != len(columns):
                problem(name, "%s line has %d columns, expected %d"
                        % (lname, len(line_), len(columns)))
        for c, (op, rd, mt, rf, pos, claim) in enumerate(columns):
            stats["columns"] += 1
            got_cols = (read_line[c:c + 1], match_line[c:c + 1], ref_line[c:c + 1])
            ok = (got_cols[0] == rd and got_cols[1] == mt
                  and (got_cols[2].upper() == rf.upper() if op in b"M=XD" and with_md
                       else got_cols[2] == rf))
            if not ok:
                where = "ref %d" % (pos + 1) if pos is not None else "no ref position"
                md_note = ""
                if op in b"M=XD" and with_md:
                    md_note = ", MD says %s" % ("match" if claim is None else text(claim))
                problem(name, "column %d (%s, %s): got read/match/ref %r, expected %r%s"
                        % (c + 1, text(op), where, text(b"".join(got_cols)),
                           text(rd + mt + rf), md_note))

    if bi != len(blocks) or ri != len(reports):
        problems.append("%s: %d blocks and %d reports left unmatched"
                        % (label, len(blocks) - bi, len(reports) - ri))
    want_status = 1 if stats["fatal"] else 0
    if proc.returncode != want_status:
        problems.append("%s: exit status %d, expected %d" % (label, proc.returncode, want_status))
    return stats


def main():
    if len(sys.argv) != 4:
        print("usage: check_real.py BINARY SAM FASTA", file=sys.stderr)
        return 2
    binary, sam, fasta = sys.argv[1:]
    seqs = read_fasta(fasta)
    records = read_records(sam)
    if not records:
        print("%s holds no records" % sam, file=sys.stderr)
        return 2
    stripped = []
    for r in records:
        f = r.split()
        stripped.append(b"\t".join(f[:11] + [x for x in f[11:] if not x.startswith(b"MD:Z:")]))

    problems = []
    try:
        with_md = run_pass("with MD", binary, records, seqs, True, problems)
        without = run_pass("without MD", binary, stripped, seqs, False, problems)
    except Unmodelled as e:
        print("input not modelled by this check: %s" % e, file=sys.stderr)
        return 2

    for label, s in (("with MD", with_md), ("without MD", without)):
        print("%s: %d records, %d blocks checked, %d columns checked, %d dropped, %d reported"
              % (label, s["records"], s["blocks"], s["columns"], s["dropped"], s["reported"]))
    if problems:
        for p in problems[:MAX_SHOWN]:
            print(p)
        if len(problems) > MAX_SHOWN:
            print("... and %d more" % (len(problems) - MAX_SHOWN))
        print("FAILED: %d differences" % len(problems))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
