#!/usr/bin/env python3
"""corvane reading BAM, CRAM and compressed SAM itself, against the pipeline
users ran before it could: `corvane < X` against `samtools view -F 4 X |
corvane`, and `corvane < X.gz` against `zcat X.gz | corvane`.

    differential.py CORVANE [--keep DIR]

Every binary file that samtools reads without an error or a warning must
give the same standard output, standard error, exit status and merged
stream (2>&1) both ways. corvane runs twice per input and route: from a pipe
with the two streams apart, and from the file under 2>&1. A file that
samtools reads with an error or a warning only has to end cleanly: status
0 or 1, at most one `corvane:` line and that one last, no sanitizer report,
no hang. The files are made here, from fixed seeds:

  golden    the whole-program cases, with @SQ lines for the names they use
            (and, where samtools rejects records, the case without them)
  random    records of the model test's generator that samtools takes, and
            records drawn field by field with the odd byte SAM text cannot
            hold as one field
  real      the real-aligner fixture and its reference, also in other CRAM
            versions and layouts and other BGZF blockings
  long      noisy reads of more than 65,535 CIGAR operations (a CG tag in
            BAM)
  odd       BAM written field by field: what SAM text cannot say, or says
            as other fields; and damaged records, which need only end
            cleanly

each as BAM and as CRAM against a reference of random bases that REF_PATH
finds locally (never the network). Compressed SAM: gzip and BGZF of golden,
random and real text, whole, in members or in blocks of a few bytes.
"""

import argparse
import gzip
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean under ctest
HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
sys.path[:0] = [HERE, os.path.join(TESTS, "model")]
import bam  # noqa: E402
import bgzf  # noqa: E402
import model  # noqa: E402
import random_sam  # noqa: E402
import sam_parse  # noqa: E402

TIMEOUT = 120
RANDOM_SEEDS = 500
RANDOM_BATCH = 300  # mapped records per random file
FATAL_MESSAGES = [model.MSG_CIGAR_READ, model.MSG_MD_READ, model.MSG_MD_DELETION]
ERROR_PREFIX = b"corvane: error reading standard input: "


def first_difference(want, got):
    wl, gl = want.split(b"\n"), got.split(b"\n")
    i = 0
    while i < len(wl) and i < len(gl) and wl[i] == gl[i]:
        i += 1
    show = lambda lines: repr(lines[i][:200]) if i < len(lines) else "(none)"  # noqa: E731
    return "line %d: pipeline %s, corvane %s" % (i + 1, show(wl), show(gl))


def sam_fields(line):
    return line.split(b"\t")


