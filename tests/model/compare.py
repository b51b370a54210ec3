#!/usr/bin/env python3
"""Differential test: corvane against the reference model on random inputs.

    compare.py BINARY [--seeds N] [--start S]

For every seed it generates an input, runs BINARY on it twice (stdin from
a pipe with separate streams, then stdin from a file with stderr merged
into stdout as under `2>&1`) and compares stdout, stderr, the merged
stream and the exit status byte for byte with the model. Every tenth seed
also runs with stdout and with stderr on /dev/full and on a pipe whose
reader is gone. A mismatch prints the seed, the first differing line and the
path of a saved copy of the input; the exit status is then 1.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True    # keep the source tree clean under ctest
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model  # noqa: E402
import random_sam  # noqa: E402

TIMEOUT = 20


def first_difference(want, got):
    """A few lines of context around the first differing line."""
    wl = want.split(b"\n")
    gl = got.split(b"\n")
    i = 0
    while i < len(wl) and i < len(gl) and wl[i] == gl[i]:
        i += 1
    lo = max(0, i - 2)
    out = ["    first difference at line %d (byte %d):" % (i + 1, len(b"\n".join(wl[:i])) + (1 if i else 0))]
    for j in range(lo, i + 3):
        w = repr(wl[j]) if j < len(wl) else "(none)"
        g = repr(gl[j]) if j < len(gl) else "(none)"
        mark = "  " if w == g else "!="
        out.append("    %s line %d  model: %s" % (mark, j + 1, w))
        if w != g:
            out.append("    %s line %d binary: %s" % ("  ", j + 1, g))
    return "\n".join(out)


def run_binary(binary, data, stdin_file=None, stdout=subprocess.PIPE,
               stderr=subprocess.PIPE):
    """(stdout, stderr, status) of one run; None on a time-out."""
    try:
        if stdin_file is None:
            p = subprocess.run([binary], input=data, stdout=stdout, stderr=stderr,
                               timeout=TIMEOUT)
        else:
            with open(stdin_file, "rb") as f:
                p = subprocess.run([binary], stdin=f, stdout=stdout, stderr=stderr,
                                   timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None
    return p.stdout or b"", p.stderr or b"", p.returncode


def run_failing(binary, stdin_file, failing, how):
    """A run whose stdout (failing 1) or stderr (2) cannot be written."""
    if how == "full":
        sink = open("/dev/full", "wb")
        target = sink.fileno()
    else:
        r, target = os.pipe()
        os.close(r)
    try:
        if failing == 1:
            return run_binary(binary, None, stdin_file, stdout=target)
        return run_binary(binary, None, stdin_file, stderr=target)
    finally:
        if how == "full":
            sink.close()
        else:
            os.close(target)


def compare(label, want, got, problems):
    if got is None:
        problems.append("  %s: timed out after %d s" % (label, TIMEOUT))
        return
    names = ("stdout", "stderr")
    for name, w, g in zip(names, want[:2], got[:2]):
        if w != g:
            problems.append("  %s: %s differs\n%s" % (label, name, first_difference(w, g)))
    if want[2] != got[2]:
        problems.append("  %s: exit status: model %d, binary %d" % (label, want[2], got[2]))


def check(binary, seed, scratch):
    """Returns (mismatch report or None, number of input lines)."""
    data = random_sam.generate(seed)
    want_out, want_err, want_rc, want_merged = model.run(data)
    problems = []
    compare("stdin from a pipe", (want_out, want_err, want_rc),
            run_binary(binary, data), problems)
    if not problems:
        with open(scratch, "wb") as f:
            f.write(data)
        got = run_binary(binary, None, scratch, stderr=subprocess.STDOUT)
        compare("2>&1, stdin from a file", (want_merged, b"", want_rc), got, problems)
        if not problems and seed % 10 == 0:
            for failing in (1, 2):
                for how in ("full", "closed"):
                    label = "%s %s" % ("stdout" if failing == 1 else "stderr",
                                       "on /dev/full" if how == "full" else "to a closed pipe")
                    compare(label, model.run_failing_stream(data, failing, how),
                            run_failing(binary, scratch, failing, how), problems)
    lines = len(model.split_lines(data))
    if not problems:
        return None, lines
    fd, path = tempfile.mkstemp(prefix="corvane-seed%d-" % seed, suffix=".sam")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    return ("seed %d: mismatch, input saved to %s\n" % (seed, path)
            + "\n".join(problems)), lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("binary")
    ap.add_argument("--seeds", type=int, default=2000)
    ap.add_argument("--start", type=int, default=0)
    args = ap.parse_args()

    t0 = time.monotonic()
    failed = 0
    lines = 0
    with tempfile.TemporaryDirectory(prefix="corvane-model-") as tmp:
        scratch = os.path.join(tmp, "input.sam")
        for seed in range(args.start, args.start + args.seeds):
            report, n = check(args.binary, seed, scratch)
            lines += n
            if report:
                failed += 1
                print(report, flush=True)
    dt = time.monotonic() - t0
    print("%d of %d seeds (%d..%d) mismatched; %d input lines; %.1f s"
          % (failed, args.seeds, args.start, args.start + args.seeds - 1, lines, dt))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
