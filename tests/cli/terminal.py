#!/usr/bin/env python3
"""With a terminal on standard input, corvane says in one line what it reads
and shows a pipe, then reads the terminal as any input: a record typed there
is laid out, Ctrl-D ends the run. Arguments change nothing."""
import os
import pty
import select
import subprocess
import sys
import time

HINT = (b"corvane: reading SAM, BAM or CRAM from standard input, here the terminal (Ctrl-D ends "
        b"it); e.g. samtools view -u in.bam chr1:1-1000 | corvane > out.txt\n")
RECORD = b"r1\t0\tc\t1\t60\t2M1I1M\t=\t0\t0\tACGT\tIIII"
BLOCK = b"r1\t0\tc\t1\t60\t2M1I1M\t=\t0\t0\nACGT\n|| |\nAC-T\n"


def read_until(fd, want, timeout=10.0):
    got = b""
    deadline = time.monotonic() + timeout
    while not got.endswith(want) and len(got) < len(want) + 4096:
        ready, _, _ = select.select([fd], [], [], max(deadline - time.monotonic(), 0))
        if not ready:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        got += chunk
    return got


def run(args):
    master, slave = pty.openpty()
    proc = subprocess.Popen([sys.argv[1], *args], stdin=slave, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    os.close(slave)
    failures = []
    err = read_until(proc.stderr.fileno(), HINT)
    if err != HINT:
        failures.append(f"hint: got {err!r}")
    os.write(master, RECORD + b"\n")
    out = read_until(proc.stdout.fileno(), BLOCK)
    if out != BLOCK:
        failures.append(f"block: got {out!r}")
    os.write(master, b"\x04")  # Ctrl-D on an empty line: the end of the input
    try:
        status = proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        status = "still running after Ctrl-D"
    if status != 0:
        failures.append(f"status {status}")
    if proc.stdout.read() or proc.stderr.read():
        failures.append("more output after the end")
    os.close(master)
    return [f"{' '.join(args) or 'no argument'}: {f}" for f in failures]


def main():
    failures = run([]) + run(["--help"]) + run(["in.bam"])
    for f in failures:
        print("FAIL", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
