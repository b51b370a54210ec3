#!/usr/bin/env python3
"""corvane answers each record while its input stays open.

A record written into a pipe that is kept open must come back in full, on its
stream, before the input ends: a pipeline that feeds corvane interactively (or
one slow producer) must never see output held back in a buffer.
"""
import os
import select
import subprocess
import sys
import time

TIMEOUT = 10.0


def read_exactly(fd, want):
    got = b""
    deadline = time.monotonic() + TIMEOUT
    while len(got) < len(want):
        left = deadline - time.monotonic()
        ready, _, _ = select.select([fd], [], [], max(left, 0))
        if not ready:
            sys.exit(f"timed out: got {got!r}, want {want!r}")
        chunk = os.read(fd, 65536)
        if not chunk:
            sys.exit(f"stream ended: got {got!r}, want {want!r}")
        got += chunk
    if got != want:
        sys.exit(f"got {got!r}, want {want!r}")


def main():
    proc = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, bufsize=0)
    out, err = proc.stdout.fileno(), proc.stderr.fileno()
    head = b"r1\t0\tc\t1\t60\t"
    tail = b"\t=\t0\t0"
    rounds = [
        (b"4M", b"ACGT", out, head + b"4M" + tail + b"\nACGT\n||||\nACGT\n"),
        (b"2M1D2M", b"ACGT", err,
         head + b"2M1D2M" + tail + b"\nD encountered in CIGAR without MD tag\n\n\n"),
        (b"1M1I2M", b"ACGT", out, head + b"1M1I2M" + tail + b"\nACGT\n| ||\nA-GT\n"),
    ]
    for cigar, seq, fd, want in rounds:
        proc.stdin.write(head + cigar + tail + b"\t" + seq + b"\tIIII\n")
        read_exactly(fd, want)
    proc.stdin.close()
    if proc.wait(TIMEOUT) != 0:
        sys.exit(f"exit status {proc.returncode}")
    if proc.stdout.read() or proc.stderr.read():
        sys.exit("unexpected output after the input ended")


if __name__ == "__main__":
    main()