class Differential:
    def __init__(self, corvane, tmp):
        self.corvane = corvane
        self.tmp = tmp
        self.refs = os.path.join(tmp, "refs")
        os.makedirs(self.refs)
        # CRAM finds its references here by checksum; never on a server.
        os.environ["REF_PATH"] = os.path.join(self.refs, "%s")
        os.environ["REF_CACHE"] = os.path.join(self.refs, "%s")
        self.failures = []
        self.compared = {}  # kind -> files compared
        self.records = 0  # mapped records in the files compared
        self.unclean = []  # (file, what samtools said, how corvane ended)
        self.notes = []
        self.cache = {}  # text -> corvane's runs on it
        self.runs = 0

    # -- files and references ------------------------------------------------

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def reference(self, name, length):
        """Random bases for a reference sequence, findable by their MD5."""
        name = name if isinstance(name, bytes) else name.encode()
        rng = random.Random(b"%s:%d" % (name, length))
        seq = bytes(rng.choices(b"ACGT", k=length))
        return self.store(seq)

    def store(self, seq):
        md5 = hashlib.md5(seq.upper()).hexdigest()
        with open(os.path.join(self.refs, md5), "wb") as f:
            f.write(seq.upper())
        return seq, md5

    def fasta(self, name, seqs):
        """A FASTA of [(name, bases)], for samtools view -T."""
        out = []
        for n, s in seqs:
            out.append(b">" + n + b"\n")
            out += [s[i:i + 60] + b"\n" for i in range(0, len(s), 60)]
        return self.write(name, b"".join(out))

    # -- runs -----------------------------------------------------------------

    def run(self, cmd, stdin_path=None, data=None, merged=False):
        """(stdout, stderr, status) of one run; status None on a time-out."""
        self.runs += 1
        stderr = subprocess.STDOUT if merged else subprocess.PIPE
        try:
            if stdin_path is not None:
                with open(stdin_path, "rb") as f:
                    p = subprocess.run(cmd, stdin=f, stdout=subprocess.PIPE, stderr=stderr,
                                       timeout=TIMEOUT)
            else:
                p = subprocess.run(cmd, input=data, stdout=subprocess.PIPE, stderr=stderr,
                                   timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return b"", b"", None
        return p.stdout, p.stderr or b"", p.returncode

    def corvane_runs(self, path):
        """corvane with the file on standard input: through a pipe with the
        streams apart, then from the file under 2>&1."""
        with open(path, "rb") as f:
            data = f.read()
        out, err, rc = self.run([self.corvane], data=data)
        both, _, rc_both = self.run([self.corvane], stdin_path=path, merged=True)
        return {"stdout": out, "stderr": err, "status": rc, "2>&1": both,
                "status under 2>&1": rc_both}

    def text_runs(self, text):
        """corvane on SAM text, once per distinct text."""
        key = hashlib.sha256(text).hexdigest()
        if key not in self.cache:
            self.cache[key] = self.corvane_runs(self.write("text-" + key[:16] + ".sam", text))
        return self.cache[key]

    def same(self, label, want, got):
        for k in want:
            if want[k] != got[k]:
                detail = (first_difference(want[k], got[k]) if isinstance(want[k], bytes)
                          else "pipeline %r, corvane %r" % (want[k], got[k]))
                self.failures.append("%s: %s differs: %s" % (label, k, detail))
                return False
        return True

    # -- the checks -----------------------------------------------------------

    def check_binary(self, kind, path, expect_clean=True):
        """`corvane < X` against `samtools view -F 4 X | corvane`."""
        label = os.path.basename(path)
        text, err, rc = self.run(["samtools", "view", "-F", "4", path])
        if rc != 0 or err:
            said = (err.decode("latin-1").strip().splitlines() or ["status %s" % rc])[0]
            self.check_clean_end(label, said)
            if expect_clean:
                self.failures.append("%s: samtools does not read it cleanly: %s" % (label, said))
            return
        got = self.corvane_runs(path)
        if self.same(label, self.text_runs(text), got):
            self.compared[kind] = self.compared.get(kind, 0) + 1
            self.records += text.count(b"\n")

    def check_clean_end(self, label, said):
        _, err, rc = self.run([self.corvane], stdin_path=self.path(label))
        lines = err.split(b"\n")[:-1] if err.endswith(b"\n") else err.split(b"\n")
        ours = [line for line in lines if line.startswith(ERROR_PREFIX)]
        if rc is None:
            how = "hangs"
        elif rc not in (0, 1) or b"Sanitizer" in err or b"runtime error" in err:
            how = "crashes or trips a sanitizer (status %s): %r" % (rc, err[-300:])
        elif len(ours) > 1 or (ours and lines[-1] != ours[0]) or any(
                line.startswith(b"corvane:") and line not in ours for line in lines):
            how = "writes more than one last error line: %r" % ours
        elif rc == 1 and not ours and (not lines or lines[-1] not in FATAL_MESSAGES):
            how = "ends with status 1 without saying why"
        elif rc == 0 and ours:
            how = "reports an error with status 0"
        else:
            outcome = ours[0].decode("latin-1") if ours else "status %d" % rc
            self.unclean.append((label, said, outcome))
            return
        self.failures.append("%s (samtools: %s): corvane %s" % (label, said, how))

    def check_compressed(self, name, compressed, text):
        """`corvane < X.gz` against `zcat X.gz | corvane`."""
        path = self.write(name, compressed)
        if self.same(name, self.text_runs(text), self.corvane_runs(path)):
            self.compared["compressed SAM"] = self.compared.get("compressed SAM", 0) + 1

    def convert(self, sam_path, out_path, *options):
        """samtools view -o OUT OPTIONS SAM: True when it says nothing."""
        _, err, rc = self.run(["samtools", "view", "-o", out_path, *options, sam_path])
        if rc != 0 or err:
            said = (err.decode("latin-1").strip().splitlines() or ["status %s" % rc])[0]
            self.notes.append("%s: samtools %s" % (os.path.basename(out_path), said))
            return rc == 0 and os.path.exists(out_path)
        return True

    def from_sam(self, kind, name, sam, fasta, cram=True, expect_clean=True):
        """BAM and CRAM of SAM text, each checked."""
        sam_path = self.write(name + ".sam", sam)
        for ext, options in (("bam", ["-b"]), ("cram", ["-C", "-T", fasta])):
            if ext == "cram" and not cram:
                continue
            out = self.path("%s.%s" % (name, ext))
            if self.convert(sam_path, out, *options):
                self.check_binary(kind, out, expect_clean)
            elif expect_clean:
                self.failures.append("%s: samtools cannot convert it" % out)

    def from_bam(self, kind, name, data, cram=True, expect_clean=True, cram_data=None):
        """A BAM as given, and its CRAM made by samtools (of `cram_data`
        when given). Not every odd record survives CRAM: samtools may not
        read back what it wrote."""
        path = self.write(name + ".bam", data)
        self.check_binary(kind, path, expect_clean)
        if cram:
            if cram_data is not None and cram_data != data:
                path = self.write(name + "-for-cram.bam", cram_data)
            out = self.path(name + ".cram")
            if self.convert(path, out, "-C"):
                self.check_binary(kind, out, expect_clean=False)

    def packed(self, kind, name, header, records, cram=True, most=None):
        """Records in files that each end with the first record whose text
        ends the run, after a plain first one; with `most`, no more files
        than that, the other records that end the run left out. Returns
        the records that do not end it."""
        # Which ones end it, from their text: samtools prints each one
        # between two unmapped markers.
        marks = [bam.record(b"mark-%d" % i, flag=4, tid=-1, pos=-1, cigar="", seq="*")
                 for i in range(len(records))]
        path = self.write(name + "-all.bam", bam.bam(header, [
            x for pair in zip(records, marks) for x in pair]))
        text, err, rc = self.run(["samtools", "view", path])
        if rc != 0 or err:
            self.failures.append("%s: samtools does not read it cleanly: %r" % (path, err[:200]))
            return []
        ends, lines = [], []
        for line in text.split(b"\n"):
            if line.startswith(b"mark-%d\t" % len(ends)):
                mapped = not bam.flag(records[len(ends)]) & 4
                ends.append(mapped and any(model.record_outcome(x) == model.FATAL
                                           for x in lines))
                lines = []
            else:
                lines.append(line)
        first = bam.record(b"first", pos=9, tags=[bam.tag("MD", "Z", "1A2")])
        files, going = [[first]], []
        for record, ending in zip(records, ends):
            if not ending:
                files[-1].append(record)
                going.append(record)
            elif most is None or len(files) < most:
                files[-1].append(record)
                files.append([first])
        for i, records in enumerate(f for f in files if len(f) > 1):
            # A record flagged mapped but placed on no reference sequence
            # comes back from CRAM with bases that differ from run to run
            # (htslib 1.16): the CRAM is made without such records.
            placed = [r for r in records if not (bam.flag(r) & 4 == 0 and bam.tid(r) < 0)]
            self.from_bam(kind, "%s-%d" % (name, i), bam.bam(header, records), cram,
                          cram_data=bam.bam(header, placed))
        return going


# -- golden cases -------------------------------------------------------------

def samtools_ready(text):
    """SAM text as samtools takes it without a warning: RNEXT "=" with PNEXT
    0 is a mate "mapped at no position", so the mate's position becomes
    the record's own."""
    out = []
    for line in text.split(b"\n"):
        f = sam_fields(line)
        if len(f) >= 8 and f[6] == b"=" and f[7] == b"0" and f[3].isdigit() and f[3] != b"0":
            f[7] = f[3]
            line = b"\t".join(f)
        out.append(line)
    return b"\n".join(out)


def names_and_extent(lines):
    """Reference names used by record lines, and a length covering them."""
    names, extent = [], 1000
    for line in lines:
        f = sam_fields(line)
        if len(f) < 11 or line.startswith(b"@"):
            continue
        for n in (f[2], f[6]):
            if n not in (b"*", b"=") and n not in names:
                names.append(n)
        for p in (f[3], f[7]):
            if p.isdigit():
                extent = max(extent, int(p) + 1000)
    return names, extent


def golden(t):
    """Each case whole when samtools takes all of its records, else without
    the ones it rejects."""
    cases = os.path.join(TESTS, "cli", "cases")
    for case in sorted(os.listdir(cases)):
        if not case.endswith(".sam"):
            continue
        name = "golden-" + case[:-4]
        with open(os.path.join(cases, case), "rb") as f:
            lines = samtools_ready(f.read()).split(b"\n")
        if lines[-1] == b"":
            lines.pop()
        header = []
        while lines and lines[0].startswith(b"@") and len(sam_fields(lines[0])) < 11:
            header.append(lines.pop(0))
        if not lines:
            t.notes.append("%s: no records, nothing for samtools to convert" % name)
            continue
        # Its own @SQ lines, if any, give way to ones that cover every
        # position, after @HD.
        names, extent = names_and_extent(lines)
        seqs = [(n, t.reference(n, extent)[0]) for n in names]
        sq = [b"@SQ\tSN:%s\tLN:%d" % (n, len(s)) for n, s in seqs]
        header = [line for line in header if not line.startswith(b"@SQ")]
        hd = header[:1] if header and header[0].startswith(b"@HD") else []
        head = b"".join(line + b"\n" for line in hd + sq + header[len(hd):])
        fasta = t.fasta(name + ".fa", seqs or [(b"unused", t.reference(b"unused", 100)[0])])
        with sam_parse.Parser(head or b"@HD\tVN:1.6\n") as parser:
            kept = [line for line in lines if line and parser.parse(line) is not None]
        if len(kept) == len(lines):
            t.from_sam("golden", name, head + b"".join(line + b"\n" for line in lines), fasta)
            continue
        t.notes.append("%s: samtools rejects %d of its %d lines"
                       % (name, len(lines) - len(kept), len(lines)))
        if kept:
            t.from_sam("golden", name + "-taken", head + b"".join(line + b"\n" for line in kept),
                       fasta)


# -- random records -----------------------------------------------------------

def random_records(t):
    """The model test's records that samtools takes, in files of a few
    hundred; a run-ending record only last."""
    # Three reference sequences, so that CRAM slices hold several.
    names, length = [b"chr1", b"chr2", b"chr3"], 100000
    seqs = [(n, t.reference(n, length)[0]) for n in names]
    fasta = t.fasta("random.fa", seqs)
    head = b"@HD\tVN:1.6\tSO:unsorted\n" + b"".join(
        b"@SQ\tSN:%s\tLN:%d\n" % (n, length) for n in names)
    rng = random.Random(7)
    going, ending, unmapped, backs = [], [], [], []
    with sam_parse.Parser(head) as parser:
        for seed in range(RANDOM_SEEDS):
            for line in random_sam.generate(seed).split(b"\n"):
                if line.startswith(b"@") and seed % 7:
                    continue  # "@" names are kept from a few seeds only
                f = sam_fields(line)
                if len(f) > 2 and f[2] == b"chr1":
                    f[2] = rng.choice(names)
                    line = b"\t".join(f)
                text = parser.parse(samtools_ready(line)) if line else None
                if text is None:
                    continue
                if b"B" in sam_fields(text)[5]:
                    backs.append(text)  # a CIGAR operation CRAM cannot store
                elif int(sam_fields(text)[1]) & 4:
                    unmapped.append(text)
                elif model.record_outcome(text) == model.FATAL:
                    ending.append(text)
                else:
                    going.append(text)
    rng.shuffle(going)
    files = 0
    while going:
        batch, going = going[:RANDOM_BATCH], going[RANDOM_BATCH:]
        # Unmapped records among the others, and never first: samtools
        # would read a first "@" record as a header line.
        for r in unmapped[files * 40:(files + 1) * 40]:
            batch.insert(rng.randrange(1, len(batch) + 1), r)
        while batch[0].startswith(b"@"):
            batch.append(batch.pop(0))
        if files % 2 == 0 and files // 2 < len(ending):
            batch.append(ending[files // 2])
        t.from_sam("random", "random-%d" % files, head + b"\n".join(batch) + b"\n", fasta)
        files += 1
    backs.sort(key=lambda r: r.startswith(b"@"))
    t.from_sam("random", "random-back", head + b"\n".join(backs) + b"\n", fasta, cram=False)


# -- random records, field by field --------------------------------------------

def random_binary(t):
    """Records drawn field by field, now and then with a byte that SAM text
    would take for a field's end or a line's in a name, a reference name,
    a tag or QUAL, or with MD tags of other types, several or none."""
    rng = random.Random(1515)
    refs = [(b"chr1", 3000), (b"chr 2", 3000), (b"", 3000), (b"c\xa0", 3000)]
    text = b"".join(b"@SQ\tSN:%s\tLN:%d\tM5:%s\n" % (n, length, t.reference(n, length)[1]
                                                      .encode()) for n, length in refs)
    header = bam.header(refs, text)
    # A name that begins with NUL is empty to CRAM, which makes one up from
    # the file's name: none in names here.
    odd_bytes = b" \t\n\r\x0b\x0c\xa0\x85@"

    def odd_text(base):
        base = bytearray(base)
        if rng.random() < 0.08:
            base.insert(rng.randrange(len(base) + 1), rng.choice(odd_bytes))
        return bytes(base)

    records = []
    for i in range(1500):
        ops = random_sam.gen_ops(rng)
        if rng.random() < 0.1:
            ops.insert(rng.randrange(len(ops) + 1), (0, rng.choice("MIDNSHP=X")))
        bases = random_sam.seq_len_of(ops)
        seq = bytes(rng.choices(b"ACGTN=" if rng.random() < 0.1 else b"ACGT", k=bases))
        md_text = random_sam.md_for(rng, ops, seq)
        if rng.random() < 0.1:
            md_text = random_sam.mutate_md(rng, md_text).replace(b"\0", b"")
        tags = []
        for _ in range(rng.randrange(4)):
            kind = rng.randrange(6)
            if kind == 0:
                tags.append(bam.tag("NM", "i", rng.randrange(-3, 300)))
            elif kind == 1:
                tags.append(bam.tag("XA", "A", bytes([rng.choice(b"+-a" + odd_bytes[:6])])))
            elif kind == 2:
                tags.append(bam.tag("XZ", "Z", odd_text(b"zz%d" % i)))
            elif kind == 3:
                tags.append(bam.tag("XB", "B", ("s", [rng.randrange(-9, 9)] * rng.randrange(3))))
            elif kind == 4:
                tags.append(rng.choice([bam.tag("MD", "i", 3), bam.tag("MD", "A", "4"),
                                        bam.tag("MD", "Z", ""), bam.tag("MD", "Z", "1A1")]))
            else:
                tags.append(bam.tag(odd_text(b"X")[:2].ljust(2, b"Y"), "Z", b"v"))
        if rng.random() < 0.7:
            tags.insert(rng.randrange(len(tags) + 1), bam.tag("MD", "Z", md_text))
        qual = None
        if rng.random() < 0.8:
            qual = bytes(rng.choices(range(0, 60), k=bases))
            if bases and rng.random() < 0.1:
                q = bytearray(qual)
                q[rng.randrange(bases)] = rng.choice([232, 233, 234, 235, 236, 255, 231, 237])
                qual = bytes(q)
        tid = rng.choice([0, 0, 0, 1, 2, 3, -1])
        mtid = rng.choice([-1, -1, tid, 0, 1, 2, 3])
        cigar = [(n, "MIDNSHP=X".index(op)) for n, op in ops]
        if rng.random() < 0.01:
            cigar, seq, qual = [], b"*", None  # no CIGAR: the run ends here, if mapped
        records.append(bam.record(
            qname=odd_text(b"b%d" % i), flag=rng.choice([0, 0, 16, 256, 2048, 1 | 8, 4, 1 | 2 | 64]),
            tid=tid, pos=rng.randrange(-1, 1500), mapq=rng.randrange(256), cigar=cigar,
            mtid=mtid, mpos=rng.randrange(-1, 1500), tlen=rng.randrange(-500, 500),
            seq=seq or b"*", qual=qual, tags=tags))
    t.packed("random", "random-fields", header, records, most=6)


# -- the real-aligner fixture ---------------------------------------------------

def read_fasta(path):
    seqs, name = [], None
    with open(path, "rb") as f:
        for line in f:
            line = line.strip()
            if line.startswith(b">"):
                name = line[1:].split()[0]
                seqs.append([name, []])
            elif name is not None:
                seqs[-1][1].append(line)
    return [(n, b"".join(parts)) for n, parts in seqs]


def real(t):
    data = os.path.join(TESTS, "data")
    seqs = read_fasta(os.path.join(data, "real_ref.fa"))
    for _, s in seqs:
        t.store(s)
    fasta = t.fasta("real_ref.fa", seqs)
    with open(os.path.join(data, "real.sam"), "rb") as f:
        sam = f.read()
    t.from_sam("real", "real", sam, fasta)
    # Other CRAM versions and layouts, and BAM without compression.
    sam_path = t.path("real.sam")
    for option in ("version=2.1", "version=3.1", "seqs_per_slice=20", "embed_ref=1",
                   "no_ref=1"):
        out = t.path("real-%s.cram" % option.replace("=", ""))
        if t.convert(sam_path, out, "-C", "-T", fasta, "--output-fmt-option", option):
            t.check_binary("real", out)
    out = t.path("real-uncompressed.bam")
    if t.convert(sam_path, out, "-u"):
        t.check_binary("real", out)
    # The same BAM stream in other BGZF blocks: a few bytes each, the
    # largest, and with empty blocks inside and after the end-of-file one.
    with open(t.path("real.bam"), "rb") as f:
        stream = bgzf.decompress(f.read())
    third = len(stream) // 3
    for name, data in [
            ("small-blocks", bgzf.compress(stream, size=61)),
            ("large-blocks", bgzf.compress(stream, size=0x10000)),
            ("empty-blocks", bgzf.compress(stream[:third], eof=False) + bgzf.EOF_BLOCK
             + bgzf.block(b"") + bgzf.compress(stream[third:]) + bgzf.EOF_BLOCK)]:
        t.check_binary("real", t.write("real-%s.bam" % name, data))
    return sam


# -- long noisy reads -------------------------------------------------------------

def noisy_read(rng, ref, start, bases, eqx=False):
    """A read of about `bases` bases from ref[start:], an error every few
    bases: CIGAR operations, read bases and the MD text."""
    ops, seq, md = [], bytearray(), []
    run = 0  # matching bases since the last MD token
    at = start

    def op(n, c):
        if ops and ops[-1][1] == c:
            ops[-1][0] += n
        else:
            ops.append([n, c])

    while len(seq) < bases:
        n = rng.randint(1, 3)
        seq += ref[at:at + n]
        op(n, "=" if eqx else "M")
        at += n
        run += n
        kind = rng.randrange(3)
        if kind == 0:  # a substitution
            seq.append(rng.choice([b for b in b"ACGT" if b != ref[at]]))
            op(1, "X" if eqx else "M")
            md += [str(run), chr(ref[at])]
            run = 0
            at += 1
        elif kind == 1:
            n = rng.randint(1, 2)
            seq += bytes(rng.choices(b"ACGT", k=n))
            op(n, "I")
        else:
            n = rng.randint(1, 2)
            md += [str(run), "^" + ref[at:at + n].decode()]
            run = 0
            op(n, "D")
            at += n
    n = rng.randint(1, 5)
    seq += ref[at:at + n]
    op(n, "=" if eqx else "M")
    md.append(str(run + n))
    return ops, bytes(seq), "".join(md)


def long_reads(t):
    rng = random.Random(65536)
    length = 700000
    ref, _ = t.reference(b"chrL", length)
    fasta = t.fasta("long.fa", [(b"chrL", ref)])
    lines = []
    for i, (start, bases, eqx, clips, with_md) in enumerate([
            (1000, 180000, False, False, True),
            (250000, 120000, True, True, True),
            (450000, 180000, False, True, False)]):
        ops, seq, md = noisy_read(rng, ref, start, bases, eqx)
        if clips:
            ops = [[7, "H"], [12, "S"]] + ops + [[9, "S"], [3, "H"]]
            seq = bytes(rng.choices(b"ACGT", k=12)) + seq + bytes(rng.choices(b"ACGT", k=9))
        cigar = "".join("%d%s" % (n, c) for n, c in ops).encode()
        qual = bytes(rng.choices(range(35, 75), k=len(seq)))
        fields = [b"long%d" % i, b"0", b"chrL", b"%d" % (start + 1), b"60", cigar, b"*", b"0",
                  b"0", seq, qual]
        if with_md:
            fields.append(b"MD:Z:" + md.encode())
        fields.append(b"NM:i:1")
        lines.append(b"\t".join(fields))
        assert len(ops) > 65535, len(ops)
    sam = b"@SQ\tSN:chrL\tLN:%d\n" % length + b"\n".join(lines) + b"\n"
    t.from_sam("long", "long", sam, fasta)
    # Compressed too: BGZF of some twenty-five blocks, decompressed on threads.
    t.check_compressed("long.sam.bgz", bgzf.compress(sam), sam)
    t.check_compressed("long.sam.gz", gzip.compress(sam, mtime=0), sam)


# -- odd records, field by field ---------------------------------------------------

def odd(t):
    R, T = bam.record, bam.tag
    refs = [(b"chr1", 2000), (b"chr 2", 500), (b"", 300)]
    seqs = [t.reference(n, length) for n, length in refs]
    text = b"".join(b"@SQ\tSN:%s\tLN:%d\tM5:%s\n" % (n, length, md5.encode())
                    for (n, length), (_, md5) in zip(refs, seqs))
    header = bam.header(refs, text)

    def md(v):
        return T("MD", "Z", v)

    # Files whose order of records is the point.
    ordered = {
        # The first records whose names begin with "@" are skipped as header
        # lines, unmapped ones aside; later ones are laid out.
        "at-names": [
            R(b"@u", flag=4, tid=-1, pos=-1, cigar=""),
            R(b"@h1", pos=9, tags=[md("4")]),
            R(b"@h 2", pos=9, tags=[md("4")]),
            R(b"@h3", pos=9, tags=[T("XZ", "Z", "a\tb"), md("4")]),
            R(b"@", pos=9),
            R(b"r1", pos=9, tags=[md("1A2")]),
            R(b"@r2", pos=9, tags=[md("4")]),
            R(b"@r 3", pos=9, tags=[md("4")]),
        ],
        "at-after-unmapped": [
            R(b"u1", flag=4, pos=3),
            R(b"@h1", pos=9),
            R(b"r1", pos=9),
        ],
        "at-line-feed": [
            # A name that breaks the line: its first part stands alone.
            R(b"@a\n@b", pos=9),
            R(b"@c", pos=9),
            R(b"r1\nr2", pos=9),
            R(b"@d", pos=9),
        ],
        "at-tag-line-feed": [
            R(b"@a", pos=9, tags=[T("XZ", "Z", "x\n@y")]),
            R(b"@c", pos=9, tags=[md("1A2")]),
        ],
    }
    for name, records in ordered.items():
        t.from_bam("odd", "odd-" + name, bam.bam(header, records))
    # A mapped record without CIGAR ends the run; CRAM cannot hold one.
    for name, records in {
            "no-cigar": [R(b"before", pos=9, tags=[md("4")]),
                         R(b"no-cigar", pos=9, cigar="", tags=[md("4")]),
                         R(b"after", pos=9, tags=[md("4")])],
            "no-cigar-no-seq": [R(b"no-cigar", pos=9, cigar="", seq="*"),
                                R(b"after", pos=9, tags=[md("4")])]}.items():
        t.from_bam("odd", "odd-" + name, bam.bam(header, records), cram=False)

    # Records in any order. Most whose text splits into other fields end the
    # run, so these are spread over files that each end with one of them.
    loose = {
        "names": [
            R(b"a b", pos=9, tags=[md("2T1")]),
            R(b"a\tb", pos=9),
            R(b"a\nb", pos=9),
            R(b"a\rb", pos=9),
            R(b"a\x0bb\x0c", pos=9),
            R(b" lead", pos=9),
            R(b"trail\t", pos=9),
            R(b"a\0b", pos=9, tags=[md("4")]),
            R(b"*", pos=9),
            R(b"n" * 250, pos=9),
            R(b"\xa0\x85", pos=9),
            R(b"MD:Z:1A2", pos=9),
        ],
        "tags": [
            R(b"z-space", pos=9, tags=[T("XZ", "Z", "two words"), md("1A2")]),
            R(b"z-tab-md", pos=9, tags=[T("XZ", "Z", "x\tMD:Z:1A2")]),
            R(b"z-tab-md-first", pos=9, tags=[md("4"), T("XZ", "Z", "x\tMD:Z:1A2")]),
            R(b"z-line-feed", pos=9, tags=[T("XZ", "Z", "a\nb\tc\td"), md("2C1")]),
            R(b"z-line-feed-record", pos=9,
              tags=[T("XZ", "Z", b"a\nq\t0\tchr1\t5\t60\t4M\t*\t0\t0\tACGT\tIIII\tMD:Z:0G3")]),
            R(b"z-trailing-line-feed", pos=9, tags=[md("4"), T("XZ", "Z", "a\n")]),
            R(b"z-only-line-feeds", pos=9, tags=[md("4"), T("XZ", "Z", "\n\n")]),
            R(b"a-space", pos=9, tags=[T("XA", "A", " "), md("1A2")]),
            R(b"a-tab", pos=9, tags=[T("XA", "A", "\t"), md("1A2")]),
            R(b"a-nul", pos=9, tags=[T("XA", "A", "\0"), md("1A2")]),
            R(b"h-tag", pos=9, tags=[T("XH", "H", "0AFF"), md("1A2")]),
            R(b"h-tag-space", pos=9, tags=[T("XH", "H", "0A FF"), md("1A2")]),
            R(b"numbers", pos=9, tags=[T("XB", "B", ("s", [1, -2])), T("XC", "B", ("f", [])),
                                       T("XF", "f", float("nan")), T("XG", "f", float("-inf")),
                                       T("XI", "i", -2147483648), T("XS", "S", 65535),
                                       T("XD", "B", ("I", [4294967295])), md("1A2")]),
            R(b"md-two", pos=9, tags=[md("4"), md("1A2")]),
            R(b"md-two-around", pos=9, tags=[md("1A2"), T("NM", "i", 1), md("0A3")]),
            R(b"md-int", pos=9, tags=[T("MD", "i", 5)]),
            R(b"md-int-after", pos=9, tags=[md("1A2"), T("MD", "i", 5)]),
            R(b"md-int-before", pos=9, tags=[T("MD", "i", 5), md("1A2")]),
            R(b"md-char", pos=9, tags=[T("MD", "A", "4"), T("MD", "H", "1A")]),
            R(b"md-array", pos=9, tags=[T("MD", "B", ("c", [4]))]),
            R(b"md-empty", pos=9, cigar="2M1D2M", tags=[md("")]),
            R(b"md-empty-last", pos=9, tags=[md("1A2"), md("")]),
            R(b"md-lower", pos=9, tags=[T("md", "Z", "1A2")]),
            R(b"md-space", pos=9, tags=[md("1A 2")]),
            R(b"md-high", pos=9, tags=[md(b"1\xa02")]),
            R(b"md-deletion", pos=9, cigar="2M2D2M", tags=[md("2^GT2")]),
            R(b"md-deletion-space", pos=9, cigar="2M2D2M", tags=[md("2^G T2")]),
            R(b"md-in-qual", pos=9, seq="ACGTAC", cigar="6M",
              qual=bytes(c - 33 for c in b"MD:Z:1")),
        ],
        "quals": [
            R(b"q-normal", pos=9, qual=bytes([0, 30, 40, 93]), tags=[md("1A2")]),
            R(b"q-high", pos=9, qual=bytes([94, 150, 222, 231]), tags=[md("1A2")]),
            R(b"q-controls", pos=9, qual=bytes([223, 224, 230, 237]), tags=[md("1A2")]),
            R(b"q-tab", pos=9, qual=bytes([30, 232, 30, 30]), tags=[md("1A2")]),
            R(b"q-line-feed", pos=9, qual=bytes([30, 30, 233, 30]), tags=[md("1A2")]),
            R(b"q-vt-ff-cr", pos=9, qual=bytes([234, 235, 236, 30]), tags=[md("1A2")]),
            R(b"q-255", pos=9, qual=bytes([30, 30, 30, 255]), tags=[md("1A2")]),
            R(b"q-255-first", pos=9, qual=bytes([255, 232, 233, 30]), tags=[md("1A2")]),
            R(b"q-none", pos=9, tags=[md("1A2")]),
            R(b"q-all-space", pos=9, qual=bytes([232, 232, 255, 236]), tags=[md("1A2")]),
            R(b"q-long-high", pos=9, seq="ACGT" * 20, cigar="80M",
              qual=bytes([200] * 40 + [236] + [200] * 39)),
        ],
        "references": [
            R(b"ref-space", tid=1, pos=9, tags=[md("4")]),
            R(b"ref-empty", tid=2, pos=9, tags=[md("4")]),
            R(b"mate-space", tid=0, pos=9, mtid=1, mpos=4, tags=[md("4")]),
            R(b"mate-empty", tid=0, pos=9, mtid=2, mpos=4, tags=[md("4")]),
            R(b"mate-same-odd", tid=1, pos=9, mtid=1, mpos=4, tags=[md("4")]),
            R(b"mate-other", tid=0, pos=9, mtid=1, mpos=4, tlen=-300, tags=[md("4")]),
            R(b"no-reference", tid=-1, pos=9, tags=[md("4")]),
            R(b"no-reference-mate", tid=-1, pos=9, mtid=0, mpos=3, tags=[md("4")]),
            R(b"negative-positions", tid=0, pos=-5, mtid=0, mpos=-7, tags=[md("4")]),
        ],
        "mates-and-flags": [
            R(b"mate-unmapped", flag=1 | 8 | 64, pos=9, mtid=0, mpos=9, tags=[md("4")]),
            R(b"mate-unmapped-nowhere", flag=1 | 8 | 128, pos=9, tags=[md("4")]),
            R(b"unmapped", flag=4, pos=9, mtid=0, mpos=9, tags=[md("4")]),
            R(b"unmapped-cigar-d", flag=4 | 1, pos=9, cigar="2M1D2M", seq="ACG"),
            R(b"unmapped-nowhere", flag=4, tid=-1, pos=-1, cigar="", mtid=0, mpos=9),
            R(b"unmapped odd\tname", flag=4 | 8, pos=9, qual=bytes([232] * 4)),
            R(b"secondary", flag=256 | 16, pos=9, mapq=0, tags=[md("4")]),
            R(b"supplementary", flag=2048 | 1 | 2 | 32, pos=9, mapq=255, cigar="5H4M",
              tags=[md("4")]),
            R(b"all-but-unmapped", flag=0xFFFF & ~4, pos=9, tlen=-2147483648, tags=[md("4")]),
            R(b"far", pos=1995, mpos=2147483646, mtid=0, tlen=2147483647, tags=[md("4")]),
        ],
        "cigars": [
            R(b"seq-star", pos=9, seq="*", tags=[md("1A2")]),
            R(b"seq-star-deletion", pos=9, seq="*", cigar="2M1D2M", tags=[md("2^A2")]),
            R(b"deletion-no-md", pos=9, cigar="2M1D2M"),
            R(b"deletion-md", pos=9, cigar="2M1D2M", tags=[md("2^A2")]),
            R(b"hard-clips", pos=9, cigar="3H4M2H", tags=[md("1A2")]),
            R(b"hard-clip-no-md", pos=9, cigar="3H4M"),
            R(b"soft-clips", pos=9, cigar="1S2M1S", tags=[md("1A0")]),
            R(b"zero-ops", pos=9, cigar="0M4M0D0I", tags=[md("4")]),
            R(b"all-ops", pos=9, seq="ACGTACGT", cigar="1S1M1I1D1N1P1=1X2M1S1H",
              tags=[md("1^A3C0")]),
            R(b"odd-length", pos=9, seq="ACGTA", cigar="5M", tags=[md("5")]),
            R(b"every-base", pos=9, seq="=ACMGRSVTWYHKDBN", cigar="16M"),
            R(b"long-skip", pos=9, seq="*", cigar="20000N"),
            R(b"many-ops", pos=9, seq="A" * 3000, cigar="1M1I" * 1500),
        ],
    }
    kept = []
    for name, records in loose.items():
        kept += t.packed("odd", "odd-" + name, header, records)
    # CRAM cannot hold these.
    t.packed("odd", "odd-bam-only", header, [
        R(b"op-b", pos=9, cigar=[(4, 0), (1, 9)], tags=[md("4")]),
        R(b"key-space", pos=9, tags=[T(" X", "Z", "v"), md("4")]),
        R(b"key-tab", pos=9, tags=[T("X\t", "i", 3), md("1A2")]),
        R(b"key-line-feed", pos=9, tags=[T("\nM", "Z", "x"), md("1A2")]),
        # Fewer than three bytes after the last tag are no tag at all.
        R(b"tag-cut", pos=9, tags=[md("1A2"), b"X"]),
        R(b"no-position", tid=0, pos=-1, tags=[md("4")]),
        # An empty name in CRAM is made up from the file's name, which
        # corvane never sees.
        R(b"", pos=9, tags=[md("4")]),
        # Blank QNAME, RNAME, RNEXT and QUAL: fewer than eleven fields.
        R(b"", tid=2, mtid=2, mpos=1, pos=9, qual=bytes([232] * 4)),
    ], cram=False)

    # Records that keep the run going, in BGZF blocks of a few bytes, across
    # every record.
    t.from_bam("odd", "odd-small-blocks", bam.bam(header, kept, block=37), cram=False)

    # A tab in a reference name: the header text, which htslib parses, has
    # the name without it; records take theirs from the binary list. CRAM
    # cannot be made of it.
    tab_refs = refs + [(b"c\t4", 300)]
    t.packed("odd", "odd-reference-tab", bam.header(tab_refs, text + b"@SQ\tSN:c4\tLN:300\n"),
             [R(b"mate-tab", pos=9, mtid=3, mpos=9, tags=[md("4")]),
              R(b"ref-tab", tid=3, pos=9, tags=[md("4")]),
              R(b"both-tab", tid=3, pos=9, mtid=3, mpos=9, tags=[md("4")])], cram=False)

    # A long header: thousands of reference sequences, the records on the
    # last ones; and a header whose text lists none of them.
    many = [(b"seq%d" % i, 1000 + i) for i in range(3000)]
    many_text = b"".join(b"@SQ\tSN:%s\tLN:%d\tM5:%s\n" % (n, length, t.reference(n, length)[1]
                                                          .encode()) for n, length in many)
    many_records = [R(b"r%d" % i, tid=2990 + i % 10, pos=9 + i, mtid=2999 - i % 7, mpos=9,
                      tags=[md("1A2")]) for i in range(40)]
    t.from_bam("odd", "odd-many-references", bam.bam(bam.header(many, many_text), many_records))
    t.from_bam("odd", "odd-header-without-sq", bam.bam(bam.header(many, b"@CO\tnone\n"),
                                                       many_records), cram=False)

    # A BAM without records, and ones with no reference sequences at all.
    t.from_bam("odd", "odd-no-records", bam.bam(header, []))
    t.from_bam("odd", "odd-no-references",
               bam.bam(bam.header([], b""), [R(b"u", flag=4, tid=-1, pos=-1, cigar="")]))
    t.from_bam("odd", "odd-header-text-only",
               bam.bam(bam.header([], b"@CO\tno sequences\n"),
                       [R(b"r", tid=-1, pos=-1, tags=[md("4")])]), cram=False)

    # Files samtools reads with an error: corvane need only end cleanly.
    broken = {
        "tid-past-end": [R(b"ok", pos=9), R(b"a", tid=7)],
        "mate-past-end": [R(b"ok", pos=9), R(b"a", mtid=9, mpos=3)],
        "cigar-longer": [R(b"ok", pos=9), R(b"a", cigar="10M")],
        "unknown-op": [R(b"ok", pos=9), R(b"a", cigar=[(2, 0), (2, 15)])],
        "tag-type": [R(b"ok", pos=9), R(b"a", tags=[T("XX", "q", b"zz")])],
        "tag-short-array": [R(b"ok", pos=9), R(b"a", tags=[b"XBBi\x05\0\0\0\1\0\0\0"])],
        "tag-no-nul": [R(b"ok", pos=9), R(b"a", tags=[b"XZZabc"])],
    }
    for name, records in broken.items():
        t.from_bam("odd", "broken-" + name, bam.bam(header, records), cram=False,
                   expect_clean=False)
    # BAM without BGZF: samtools warns that the end-of-file block is missing.
    t.from_bam("odd", "broken-raw", bam.raw(header, kept), cram=False, expect_clean=False)


# -- compressed SAM -----------------------------------------------------------------

def compressed(t, real_sam):
    cases = os.path.join(TESTS, "cli", "cases")
    texts = []
    for case in sorted(os.listdir(cases)):
        if case.endswith(".sam"):
            with open(os.path.join(cases, case), "rb") as f:
                texts.append((case[:-4], f.read()))
    texts += [("random-%d" % s, random_sam.generate(s)) for s in range(0, 400, 40)]
    texts.append(("real", real_sam))
    for i, (name, text) in enumerate(texts):
        # gzip, BGZF, and for a third of them gzip in two members and BGZF
        # in blocks of a few bytes that split every line.
        t.check_compressed(name + ".sam.gz", gzip.compress(text, mtime=0), text)
        t.check_compressed(name + ".sam.bgz", bgzf.compress(text), text)
        if i % 3 == 0:
            half = len(text) // 2
            t.check_compressed(name + "-members.sam.gz",
                               gzip.compress(text[:half], mtime=0)
                               + gzip.compress(text[half:], mtime=0), text)
            t.check_compressed(name + "-blocks.sam.bgz", bgzf.compress(text, size=7), text)
    # Inputs of a few bytes, shorter than any signature.
    for i, text in enumerate(random_sam.TINY_INPUTS):
        t.check_compressed("tiny-%d.sam.gz" % i, gzip.compress(text, mtime=0), text)
    # gzip's own header, which names the file, and an empty first member.
    gz, _, _ = t.run(["gzip", "-c", "-9", t.path("real.sam")])
    t.check_compressed("real-named.sam.gz", gz, real_sam)
    t.check_compressed("real-empty-member.sam.gz",
                       gzip.compress(b"", mtime=0) + gzip.compress(real_sam, mtime=0), real_sam)


def real_and_compressed(t):
    compressed(t, real(t))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("corvane")
    parser.add_argument("--keep", help="write the files here and keep them")
    args = parser.parse_args()
    corvane = os.path.abspath(args.corvane)
    if args.keep:
        shutil.rmtree(args.keep, ignore_errors=True)
        os.makedirs(args.keep)
        tmp = os.path.abspath(args.keep)
    else:
        tmp = tempfile.mkdtemp(prefix="corvane-binary-")
    start = time.time()
    t = Differential(corvane, tmp)
    for part in (golden, random_records, random_binary, real_and_compressed, long_reads, odd):
        began = time.time()
        part(t)
        if args.keep:
            print("%s: %.1f s" % (part.__name__, time.time() - began))
    for note in t.notes:
        print("note: " + note)
    for label, said, outcome in t.unclean:
        print("samtools: %s: %s; corvane: %s" % (label, said, outcome))
    print("compared: %s; %d mapped records; %d runs in %.1f s" % (
        ", ".join("%s %d" % kv for kv in sorted(t.compared.items())), t.records, t.runs,
        time.time() - start))
    for failure in t.failures:
        print("FAIL " + failure)
    if t.failures:
        print("files kept in " + tmp)
        return 1
    if not args.keep:
        shutil.rmtree(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
