#!/usr/bin/env python3
"""A record that ends the run ends it at once, also when the input is BAM or
BGZF-compressed SAM that comes down a pipe whose writer goes on: corvane
must not wait, with the threads that decompress ahead, for the rest of the
input. Here the writer never closes the pipe; the run must end by itself.

    stop_early.py CORVANE
"""
import os
import random
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean under ctest
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bgzf  # noqa: E402

BIN = sys.argv[1]
FATAL = "last\t0\tc\t1\t60\t2M1D2M\t*\t0\t0\tACGT\tIIII\tMD:Z:2^\n"
REPORT = b"last\t0\tc\t1\t60\t2M1D2M\t*\t0\t0\nCharacter not detected after ^ in MD tag. Exiting\n"


def sam_text():
    """Enough records for several blocks, so that the threads have read all
    of the input, and wait for more, by the time the last record comes."""
    rng = random.Random(7)
    lines = ["@SQ\tSN:c\tLN:100000\n"]
    for i in range(3000):
        seq = "".join(rng.choice("ACGT") for _ in range(100))
        qual = "".join(chr(33 + rng.randrange(41)) for _ in range(100))
        lines.append(f"r{i}\t0\tc\t{1 + i}\t60\t100M\t*\t0\t0\t{seq}\t{qual}\tMD:Z:100\n")
    return "".join(lines) + FATAL


def run(name, data):
    proc = subprocess.Popen([BIN], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    proc.stdin.write(data)
    proc.stdin.flush()
    # The pipe stays open: only the record may end the run.
    deadline = time.monotonic() + 20
    while proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    failures = []
    if proc.poll() is None:
        proc.kill()
        failures.append("still running with the pipe open")
    proc.stdin.close()
    proc.wait()
    err = proc.stderr.read()
    if proc.returncode != 1 or err != REPORT:
        failures.append(f"status {proc.returncode}, standard error {err[-200:]!r}")
    return [f"{name}: {f}" for f in failures]


def main():
    text = sam_text().encode()
    with tempfile.TemporaryDirectory() as tmp:
        sam = os.path.join(tmp, "in.sam")
        with open(sam, "wb") as f:
            f.write(text)
        bam = subprocess.run(["samtools", "view", "-b", sam], capture_output=True, check=True).stdout
    failures = run("BAM", bam) + run("BGZF SAM", bgzf.compress(text, size=8192))
    for f in failures:
        print("FAIL", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
