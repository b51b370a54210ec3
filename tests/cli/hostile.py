#!/usr/bin/env python3
"""Large hostile inputs: each must give its exact expected output, in time
linear in its size and in memory bounded by a small multiple of its longest
line, whatever the number of records. Peak memory is read per run with
wait4; no timing is asserted."""
import hashlib
import os
import subprocess
import sys
import tempfile

BIN, PEAK_RSS = sys.argv[1], sys.argv[2]
# Sanitizer builds pay for their checks in memory: bounds are not theirs.
CHECK_RSS = "--no-memory-bounds" not in sys.argv[3:]
MIB = 1 << 20
failures = []


def expand(pieces):
    """Yields the bytes of a list of (text, repeat) pieces, in chunks."""
    for text, times in pieces:
        per = max(1, MIB // max(1, len(text)))
        while times > 0:
            k = min(per, times)
            yield text * k
            times -= k


def run(data, *, digest=False):
    """Runs corvane on `data`; returns (stdout, or its sha256 and size;
    stderr; status; peak resident KiB)."""
    with tempfile.TemporaryFile() as stdin, tempfile.NamedTemporaryFile() as rss:
        stdin.write(data)
        stdin.seek(0)
        proc = subprocess.Popen([PEAK_RSS, rss.name, BIN], stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        h, size, chunks = hashlib.sha256(), 0, []
        while True:
            chunk = proc.stdout.read(MIB)
            if not chunk:
                break
            size += len(chunk)
            if digest:
                h.update(chunk)
            else:
                chunks.append(chunk)
        err = proc.stderr.read()
        status = proc.wait()
        out = (h.hexdigest(), size) if digest else b"".join(chunks)
        return out, err, status, int(open(rss.name).read() or 0)


def record(name, cigar, seq, *optional):
    fields = [name, b"0", b"chr1", b"100", b"60", cigar, b"=", b"0", b"0", seq, b"*"]
    return b"\t".join(fields + list(optional)) + b"\n"


def head(name, cigar):
    return b"\t".join([name, b"0", b"chr1", b"100", b"60", cigar, b"=", b"0", b"0"]) + b"\n"


def check(what, data, want_out, want_err=b"", want_status=0, max_rss_mib=None, digest=False):
    out, err, status, rss_kib = run(data, digest=digest)
    if digest:
        h, size = hashlib.sha256(), 0
        for chunk in expand(want_out):
            h.update(chunk)
            size += len(chunk)
        want_out = (h.hexdigest(), size)
    problems = []
    if out != want_out:
        problems.append("stdout differs" + (f" ({out} vs {want_out})" if digest else
                                            f" ({len(out)} vs {len(want_out)} bytes)"))
    if err != want_err:
        problems.append(f"stderr {err[:200]!r} != {want_err[:200]!r}")
    if status != want_status:
        problems.append(f"status {status} != {want_status}")
    if CHECK_RSS and max_rss_mib is not None and rss_kib > max_rss_mib * 1024:
        problems.append(f"peak memory {rss_kib // 1024} MiB > {max_rss_mib} MiB")
    print(f"{what}: {'ok' if not problems else 'FAIL'} (peak {rss_kib // 1024} MiB)")
    for p in problems:
        failures.append(f"{what}: {p}")


# One 64 MiB line: a read of 64 Mi bases laid out in full.
n = 64 * MIB
seq = (b"ACGT" * (n // 4))
check("64 MiB line", record(b"big", str(n).encode() + b"M", seq),
      [(head(b"big", str(n).encode() + b"M"), 1), (b"ACGT", n // 4), (b"\n", 1), (b"|", n),
       (b"\n", 1), (b"ACGT", n // 4), (b"\n", 1)],
      max_rss_mib=64 * 6, digest=True)
del seq

# A million fields, and a million optional fields before the MD tag.
fields = record(b"wide", b"4M", b"ACGT", *([b"x"] * 1_000_000))
check("a million fields", fields, head(b"wide", b"4M") + b"ACGT\n||||\nACGT\n", max_rss_mib=64)
opt = record(b"tags", b"4M", b"ACGT", *([b"XX:i:1"] * 1_000_000), b"MD:Z:1A2")
check("a million optional fields", opt, head(b"tags", b"4M") + b"ACGT\n| ||\nAAGT\n",
      max_rss_mib=64)

# An MD text of a million tokens: 500,000 runs of one base, each followed by a
# mismatch.
pairs = 500_000
seq = b"CG" * pairs
md = b"1A" * pairs
cigar = str(2 * pairs).encode() + b"M"
check("a million MD tokens", record(b"md", cigar, seq, b"MD:Z:" + md),
      head(b"md", cigar) + seq + b"\n" + b"| " * pairs + b"\n" + b"CA" * pairs + b"\n",
      max_rss_mib=64)

# A CIGAR count at the limit on a skip: 2**31 - 1 columns per line, some
# 6 GiB of output that must stream through without being held.
skip = 2147483647
cigar = b"1M" + str(skip).encode() + b"N1M"
want = [(head(b"skip", cigar) + b"A", 1), (b".", skip), (b"C\n|", 1), (b" ", skip),
        (b"|\nA", 1), (b"N", skip), (b"C\n", 1)]
check("2147483647N", record(b"skip", cigar, b"AC"), want, max_rss_mib=128, digest=True)

# Many records: memory must not grow with their number.
rec = record(b"r", b"10M2I20M1D10M", b"ACGTACGTAC" * 4 + b"AC", b"MD:Z:30^A10")
block = run(rec)[0]
check("a million records", rec * 1_000_000, [(block, 1_000_000)], max_rss_mib=16, digest=True)

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
