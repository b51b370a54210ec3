#!/usr/bin/env python3
"""Reference model of corvane's record loop, written for differential testing.

run(stdin_bytes) -> (stdout_bytes, stderr_bytes, exit_status, merged_bytes)

merged_bytes is what a run under `2>&1` shows: every line goes out whole and
in the order it was written. run_failing_stream() gives the outcome when
writes to one of the two streams fail.

The walk is kept column by column, with the same hook order and the same
32-bit counters as the program, so a disagreement points at one column.
Run as a script it reads standard input and behaves as the program would
on its two output streams.
"""

import errno
import os
import re
import signal
import sys

INT_MAX = 2147483647
INT_MIN = -2147483648

# Only these six bytes separate fields; bytes >= 0x80 never do.
WHITE = b" \t\n\x0b\x0c\r"
FIELD_RE = re.compile(rb"[^ \t\n\x0b\x0c\r]+")

MSG_CIGAR_READ = b"shift_cigar failed. Exiting."
MSG_UNSUPPORTED = b"Unsupported CIGAR character encountered"
MSG_MD_READ = b"shift_md failed; didn't grab character. Exiting."
MSG_MD_DELETION = b"Character not detected after ^ in MD tag. Exiting"
MSG_DELETION_NO_MD = b"D encountered in CIGAR without MD tag"
MSG_SHORT = b"Record has fewer than 11 fields"
MSG_SEQ_TOO_LONG = b"SEQ longer than 2147483647 bases is not supported"


class Thrown(Exception):
    """A bare thrown value: the integer 1 or the character 'e'."""

    def __init__(self, value):
        super().__init__(value)
        self.value = value


class CharStream:
    """In-memory text read front to back, with end-of-text, failure and bad-state indicators."""

    def __init__(self, text):
        self.text = text
        self.pos = 0
        self.eof = False
        self.fail = False
        self.bad = False  # never set for an in-memory text

    def any_indicator(self):
        return self.eof or self.fail or self.bad

    def failed(self):
        return self.fail or self.bad

    def clear(self):
        self.eof = self.fail = self.bad = False

    def unread(self):
        return len(self.text) - self.pos

    def _start(self):
        """Both reads begin so: refused when any indicator is set, then white
        space skipped, then the end of the text fails. True when a read may go on."""
        if self.any_indicator():
            self.fail = True
            return False
        while self.pos < len(self.text) and self.text[self.pos] in WHITE:
            self.pos += 1
        if self.pos >= len(self.text):
            self.eof = True
            self.fail = True
            return False
        return True

    def read_int(self, target):
        """Decimal integer read; returns the target's new value."""
        if not self._start():
            return target
        t = self.text
        negative = False
        if t[self.pos] in b"+-":
            negative = t[self.pos] == ord("-")
            self.pos += 1
        digits = 0
        value = 0
        overflow = False
        while self.pos < len(t) and 0x30 <= t[self.pos] <= 0x39:
            if not overflow:
                value = value * 10 + (t[self.pos] - 0x30)
                if value > INT_MAX + 1:
                    overflow = True
            digits += 1
            self.pos += 1
        if self.pos >= len(t):
            self.eof = True
        if digits == 0:
            self.fail = True
            return 0
        if negative:
            value = -value
        if overflow or value > INT_MAX or value < INT_MIN:
            self.fail = True
            return INT_MIN if negative else INT_MAX
        return value

    def read_char(self, target):
        """Single character read (one byte, as an int); returns the target's new value."""
        if not self._start():
            return target
        c = self.text[self.pos]
        self.pos += 1
        return c


class Walk:
    """Walk state of one record; the operations change it in place."""

    def __init__(self):
        self.read_pos = 0
        self.cigar_len = 0
        self.cigar_op = 0  # NUL
        self.cigar_done = 0
        self.md_len = 0
        self.md_char = ord("N")
        self.md_is_char = 1
        self.md_done = 0
        self.no_match = 0
        self.ref_gap = 0
        self.ref_skip = 0
        self.ref_pad = 0
        self.read_line = bytearray()
        self.match_line = bytearray()
        self.ref_line = bytearray()


def isolate_md(fields):
    result = b""
    if len(fields) == 11:
        return result
    for i in range(11, len(fields)):
        f = fields[i]
        if len(f) >= 5 and f[:5] == b"MD:Z:":
            result = f[5:]
    return result


def shift_cigar(cigar_stream, w):
    if cigar_stream.failed():
        return cigar_stream
    w.cigar_len = cigar_stream.read_int(w.cigar_len)
    w.cigar_op = cigar_stream.read_char(w.cigar_op)
    if cigar_stream.failed():
        raise Thrown(1)
    return cigar_stream


