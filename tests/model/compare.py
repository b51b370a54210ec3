#!/usr/bin/env python3
"""Differential test: corvane against the reference model on random inputs.

    compare.py BINARY [--seeds N] [--start S]

For every seed it generates an input, runs BINARY on it twice (separate
streams, then stderr merged into stdout as under `2>&1`) and compares
stdout, stderr, the merged stream and the exit status byte for byte with
the model. A mismatch prints the seed, the first differing line and the
path of a saved copy of the input; the exit status is then 1.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

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


def run_binary(binary, data, merged):
    try:
        p = subprocess.run([binary], input=data, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT if merged else subprocess.PIPE,
                           timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None
    return p.stdout, p.stderr if not merged else b"", p.returncode


def check(binary, seed):
    """Returns (mismatch report or None, number of input lines)."""
    data = random_sam.generate(seed)
    want_out, want_err, want_rc, want_merged = model.run(data)
    problems = []
    got = run_binary(binary, data, merged=False)
    if got is None:
        problems.append("  timed out after %d s" % TIMEOUT)
    else:
        got_out, got_err, got_rc = got
        if got_rc != want_rc:
            problems.append("  exit status: model %d, binary %d" % (want_rc, got_rc))
        if got_out != want_out:
            problems.append("  stdout differs\n" + first_difference(want_out, got_out))
        if got_err != want_err:
            problems.append("  stderr differs\n" + first_difference(want_err, got_err))
        if not problems:
            got = run_binary(binary, data, merged=True)
            if got is None:
                problems.append("  timed out after %d s (2>&1)" % TIMEOUT)
            elif got[0] != want_merged:
                problems.append("  stdout+stderr (2>&1) interleave differently\n"
                                + first_difference(want_merged, got[0]))
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
    for seed in range(args.start, args.start + args.seeds):
        report, n = check(args.binary, seed)
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
