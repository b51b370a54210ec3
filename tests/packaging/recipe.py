#!/usr/bin/env python3
"""Reads the conda recipe the way conda-build does: Jinja first, then YAML.

    recipe.py check META VERSION [TARBALL]
        The recipe names corvane VERSION, has what bioconda asks of a recipe
        and, given the tarball, fetches exactly that file: its name in the
        url, its sha256, its licence file.
    recipe.py commands META
        The recipe's test commands, each ended by a NUL.
"""
import hashlib
import re
import sys
import tarfile
from pathlib import Path

import jinja2
import yaml


def render(path):
    env = jinja2.Environment(undefined=jinja2.StrictUndefined)
    # conda-build's own functions, near enough for reading the recipe.
    env.globals["compiler"] = lambda lang: f"{lang}_compiler"
    env.globals["pin_subpackage"] = lambda name, **_: f"{name} (pinned)"
    return yaml.safe_load(env.from_string(Path(path).read_text()).render())


def check(meta, version, tarball=None):
    failures = []

    def want(what, ok):
        if not ok:
            failures.append(what)

    pkg, src = meta.get("package", {}), meta.get("source", {})
    about, build = meta.get("about", {}), meta.get("requirements", {}).get("build", [])
    host = meta.get("requirements", {}).get("host", [])
    want(f"package is corvane {version}: {pkg}",
         pkg.get("name") == "corvane" and str(pkg.get("version")) == version)
    url = str(src.get("url", ""))
    want(f"url names corvane-{version}.tar.gz: {url}", url.endswith(f"/corvane-{version}.tar.gz"))
    sha = str(src.get("sha256", ""))
    want(f"sha256 is 64 hex digits: {sha}", re.fullmatch(r"[0-9a-f]{64}", sha))
    want(f"build requirements: {build}",
         {"cxx_compiler", "cmake", "ninja", "pkg-config"} <= set(build))
    want(f"host requirements: {host}", "htslib" in host)
    want("run_exports pins the package", meta.get("build", {}).get("run_exports"))
    commands = meta.get("test", {}).get("commands")
    want("test commands", commands and all(isinstance(c, str) for c in commands))
    want(f"licence MIT in LICENSE: {about}",
         about.get("license") == "MIT" and about.get("license_file") == "LICENSE")
    want("about: home, summary, description",
         all(str(about.get(k, "")).strip() for k in ("home", "summary", "description")))
    if tarball:
        data = Path(tarball).read_bytes()
        want(f"sha256 is that of {tarball}", hashlib.sha256(data).hexdigest() == sha)
        want(f"url names {Path(tarball).name}", url.rsplit("/", 1)[-1] == Path(tarball).name)
        with tarfile.open(tarball) as t:
            want("the tarball holds LICENSE", f"corvane-{version}/LICENSE" in t.getnames())
    for f in failures:
        print("FAIL recipe:", f)
    return not failures


if __name__ == "__main__":
    mode, meta = sys.argv[1], render(sys.argv[2])
    if mode == "commands":
        sys.stdout.write("".join(c + "\0" for c in meta["test"]["commands"]))
        sys.exit(0)
    sys.exit(0 if check(meta, *sys.argv[3:]) else 1)