READ_TABLE = {
    ord("="): (None, ()),
    ord("M"): (None, ()),
    ord("X"): (None, ()),
    ord("I"): (None, ("no_match", "ref_gap")),
    ord("S"): (None, ("no_match", "ref_skip")),
    ord("D"): (ord("-"), ("no_match",)),
    ord("N"): (ord("."), ("no_match", "ref_skip")),
    ord("P"): (ord("*"), ("no_match", "ref_pad")),
}


def translate_cigar(sequence, w):
    entry = READ_TABLE.get(w.cigar_op)
    if entry is None:
        raise Thrown(1)
    char, flags = entry
    w.read_line.append(sequence[w.read_pos] if char is None else char)
    for f in flags:
        setattr(w, f, 1)
    w.cigar_done += 1
    return 0


def shift_md(md_stream, w):
    if md_stream.failed():
        return md_stream
    w.md_len = md_stream.read_int(w.md_len)
    if md_stream.failed():
        md_stream.clear()
    else:
        w.md_is_char = 0
        if w.md_len != 0:
            return md_stream
        if md_stream.unread() == 0:
            return md_stream
    w.md_char = md_stream.read_char(w.md_char)
    if md_stream.failed():
        raise Thrown("e")
    w.md_is_char = 1
    return md_stream


def translate_md(md_stream, sequence, w):
    if w.ref_gap:
        w.ref_line.append(ord("-"))
        return md_stream
    if w.ref_skip:
        w.ref_line.append(ord("N"))
        return md_stream
    if w.ref_pad:
        w.ref_line.append(ord("*"))
        return md_stream
    if w.md_is_char != 0:
        if w.md_char == ord("^"):
            w.md_char = md_stream.read_char(w.md_char)
            if md_stream.failed():
                raise Thrown(1)
            w.ref_line.append(w.md_char)
        else:
            w.ref_line.append(w.md_char)
            w.no_match = 1
        w.md_done += 1
        return md_stream
    if w.md_done >= w.md_len:
        return md_stream
    w.ref_line.append(sequence[w.read_pos])
    w.md_done += 1
    return md_stream


# Walk outcomes.
COMPLETED = "completed"
LEFT = "left"          # left early without a report (hard clip)
ABANDONED = "abandoned"  # non-fatal report written
FATAL = "fatal"


def walk(fields, sequence, md_text, cigar_stream, md_stream, w, out):
    """Returns one of the outcomes above; failure reports go to `out`."""
    seq_len = len(fields[9])
    while True:
        if w.read_pos >= seq_len:
            return COMPLETED
        # 1. next CIGAR operation, hard clips skipped
        if w.cigar_done == 0:
            try:
                shift_cigar(cigar_stream, w)
            except Thrown:
                out.report(fields, MSG_CIGAR_READ, fatal=True)
                return FATAL
            while w.cigar_op == ord("H"):
                if md_stream.unread() == 0:
                    return LEFT
                try:
                    shift_cigar(cigar_stream, w)
                except Thrown:
                    out.report(fields, MSG_CIGAR_READ, fatal=True)
                    return FATAL
        # 2. MD advance; no read in S, I, N and P columns
        if (md_stream.unread() != 0 and w.md_done == 0
                and w.cigar_op not in b"SINP"):
            try:
                shift_md(md_stream, w)
            except Thrown:
                out.report(fields, MSG_MD_READ, fatal=True)
                return FATAL
        # 3. column flags
        w.ref_gap = w.no_match = w.ref_skip = w.ref_pad = 0
        # 4. read character
        if w.cigar_done < w.cigar_len:
            try:
                translate_cigar(sequence, w)
            except Thrown:
                out.report(fields, MSG_UNSUPPORTED, fatal=False)
                return ABANDONED
        # 5. reference step
        if md_text:
            try:
                translate_md(md_stream, sequence, w)
            except Thrown:
                out.report(fields, MSG_MD_DELETION, fatal=True)
                return FATAL
        else:
            if w.ref_gap:
                w.ref_line.append(ord("-"))
            elif w.ref_pad:
                w.ref_line.append(ord("*"))
            elif w.ref_skip:
                w.ref_line.append(ord("N"))
            elif w.cigar_op == ord("D"):
                out.report(fields, MSG_DELETION_NO_MD, fatal=False)
                return ABANDONED
            else:
                w.ref_line.append(sequence[w.read_pos])
        # 6. match character
        w.match_line.append(ord(" ") if w.no_match else ord("|"))
        # 7. end of operation
        if w.cigar_done == w.cigar_len:
            w.cigar_done = 0
        # 8. MD reset
        if w.md_is_char == 0 and w.cigar_op != ord("S"):
            if w.md_done == w.md_len:
                w.md_done = 0
        elif w.md_is_char != 0:
            w.md_done = 0
        # 9. advance
        if w.cigar_op not in b"DNP":
            w.read_pos += 1


