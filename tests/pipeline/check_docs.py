#!/usr/bin/env python3
"""The README and the manual page show what corvane really writes: their
example blocks are blocks it writes for examples/example.sam, and every
message it can write is quoted in both.

    check_docs.py CORVANE SOURCE_DIR
"""
import os
import re
import subprocess
import sys
from pathlib import Path

corvane, root = sys.argv[1], Path(sys.argv[2])
readme = (root / "README.md").read_text()
page = (root / "corvane.1").read_text()
# The page's text as it reads, near enough: no zero-width escapes.
page_text = page.replace("\\&", "")
failures = []


def run(stdin=b"", args=(), **kw):
    return subprocess.run([corvane, *args], input=stdin, capture_output=True, **kw)


def record(cigar, seq="ACGTAC", md=None):
    line = f"r1\t0\tchr1\t100\t60\t{cigar}\t*\t0\t0\t{seq}\t*"
    return (line + (f"\tMD:Z:{md}" if md is not None else "") + "\n").encode()


# The example blocks.
lines = run((root / "examples/example.sam").read_bytes()).stdout.decode().split("\n")
blocks = ["\n".join(lines[i:i + 4]) for i in range(0, len(lines) - 1, 4)]
fences = re.findall(r"```text\n(.*?)\n```", readme, re.S)
if not fences:
    failures.append("README: no example block")
for fence in fences:
    if fence not in blocks:
        failures.append(f"README: not a block corvane writes for example.sam:\n{fence}")
literal = re.search(r"\.Sh EXAMPLES\n.*?\.Bd -literal[^\n]*\n(.*?)\n\.Ed", page, re.S)
if not literal or literal.group(1) not in blocks:
    failures.append("corvane.1: the first example is not a block corvane writes for example.sam")

# Every message, as the program writes it.
messages = []
for stdin in (record("*"), record("2M1Q3M"), record("6M", md="3+"), record("2M1D4M", md="2^"),
              record("2M1D3M"), b"short\n"):
    err = run(stdin).stderr.decode().split("\n")
    messages.append(err[1])
messages.append("SEQ longer than 2147483647 bases is not supported")  # needs a 2 GiB line
directory = os.open("/", os.O_RDONLY)  # read(2) fails on a directory
err = subprocess.run([corvane], stdin=directory, capture_output=True).stderr.decode()
os.close(directory)
messages.append(err.rsplit(": ", 1)[0] + ": ")
if os.access("/dev/full", os.W_OK):  # writes fail with ENOSPC
    with open("/dev/full", "wb") as full:
        err = subprocess.run([corvane], input=record("6M"), stdout=full,
                             stderr=subprocess.PIPE).stderr.decode()
    messages.append(err.rsplit(": ", 1)[0] + ": ")
    messages.append(messages[-1].replace("standard output", "standard error"))
version = run(args=["--version"])
if version.stdout or version.stderr != b"1.0.0\n":
    failures.append(f"--version wrote {version.stdout!r} and {version.stderr!r}")
messages.append(version.stderr.decode().strip())

for m in messages:
    if m not in readme:
        failures.append(f"README lacks {m!r}")
    if m.strip() not in page_text:
        failures.append(f"corvane.1 lacks {m!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
