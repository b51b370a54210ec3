"""BGZF, the blocked gzip of BAM, for tests that build or damage streams.

    compress(data, block=0xff00, eof=True)  data as BGZF blocks, then the
                                            end-of-file block
    blocks(stream)                          the blocks of a BGZF stream, each
                                            whole as it stands in the stream
    decompress(stream)                      the data of a BGZF stream
    EOF_BLOCK                               the 28-byte end-of-file block
"""

import struct
import zlib

EOF_BLOCK = bytes.fromhex("1f8b08040000000000ff0600424302001b0003000000000000000000")


def block(data):
    """One BGZF block holding `data` (at most 64 KiB)."""
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    deflated = c.compress(data) + c.flush()
    header = struct.pack("<4BI2BH2BHH", 0x1F, 0x8B, 8, 4, 0, 0, 0xFF, 6, ord("B"), ord("C"), 2,
                         len(deflated) + 25)
    return header + deflated + struct.pack("<II", zlib.crc32(data), len(data))


def compress(data, size=0xFF00, eof=True):
    out = [block(data[i:i + size]) for i in range(0, len(data), size)]
    if eof:
        out.append(EOF_BLOCK)
    return b"".join(out)


def blocks(stream):
    out, at = [], 0
    while at < len(stream):
        (bsize,) = struct.unpack_from("<H", stream, at + 16)
        out.append(stream[at:at + bsize + 1])
        at += bsize + 1
    return out


def decompress(stream):
    return b"".join(zlib.decompress(b[18:-8], -15) for b in blocks(stream))