class Output:
    """Collects written lines in order, tagged with their stream."""

    def __init__(self):
        self.events = []

    def out(self, data):
        self.events.append((1, data))

    def err(self, data):
        self.events.append((2, data))

    def report(self, fields, message, fatal):
        self.err(b"\t".join(fields[:9]) + b"\n")
        self.err(message + b"\n")
        if not fatal:
            self.err(b"\n")
            self.err(b"\n")

    def streams(self):
        stdout = b"".join(d for s, d in self.events if s == 1)
        stderr = b"".join(d for s, d in self.events if s == 2)
        merged = b"".join(d for _, d in self.events)
        return stdout, stderr, merged


# Record outcomes (what record_outcome reports).
SKIPPED = "skipped"   # no fields
SHORT = "short"       # 1 to 10 fields, reported


def process_record(line, out):
    """One record line; returns (outcome, keep_going)."""
    fields = FIELD_RE.findall(line)
    if not fields:
        return SKIPPED, True
    if len(fields) < 11:
        out.err(b"\t".join(fields) + b"\n")
        out.err(MSG_SHORT + b"\n")
        out.err(b"\n")
        out.err(b"\n")
        return SHORT, True
    md_text = isolate_md(fields)
    sequence = fields[9]
    if len(sequence) > INT_MAX:
        out.report(fields, MSG_SEQ_TOO_LONG, fatal=False)
        return ABANDONED, True
    w = Walk()
    cigar_stream = CharStream(fields[5])
    md_stream = CharStream(md_text)
    outcome = walk(fields, sequence, md_text, cigar_stream, md_stream, w, out)
    if outcome == FATAL:
        return FATAL, False
    if w.read_pos == len(sequence):
        out.out(b"\t".join(fields[:9]) + b"\n")
        out.out(bytes(w.read_line) + b"\n")
        out.out(bytes(w.match_line) + b"\n")
        out.out(bytes(w.ref_line) + b"\n")
    return outcome, True


def record_outcome(line):
    """Outcome of one line processed as a record (never as a header)."""
    return process_record(line, Output())[0]


def split_lines(data):
    if not data:
        return []
    lines = data.split(b"\n")
    if data.endswith(b"\n"):
        lines.pop()
    return lines


def run(data):
    out = Output()
    exit_status = _run_into(data, out)
    stdout, stderr, merged = out.streams()
    return stdout, stderr, exit_status, merged


def _run_into(data, out):
    lines = split_lines(data)
    exit_status = 0
    first_record = True
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if first_record:
            ended = False
            while line[:1] == b"@":
                if i >= len(lines):
                    ended = True
                    break
                line = lines[i]
                i += 1
            if ended:
                break
        _, keep_going = process_record(line, out)
        first_record = False
        if not keep_going:
            exit_status = 1
            break
    return exit_status


def run_failing_stream(data, failing, how):
    """Outcome when every write to one stream fails.

    failing is 1 (stdout) or 2 (stderr); how is "full" (the write fails
    with ENOSPC, as on /dev/full) or "closed" (a pipe without reader:
    SIGPIPE, exit status -13 as subprocess reports it). The first line
    meant for the failing stream ends the run; what the other stream got
    before it stays. Returns (stdout, stderr, exit_status) of the stream
    that still works, the failing one given as b"".
    """
    out = Output()
    exit_status = _run_into(data, out)
    before = []
    for stream, chunk in out.events:
        if stream == failing:
            break
        before.append((stream, chunk))
    else:
        stdout, stderr, _ = out.streams()
        return stdout, stderr, exit_status
    got_out = b"".join(c for s, c in before if s == 1)
    got_err = b"".join(c for s, c in before if s == 2)
    if how == "closed":
        return got_out, got_err, -13
    if failing == 1:
        got_err += ("corvane: error writing standard output: %s\n"
                    % os.strerror(errno.ENOSPC)).encode()
    return got_out, got_err, 1


def main():
    """Behaves as the program would: lines go out in order, one write each."""
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    data = sys.stdin.buffer.read()
    out = Output()
    status = _run_into(data, out)
    for stream, chunk in out.events:
        try:
            while chunk:
                chunk = chunk[os.write(stream, chunk):]
        except OSError as e:
            name = "standard output" if stream == 1 else "standard error"
            try:
                os.write(2, ("corvane: error writing %s: %s\n"
                             % (name, os.strerror(e.errno))).encode())
            except OSError:
                pass
            return 1
    return status


if __name__ == "__main__":
    sys.exit(main())
