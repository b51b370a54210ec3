"""Lines of SAM text through htslib's own record parser, in process.

samtools reads SAM text with this parser, so a line it takes without an
error or a warning is one that samtools converts cleanly too; asking it here
costs microseconds where a samtools run per record would cost milliseconds.

    parser = Parser(header_text)
    parser.parse(line)   the line as samtools would print the record back
                         (its SAM text, without the line feed), or None when
                         htslib rejects it or warns about it
"""

import ctypes
import ctypes.util
import os
import tempfile


class _KString(ctypes.Structure):
    _fields_ = [("l", ctypes.c_size_t), ("m", ctypes.c_size_t), ("s", ctypes.c_void_p)]


def _library():
    for name in (ctypes.util.find_library("hts"), "libhts.so.3", "libhts.so"):
        if name:
            try:
                return ctypes.CDLL(name)
            except OSError:
                pass
    raise OSError("libhts not found")


class Parser:
    def __init__(self, header_text):
        lib = self._lib = _library()
        lib.sam_hdr_parse.restype = ctypes.c_void_p
        lib.sam_hdr_parse.argtypes = [ctypes.c_size_t, ctypes.c_char_p]
        lib.sam_hdr_destroy.argtypes = [ctypes.c_void_p]
        lib.bam_init1.restype = ctypes.c_void_p
        lib.bam_destroy1.argtypes = [ctypes.c_void_p]
        lib.sam_parse1.argtypes = [ctypes.POINTER(_KString), ctypes.c_void_p, ctypes.c_void_p]
        lib.sam_format1.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(_KString)]
        self._libc = ctypes.CDLL(None)
        self._libc.free.argtypes = [ctypes.c_void_p]
        self._header = lib.sam_hdr_parse(len(header_text), header_text)
        if not self._header:
            raise ValueError("htslib rejects the header")
        self._record = lib.bam_init1()
        self._text = _KString(0, 0, None)
        # htslib warns on standard error: a file there tells whether it did.
        self._log = tempfile.TemporaryFile()

    def parse(self, line):
        buf = ctypes.create_string_buffer(line, len(line) + 1)
        s = _KString(len(line), len(line) + 1, ctypes.cast(buf, ctypes.c_void_p))
        saved = os.dup(2)
        os.dup2(self._log.fileno(), 2)
        try:
            before = os.fstat(2).st_size
            ok = self._lib.sam_parse1(ctypes.byref(s), self._header, self._record) >= 0
            warned = os.fstat(2).st_size != before
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        if not ok or warned:
            return None
        self._text.l = 0
        if self._lib.sam_format1(self._header, self._record, ctypes.byref(self._text)) < 0:
            return None
        return ctypes.string_at(self._text.s, self._text.l)

    def close(self):
        self._lib.bam_destroy1(self._record)
        self._lib.sam_hdr_destroy(self._header)
        self._libc.free(self._text.s)
        self._log.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
