"""BAM built field by field, for records that SAM text cannot express.

Every field is taken as given and nothing is checked, so a test can write
white space into a read name, an empty reference name, a quality byte of
255 in the middle of a read or a tag of an unknown type.

    header(refs, text=None)      the BAM header: refs is [(name, length)],
                                 text the SAM header text (default: one
                                 @SQ line per reference)
    record(...)                  one alignment record (see its arguments)
    tag(key, type, value)        one optional field in binary form
    bam(header, records, block=0xff00, eof=True)
                                 the whole stream, BGZF-compressed
    raw(header, records)         the same bytes without BGZF
    flag(record), tid(record)    FLAG and the reference index of a record

Names, keys and string values are bytes (str is encoded as Latin-1).
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bgzf  # noqa: E402

CIGAR_OPS = "MIDNSHP=X"
BASES = "=ACMGRSVTWYHKDBN"
# What a byte of SEQ text stands for; anything else is N.
BASE_CODE = {ord(c): i for i, c in enumerate(BASES)}


def _bytes(v):
    return v.encode("latin-1") if isinstance(v, str) else bytes(v)


def header(refs, text=None):
    refs = [(_bytes(n), length) for n, length in refs]
    if text is None:
        text = b"".join(b"@SQ\tSN:%s\tLN:%d\n" % (n, length) for n, length in refs)
    text = _bytes(text)
    out = [b"BAM\1", struct.pack("<i", len(text)), text, struct.pack("<i", len(refs))]
    for name, length in refs:
        out.append(struct.pack("<i", len(name) + 1) + name + b"\0" + struct.pack("<i", length))
    return b"".join(out)


def parse_cigar(text):
    """[(length, op code)] from CIGAR text such as "3M1D2M"."""
    ops, count = [], ""
    for c in text:
        if c.isdigit():
            count += c
        else:
            ops.append((int(count), CIGAR_OPS.index(c)))
            count = ""
    return ops


def reference_span(ops):
    return sum(n for n, op in ops if op in (0, 2, 3, 7, 8))


def reg2bin(beg, end):
    """The binning index of [beg, end), as BAM stores it."""
    end -= 1
    for shift, offset in ((14, 4681), (17, 585), (20, 73), (23, 9), (26, 1)):
        if beg >> shift == end >> shift:
            return offset + (beg >> shift)
    return 0


def tag(key, type, value):
    """An optional field: `type` is one of AcCsSiIfdZHB; a B value is
    (subtype, [numbers]). Z and H values get their NUL here."""
    key, out = _bytes(key), _bytes(type)
    if type == "A":
        out += _bytes(value)
    elif type in "cCsSiIfd":
        out += struct.pack("<" + {"c": "b", "C": "B", "s": "h", "S": "H", "i": "i", "I": "I",
                                  "f": "f", "d": "d"}[type], value)
    elif type in "ZH":
        out += _bytes(value) + b"\0"
    elif type == "B":
        sub, numbers = value
        fmt = {"c": "b", "C": "B", "s": "h", "S": "H", "i": "i", "I": "I", "f": "f"}[sub]
        out += _bytes(sub) + struct.pack("<I", len(numbers))
        out += struct.pack("<%d%s" % (len(numbers), fmt), *numbers)
    else:
        out += _bytes(value)  # an unknown type: the value bytes as given
    return key + out


def record(qname=b"r", flag=0, tid=0, pos=0, mapq=60, cigar="4M", mtid=-1, mpos=-1, tlen=0,
           seq=b"ACGT", qual=None, tags=(), bin=None):
    """One record. `pos` and `mpos` are 0-based; `cigar` is CIGAR text or
    [(length, op code)] (codes past 8 allowed); `seq` is text, "*" or
    b"" for none; `qual` is the raw quality bytes (default: 0xff each,
    "no qualities"); `tags` are tag() values or raw bytes. `qname` gets
    its NUL here."""
    qname = _bytes(qname) + b"\0"
    ops = parse_cigar(cigar) if isinstance(cigar, str) else list(cigar)
    seq = _bytes(seq)
    if seq == b"*":
        seq = b""
    if qual is None:
        qual = b"\xff" * len(seq)
    if bin is None:
        span = reference_span(ops)
        bin = reg2bin(max(pos, 0), max(pos, 0) + max(span, 1)) if pos >= 0 else 4680
    packed = bytearray((len(seq) + 1) // 2)
    for i, c in enumerate(seq):
        packed[i // 2] |= BASE_CODE.get(c, 15) << (4 if i % 2 == 0 else 0)
    body = b"".join([
        struct.pack("<iiBBHHHiiii", tid, pos, len(qname), mapq, bin, len(ops), flag, len(seq),
                    mtid, mpos, tlen),
        qname,
        b"".join(struct.pack("<I", n << 4 | op) for n, op in ops),
        bytes(packed),
        _bytes(qual),
        b"".join(_bytes(t) for t in tags),
    ])
    return struct.pack("<i", len(body)) + body


def flag(record_bytes):
    """The FLAG of a record() value."""
    return struct.unpack_from("<H", record_bytes, 18)[0]


def tid(record_bytes):
    """The reference sequence index of a record() value."""
    return struct.unpack_from("<i", record_bytes, 4)[0]


def raw(header_bytes, records):
    return header_bytes + b"".join(records)


def bam(header_bytes, records, block=0xFF00, eof=True):
    return bgzf.compress(raw(header_bytes, records), block, eof)
