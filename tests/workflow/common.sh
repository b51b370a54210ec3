# Sourced by the workflow tests, with CORVANE and SOURCE_DIR as $1 and $2.
# Installs snakemake and samtools from Debian when they are missing, makes a
# temporary directory that is removed on exit unless KEEP_TMP is set ($tmp;
# every run of snakemake happens in one below it, as it writes .snakemake/
# into its working directory), and defines:
#
#   single NAME FILE [REFERENCE]   writes NAME.expected: samtools view -F 4
#                                  FILE | corvane, the output the workflow
#                                  must match
#   wf DIR CONFIG [ARGS...]        runs the workflow in DIR (made if need be)
#                                  with CONFIG, on two cores; its standard
#                                  error goes to DIR/stderr
#   same WHAT GOT WANT             checks that two files are equal
#   slow_corvane FILE SECONDS      writes FILE, a corvane that writes half its
#                                  output, waits, then writes the rest: its
#                                  job can be caught in the middle of writing
corvane=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
src=$(cd "$2" && pwd)
here=$src/tests/workflow
. "$src/tests/check.sh"

need=()
command -v snakemake >/dev/null || need+=(snakemake)
command -v samtools >/dev/null || need+=(samtools)
if ((${#need[@]})); then
  # Another test may be installing at the same moment: wait for its lock.
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    { echo "FAIL: cannot install ${need[*]}"; exit 1; }
fi

# The workflow and its SLURM profile are written for Snakemake 7.
[[ $(snakemake --version) == 7.* ]] ||
  { echo "FAIL: snakemake $(snakemake --version) on PATH; these tests need Snakemake 7"; exit 1; }

tmp=$(mktemp -d)
trap '[ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"' EXIT
# Nothing of the user's own snakemake set-up (profile, caches) reaches the runs.
unset SNAKEMAKE_PROFILE
export XDG_CACHE_HOME=$tmp/cache XDG_CONFIG_HOME=$tmp/config

single() {
  local ref=()
  [ $# -lt 3 ] || ref=(-T "$3")
  samtools view -F 4 "${ref[@]}" "$2" | "$corvane" >"$tmp/$1.expected" ||
    { echo "FAIL: the single run over $2"; fail=1; }
}

wf() {
  local dir=$1 config=$2
  shift 2
  mkdir -p "$dir"
  # The greedy scheduler: the default one solves a linear programme for
  # every batch of jobs, seconds for hundreds of tiny jobs.
  (cd "$dir" && snakemake --quiet -s "$src/workflow/Snakefile" --cores 2 --configfile "$config" \
    --scheduler greedy "$@" 2>stderr >/dev/null)
}

same() {
  if ! cmp -s "$2" "$3"; then
    echo "FAIL $1: $2 differs from $3"
    cmp "$2" "$3"
    fail=1
  fi
}

slow_corvane() {
  cat >"$1" <<EOF
#!/usr/bin/env bash
out=\$(mktemp "$tmp/corvane.XXXXXX")
"$corvane" >"\$out"
status=\$?
half=\$((\$(stat -c %s "\$out") / 2))
head -c \$half "\$out"
sleep $2
tail -c +\$((half + 1)) "\$out"
rm -f "\$out"
exit \$status
EOF
  chmod +x "$1"
}
