#!/usr/bin/env python3
"""Bad BAM, CRAM and compressed SAM on standard input: cut short, damaged
blocks and containers, headers and records that do not parse, a CRAM
without its reference. Each must end the same way: the layout of every
record before the fault on standard output, exactly as the SAM text of
those records gives it, then one line on standard error that says what is
wrong, and status 1. Each input is run from a file and through a pipe, a
few times each, since worker threads decompress ahead; a run that hangs,
crashes or grows its memory fails.

    faults.py CORVANE PEAK_RSS MAX_RSS_MIB
"""
import gzip
import hashlib
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import zlib

sys.dont_write_bytecode = True  # keep the source tree clean under ctest
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bgzf  # noqa: E402

BIN, PEAK_RSS, MAX_RSS_MIB = sys.argv[1], sys.argv[2], int(sys.argv[3])
RUNS = 3  # per way in
TIMEOUT = 120
PREFIX = b"corvane: error reading standard input: "
# Under the sanitizers, huge allocations fail with a warning of their own.
ASAN_ALLOCATION = re.compile(
    rb"^==\d+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n", re.M)
failures = []


def sam_records(rng, unmapped):
    """A header and 1,200 records: several BGZF blocks of them, one reported
    (a deletion without MD), and some unmapped ones if asked for (left out
    of binary input; SAM text must not have them, as they end the run)."""
    lines = ["@HD\tVN:1.6\tSO:unsorted", "@SQ\tSN:chr1\tLN:100000", "@SQ\tSN:chr2\tLN:50000"]
    shapes = [("150M", "150"), ("70M2D80M", "70^AC80"), ("10S130M10S", "130"), ("60M3I87M", "147")]
    for i in range(1200):
        seq = "".join(rng.choice("ACGT") for _ in range(150))
        qual = "".join(chr(33 + rng.randrange(41)) for _ in range(150))
        if unmapped and i % 97 == 13:
            lines.append(f"u{i}\t4\t*\t0\t0\t*\t*\t0\t0\t{seq}\t{qual}")
            continue
        cigar, md = shapes[i % len(shapes)]
        tags = "" if i == 5 and "D" in cigar else f"\tMD:Z:{md}"
        rname, mate = ("chr2", "=\t900\t300") if i % 3 == 0 else ("chr1", "*\t0\t0")
        lines.append(f"r{i}\t{16 * (i % 2)}\t{rname}\t{1 + 7 * i}\t60\t{cigar}\t{mate}\t{seq}"
                     f"\t{qual}{tags}\tNM:i:2")
    return "".join(line + "\n" for line in lines)


def bam_layout(payload):
    """The offsets of an uncompressed BAM's header fields and records."""
    (l_text,) = struct.unpack_from("<i", payload, 4)
    at = 8 + l_text
    layout = {"l_text": 4, "n_ref": at}
    (n_ref,) = struct.unpack_from("<i", payload, at)
    at += 4
    layout["l_name"] = at
    for _ in range(n_ref):
        (l_name,) = struct.unpack_from("<i", payload, at)
        at += 4 + l_name + 4
    starts = []
    while at < len(payload):
        starts.append(at)
        at += 4 + struct.unpack_from("<i", payload, at)[0]
    layout["records"] = starts + [at]
    return layout


def patch(data, at, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, at, value)
    return bytes(data)


def flip(data, at):
    data = bytearray(data)
    data[at] ^= 0x55
    return bytes(data)


class Expected:
    """What the SAM text of the records before a fault gives."""

    def __init__(self, header, lines):
        self.header, self.lines, self.memo = header, lines, {}

    def before(self, n):
        if n not in self.memo:
            mapped = [line for line in self.lines[:n] if not int(line.split(b"\t")[1]) & 4]
            text = self.header + b"".join(mapped)
            p = subprocess.run([BIN], input=text, capture_output=True, timeout=TIMEOUT)
            assert p.returncode == 0, p.stderr
            self.memo[n] = (p.stdout, p.stderr)
        return self.memo[n]


def samtools(*args, **kw):
    return subprocess.run(["samtools", *args], check=True, capture_output=True, **kw).stdout


