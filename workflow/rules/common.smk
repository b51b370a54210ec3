# The configuration, checked before any job runs, and the helpers of the rules.

import functools
import os
import re
import shutil
import subprocess
import zlib

from snakemake.exceptions import WorkflowError

SAMPLES = config["samples"]
OUT = os.path.normpath(config["outdir"])
WORK = f"{OUT}/work"
LOGS = f"{OUT}/logs"
CHUNK_BP = config["chunk_bp"]
COMPRESS = config["compress"]
EXT = ".txt.gz" if COMPRESS else ".txt"


def file_format(path):
    """'bam', 'cram' or None, from the file's first bytes."""
    with open(path, "rb") as f:
        head = f.read(1 << 16)
    if head.startswith(b"CRAM"):
        return "cram"
    if head.startswith(b"\x1f\x8b"):
        try:
            if zlib.decompressobj(31).decompress(head, 4) == b"BAM\1":
                return "bam"
        except zlib.error:
            pass
    return None


def fresh_index(path, fmt):
    """An index beside the file, as samtools would look for it, unless it is
    older than the file."""
    if fmt == "cram":
        names = [f"{path}.crai"]
    else:
        names = [f"{path}.csi", f"{path}.bai"]
        if path.endswith(".bam"):
            names.append(f"{path[:-4]}.bai")
    for name in names:
        if os.path.isfile(name) and os.path.getmtime(name) >= os.path.getmtime(path):
            return name
    return None


def cwd_note(path):
    """Where a relative path was looked for, for messages. As Snakemake's
    own, the configuration's paths are taken from the directory it runs in,
    not from the configuration file's."""
    if os.path.isabs(path):
        return ""
    return f" (in {os.getcwd()}, where snakemake runs: relative paths are taken from there)"


problems = []
FORMAT = {}
for name, path in SAMPLES.items():
    if not os.path.isfile(path):
        problems.append(f"sample {name}: input file {path} does not exist{cwd_note(path)}")
        continue
    try:
        FORMAT[name] = file_format(path)
    except OSError as e:
        problems.append(f"sample {name}: cannot read {path}: {e.strerror}")
        continue
    if FORMAT[name] is None:
        problems.append(f"sample {name}: {path} is neither BAM nor CRAM")

CRAMS = sorted(name for name, fmt in FORMAT.items() if fmt == "cram")
REFERENCE = config.get("reference")
if CRAMS and not REFERENCE:
    problems.append(
        f"CRAM sample(s) {', '.join(CRAMS)}: set `reference` to the FASTA they were compressed against"
    )
if REFERENCE and not os.path.isfile(REFERENCE):
    problems.append(f"reference {REFERENCE} does not exist{cwd_note(REFERENCE)}")

CORVANE = shutil.which(config["corvane"])
if CORVANE is None:
    looked = cwd_note(config["corvane"]) if os.sep in config["corvane"] else " on PATH"
    problems.append(
        f"corvane not found: no executable {config['corvane']}{looked}; install it "
        "(README.md, Install) or set `corvane` to its path"
    )
else:
    # Jobs run it from any directory, and on a cluster in another shell.
    CORVANE = os.path.abspath(CORVANE)
    # The jobs pass it BAM: an empty BAM (the magic, no header text, no
    # sequences) tells a build without htslib.
    try:
        reads_bam = subprocess.run(
            [CORVANE], input=b"BAM\1" + bytes(8), capture_output=True, timeout=60
        )
    except (OSError, subprocess.TimeoutExpired) as e:
        problems.append(f"corvane {CORVANE} cannot be run: {e}")
    else:
        if reads_bam.returncode != 0:
            said = reads_bam.stderr.decode(errors="replace").strip()
            problems.append(
                f"corvane {CORVANE} reads no BAM ({said}): build it with htslib (README.md, Install)"
            )
if not workflow.use_conda:
    # Filter expressions, index -o and view -X: samtools 1.16 has them all.
    try:
        version = subprocess.run(["samtools", "--version"], capture_output=True).stdout
        version = version.decode(errors="replace").split("\n")[0]
    except OSError:
        problems.append("samtools not found on PATH: install it, or run with --use-conda")
    else:
        numbers = re.match(r"samtools (\d+)\.(\d+)", version)
        if not numbers or tuple(map(int, numbers.groups())) < (1, 16):
            problems.append(
                f"samtools 1.16 or later needed, found {version!r}: install it, or run with --use-conda"
            )

if problems:
    raise WorkflowError(
        "corvane workflow: the configuration cannot be run:\n  " + "\n  ".join(problems)
    )

# The samples' own indexes where they are fresh, else ours in the work directory.
INDEX = {
    name: fresh_index(path, FORMAT[name])
    or f"{WORK}/{name}/index.{'crai' if FORMAT[name] == 'cram' else 'csi'}"
    for name, path in SAMPLES.items()
}
# CRAM decoding writes REFERENCE.fai where it is missing: the reference is
# read through a link in the work directory, with the .fai beside the link.
REFERENCE_LINK = f"{WORK}/reference/{os.path.basename(REFERENCE)}" if CRAMS else None


def final_outputs():
    return [f"{OUT}/{name}{EXT}" for name in SAMPLES]


@functools.lru_cache(maxsize=None)
def read_plan(path, mtime):
    """The pieces of a sample in order: for each, its rows of the plan
    (region, first POS or 0, label)."""
    pieces = []
    with open(path) as f:
        for line in f:
            piece, region, first, label = line.rstrip("\n").split("\t")
            if int(piece) == len(pieces):
                pieces.append([])
            pieces[int(piece)].append((region, int(first), label))
    return pieces


def plan_of(path):
    return read_plan(path, os.path.getmtime(path))


def piece_outputs(wildcards):
    plan = checkpoints.plan.get(sample=wildcards.sample).output[0]
    n = len(plan_of(plan))
    return [f"{WORK}/{wildcards.sample}/pieces/{i}{EXT}" for i in range(n)]


def piece_label(wildcards, input):
    labels = [label for _, _, label in plan_of(input.plan)[int(wildcards.piece)]]
    if len(labels) > 3:
        return f"{labels[0]} ... {labels[-1]} ({len(labels)} sequences)"
    return ", ".join(labels)


def slice_inputs(wildcards):
    name = wildcards.sample
    inputs = {
        "data": SAMPLES[name],
        "index": INDEX[name],
        "plan": f"{WORK}/{name}/plan.tsv",
    }
    if FORMAT[name] == "cram":
        inputs["reference"] = REFERENCE_LINK
        inputs["fai"] = f"{REFERENCE_LINK}.fai"
    return inputs