def run(path, pipe, rss_file):
    if pipe:
        cat = subprocess.Popen(["cat", path], stdout=subprocess.PIPE)
        stdin = cat.stdout
    else:
        stdin = os.open(path, os.O_RDONLY)
    try:
        p = subprocess.run([PEAK_RSS, rss_file, BIN], stdin=stdin, capture_output=True,
                           timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None
    finally:
        if pipe:
            stdin.close()
            cat.wait()
        else:
            os.close(stdin)
    with open(rss_file) as f:
        return p.stdout, p.stderr, p.returncode, int(f.read() or 0)


def check(tmp, name, data, want, reason, pipe_too=True):
    """Runs `data` (bytes, or a path) from a file and through a pipe; `want`
    is the (stdout, stderr) of the records before the fault."""
    path = data
    if isinstance(data, bytes):
        path = os.path.join(tmp, "input")
        with open(path, "wb") as f:
            f.write(data)
    want_out, want_err = want
    if reason is not None:
        want_err += PREFIX + reason.encode() + b"\n"
    status = 0 if reason is None else 1
    problems = set()
    for pipe in (False, True) if pipe_too else (False,):
        for _ in range(RUNS):
            got = run(path, pipe, os.path.join(tmp, "rss"))
            how = "through a pipe" if pipe else "from a file"
            if got is None:
                problems.add(f"{how}: no end within {TIMEOUT} s")
                continue
            out, err, rc, rss_kib = got
            err = ASAN_ALLOCATION.sub(b"", err)
            if out != want_out:
                problems.add(f"{how}: stdout differs ({len(out)} bytes, want {len(want_out)})")
            if err != want_err:
                problems.add(f"{how}: stderr {err[-300:]!r}, want {want_err[-300:]!r}")
            if rc != status:
                problems.add(f"{how}: status {rc}, want {status}")
            if rss_kib > MAX_RSS_MIB * 1024:
                problems.add(f"{how}: peak memory {rss_kib // 1024} MiB > {MAX_RSS_MIB} MiB")
    print(f"{'FAIL' if problems else 'ok'}: {name}")
    for p in sorted(problems):
        print(f"    {p}")
    if problems:
        failures.append(name)


def bam_cases(tmp, rng):
    sam = os.path.join(tmp, "records.sam")
    with open(sam, "w") as f:
        f.write(sam_records(rng, unmapped=True))
    samtools("view", "--no-PG", "-b", "-o", os.path.join(tmp, "records.bam"), sam)
    with open(os.path.join(tmp, "records.bam"), "rb") as f:
        payload = bgzf.decompress(f.read())
    text = samtools("view", "--no-PG", "-h", os.path.join(tmp, "records.bam"))
    header = b"".join(line for line in text.splitlines(True) if line.startswith(b"@"))
    lines = [line for line in text.splitlines(True) if not line.startswith(b"@")]
    exp = Expected(header, lines)
    layout = bam_layout(payload)
    records = layout["records"]
    assert len(records) - 1 == len(lines)
    mapped = [not int(line.split(b"\t")[1]) & 4 for line in lines]

    def within(n):
        """The records that end within the first n bytes of the payload."""
        return sum(1 for end in records[1:] if end <= n)

    # 16 KiB blocks: a few dozen of them, blocks k and on are the fault's.
    blocks = bgzf.blocks(bgzf.compress(payload, 0x4000))
    k = 10
    start = 0x4000 * k  # where block k's data begins
    assert start not in records and within(start) > 300
    bad_crc = flip(blocks[k], len(blocks[k]) - 8)
    bad_data = flip(blocks[k], 30)
    mid = records[700] + 40
    d = 600  # the damaged record
    r = records[d]
    last = records[-2]
    assert mapped[d] and mapped[-1] and not all(mapped)
    cut = "the input ends inside a BGZF block: it is truncated"
    cut_record = "the input ends inside a BAM record: it is truncated"
    header = "the BAM header is damaged or cut short"
    damaged = "a BAM record is damaged"
    garbage = bytes(rng.randrange(256) for _ in range(300))
    # Blocks of 64 bytes: the header spans several of them.
    small = bgzf.blocks(bgzf.compress(payload, 64))
    cases = [
        ("BAM cut inside a block", b"".join(blocks[:k]) + blocks[k][:len(blocks[k]) // 2],
         within(start), cut),
        ("BAM cut inside a block's header", b"".join(blocks[:k]) + blocks[k][:10],
         within(start), cut),
        ("BAM cut inside a record, between blocks", b"".join(blocks[:k]), within(start),
         cut_record),
        ("BAM cut inside a record, end-of-file block kept", bgzf.compress(payload[:mid]),
         700, cut_record),
        ("BAM cut just before the end-of-file block", b"".join(blocks[:-1]), len(lines),
         "the input ends without BGZF's end-of-file block: it is probably truncated"),
        ("uncompressed BAM cut inside a record", payload[:mid], 700, cut_record),
        ("BGZF block with a bad CRC", b"".join(blocks[:k] + [bad_crc] + blocks[k + 1:]),
         within(start), "a BGZF block is damaged: its CRC does not match its data"),
        ("BGZF block whose data does not inflate",
         b"".join(blocks[:k] + [bad_data] + blocks[k + 1:]), within(start),
         "a BGZF block is damaged: its data does not decompress"),
        ("bytes that are no BGZF block after some blocks", b"".join(blocks[:k]) + garbage,
         within(start), "a BGZF block is damaged: its header is not valid"),
        ("garbage after the magic, in BGZF", bgzf.compress(b"BAM\1" + garbage), 0, header),
        ("garbage after the magic, uncompressed", b"BAM\1" + garbage, 0, header),
        ("header text longer than the input", bgzf.compress(patch(payload, 4, "<i", 0x7FFFFFF0)),
         0, header),
        ("header text of negative length", bgzf.compress(patch(payload, 4, "<i", -1)), 0,
         header),
        ("negative count of sequences", bgzf.compress(patch(payload, layout["n_ref"], "<i", -1)),
         0, header),
        ("2**31 - 1 sequences",
         bgzf.compress(patch(payload, layout["n_ref"], "<i", 0x7FFFFFFF)), 0, header),
        ("sequence name of length 0", bgzf.compress(patch(payload, layout["l_name"], "<i", 0)),
         0, header),
        ("sequence name longer than the input",
         bgzf.compress(patch(payload, layout["l_name"], "<i", 0x7FFFFFF0)), 0, header),
        ("header cut inside its text", bgzf.compress(payload[:20]), 0, header),
        ("header cut inside its second block", b"".join(small[:1]) + small[1][:30], 0, cut),
        ("record shorter than its fixed fields", bgzf.compress(patch(payload, r, "<i", 10)), d,
         damaged),
        ("record of negative size", bgzf.compress(patch(payload, r, "<i", -1)), d, damaged),
        ("record longer than the input", bgzf.compress(patch(payload, r, "<i", len(payload) - r)),
         d, cut_record),
        ("record with an empty name", bgzf.compress(patch(payload, r + 12, "<B", 0)), d,
         damaged),
        ("CIGAR operations running past the record",
         bgzf.compress(patch(payload, r + 16, "<H", 0xFFFF)), d, damaged),
        ("negative SEQ length", bgzf.compress(patch(payload, r + 20, "<i", -1)), d, damaged),
        ("SEQ shorter than the CIGAR", bgzf.compress(patch(payload, r + 20, "<i", 148)), d,
         damaged),
        ("reference sequence past the header's", bgzf.compress(patch(payload, r + 4, "<i", 2)),
         d, damaged),
        ("mate's reference sequence past the header's",
         bgzf.compress(patch(payload, r + 24, "<i", 7)), d, damaged),
        # htslib reads all of these before it finds the fault: the input
        # then ends with them, yet they are damaged rather than cut short.
        ("last record: SEQ shorter than the CIGAR",
         bgzf.compress(patch(payload, last + 20, "<i", 148)), len(lines) - 1, damaged),
        ("last record: reference sequence past the header's",
         bgzf.compress(patch(payload, last + 4, "<i", 5)), len(lines) - 1, damaged),
    ]
    for name, data, before, reason in cases:
        check(tmp, name, data, exp.before(before), reason)


def cram_cases(tmp, rng):
    seq = "".join(rng.choice("ACGT") for _ in range(20000))
    ref_dir = os.path.join(tmp, "ref")
    os.mkdir(ref_dir)
    fasta = os.path.join(ref_dir, "ref.fa")
    with open(fasta, "w") as f:
        f.write(">chr1\n" + "".join(seq[i:i + 60] + "\n" for i in range(0, len(seq), 60)))
    lines = ["@HD\tVN:1.6\tSO:coordinate", "@SQ\tSN:chr1\tLN:20000"]
    for i in range(600):
        p = 25 * i
        read = seq[p:p + 50] + ("A" if seq[p + 50] != "A" else "C") + seq[p + 51:p + 100]
        lines.append(f"c{i}\t0\tchr1\t{p + 1}\t60\t100M\t*\t0\t0\t{read}\t*"
                     f"\tMD:Z:50{seq[p + 50]}49")
    sam = os.path.join(tmp, "cram.sam")
    with open(sam, "w") as f:
        f.write("".join(line + "\n" for line in lines))
    # Containers of 100 records; one CRAM carries its reference, one needs
    # the FASTA that is removed below.
    opts = ["--output-fmt-option", "seqs_per_slice=100"]
    embedded, needs_ref = os.path.join(tmp, "embedded.cram"), os.path.join(tmp, "needs-ref.cram")
    samtools("view", "--no-PG", "-C", "-T", fasta, *opts, "--output-fmt-option", "embed_ref=1",
             "-o", embedded, sam)
    samtools("view", "--no-PG", "-C", "-T", fasta, *opts, "-o", needs_ref, sam)
    for name in os.listdir(ref_dir):
        os.remove(os.path.join(ref_dir, name))
    samtools("index", embedded)
    with gzip.open(embedded + ".crai", "rt") as f:
        containers = [int(line.split("\t")[3]) for line in f]
    assert len(containers) == 6
    text = samtools("view", "--no-PG", "-h", embedded)
    header = b"".join(line for line in text.splitlines(True) if line.startswith(b"@"))
    exp = Expected(header, [line for line in text.splitlines(True) if not line.startswith(b"@")])
    with open(embedded, "rb") as f:
        cram = f.read()
    m5 = hashlib.md5(seq.encode()).hexdigest()
    no_eof = "the input ends without CRAM's end-of-file container: it is probably truncated"
    header_fault = "the CRAM header is damaged or cut short"
    cases = [
        ("CRAM whose reference cannot be found", needs_ref, 0,
         f"the reference sequence chr1 (M5 {m5}) that this CRAM was compressed against is not "
         "found: set REF_PATH to find it, or decode with samtools view -T REF.fa FILE | corvane"),
        ("CRAM cut inside a container", cram[:containers[3] + 300], 300,
         "the input ends inside a CRAM container: it is truncated"),
        ("CRAM cut between containers", cram[:containers[3]], 300, no_eof),
        ("CRAM cut just before the end-of-file container", cram[:-38], 600, no_eof),
        ("CRAM container damaged", flip(cram, containers[3] + 300), 300,
         "a CRAM container is damaged"),
        ("CRAM cut inside its header", cram[:40], 0, header_fault),
        ("garbage after the CRAM file definition", cram[:26] + bytes(200), 0, header_fault),
    ]
    assert cram[-38:].find(b"EOF") > 0
    for name, data, before, reason in cases:
        check(tmp, name, data, exp.before(before), reason)


def text_cases(tmp, rng):
    text = sam_records(rng, unmapped=False).encode()
    header = b"".join(line for line in text.splitlines(True) if line.startswith(b"@"))
    lines = [line for line in text.splitlines(True) if not line.startswith(b"@")]
    exp = Expected(header, lines)

    def lines_within(data):
        """The records whose lines end within `data`, a prefix of the text."""
        return data[len(header):].count(b"\n")

    blocks = bgzf.blocks(bgzf.compress(text, 0x4000))
    k = 10
    whole = bgzf.decompress(b"".join(blocks[:k]))
    bad_crc = flip(blocks[k], len(blocks[k]) - 8)
    # Plain gzip, unlike BGZF, is inflated by htslib 64 KiB of text at a
    # time, and the piece in hand when the input fails is lost with it.
    gz = gzip.compress(text)
    cut_gz = gz[:len(gz) * 3 // 5]
    inflated = zlib.decompressobj(31).decompress(cut_gz)
    piece = 0x10000
    bad_gz = flip(gz, len(gz) - 8)
    cases = [
        ("BGZF SAM cut inside a block", b"".join(blocks[:k]) + blocks[k][:100],
         lines_within(whole), "the input ends inside a BGZF block: it is truncated"),
        ("BGZF SAM with a bad CRC", b"".join(blocks[:k] + [bad_crc] + blocks[k + 1:]),
         lines_within(whole), "a BGZF block is damaged: its CRC does not match its data"),
        ("BGZF SAM cut just before the end-of-file block", b"".join(blocks[:-1]), len(lines),
         "the input ends without BGZF's end-of-file block: it is probably truncated"),
        ("gzip SAM cut short", cut_gz, lines_within(inflated[:len(inflated) // piece * piece]),
         "the input ends inside a gzip block: it is truncated"),
        ("gzip SAM with a bad CRC", bad_gz, lines_within(text[:len(text) // piece * piece]),
         "a gzip block is damaged: its CRC does not match its data"),
    ]
    for name, data, before, reason in cases:
        check(tmp, name, data, exp.before(before), reason)
    # Inputs that end where they may, and one that cannot be read at all.
    check(tmp, "empty input", b"", (b"", b""), None)
    check(tmp, "only BGZF's end-of-file block", bgzf.EOF_BLOCK, (b"", b""), None)
    check(tmp, "standard input a directory", "/", (b"", b""), "Is a directory", pipe_too=False)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        # No run may ask a public server for a reference.
        os.environ["REF_PATH"] = os.path.join(tmp, "refs", "%s")
        os.environ["REF_CACHE"] = os.path.join(tmp, "cache", "%2s", "%2s", "%s")
        rng = random.Random(15)
        bam_cases(tmp, rng)
        cram_cases(tmp, rng)
        text_cases(tmp, rng)
    if failures:
        print(f"{len(failures)} failed: {', '.join(failures)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
