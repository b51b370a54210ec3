#!/usr/bin/env bash
# The workflow stopped at any point: its whole process group killed with
# SIGKILL (a node failure, the out-of-memory killer), SIGTERM (a scheduler's
# time limit) or SIGINT (Ctrl-C) while the plan, the index or the reference
# link is written, while pieces are laid out and while they are joined, and
# then rerun as the README says (--unlock when snakemake reports a lock,
# then --rerun-incomplete), over and over until a rerun finishes. After
# every kill, every file under its final name is the one a clean run makes;
# the last rerun's results are the single runs' bytes, plain and compressed,
# and no partial file is left.
#
# The kills are timed by what has been written: tools on a slow disk (below)
# hold each step a moment with its file half written or not yet renamed, and
# the run is killed once a file of the step appears, whatever its name.
#   faults.sh CORVANE SOURCE_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

in=$tmp/in
mkdir "$in" "$tmp/ref"
cp "$here/fixture.bam" "$here/fixture.cram" "$here/fixture.fa" "$in/"
before=$(ls -l --time-style=+%s.%N "$in")
cp "$here/fixture.fa" "$tmp/ref/"
single bam "$in/fixture.bam"
single cram "$in/fixture.cram" "$tmp/ref/fixture.fa"

# The slow disk: samtools writes the plan after a pause, and pauses after
# writing an index; corvane writes its output in two halves a moment apart;
# every cat, and so every piece joined, waits a little first.
pause=0.25
slow=$tmp/slow
mkdir "$slow"
cat >"$slow/samtools" <<EOF
#!/usr/bin/env bash
case \$1 in
  view) [[ \${2:-} != -H ]] || sleep $pause ;;
  index | faidx) "$(command -v samtools)" "\$@" || exit; sleep $pause; exit 0 ;;
esac
exec "$(command -v samtools)" "\$@"
EOF
slow_corvane "$slow/corvane" $pause
cat >"$slow/cat" <<EOF
#!/usr/bin/env bash
sleep 0.05
exec "$(command -v cat)" "\$@"
EOF
chmod +x "$slow"/*

for compress in false true; do
  cat >"$tmp/$compress.yaml" <<EOF
samples:
  bam: $in/fixture.bam
  cram: $in/fixture.cram
reference: $in/fixture.fa
corvane: $corvane
chunk_bp: 15000
compress: $compress
EOF
  # The clean run, its pieces kept: what every file must be.
  wf "$tmp/clean-$compress" "$tmp/$compress.yaml" --notemp
  check "clean run, compress $compress: status" $? 0
  sed "s|^corvane: .*|corvane: $slow/corvane|" "$tmp/$compress.yaml" >"$tmp/slow-$compress.yaml"
done
same "clean run, bam" "$tmp/clean-false/results/bam.txt" "$tmp/bam.expected"
same "clean run, cram" "$tmp/clean-false/results/cram.txt" "$tmp/cram.expected"
for name in bam cram; do
  gzip -dc "$tmp/clean-true/results/$name.txt.gz" >"$tmp/$name.gz.out"
  same "clean run, $name, compressed" "$tmp/$name.gz.out" "$tmp/$name.expected"
done

# reached DIR POINT OLD: whether the run in DIR has reached POINT: a file
# of the step, whatever its name, that is not among OLD (the files there
# before the run). A piece or final file has bytes in it by then: pieces are
# cut short, the final file is joined in part.
reached() {
  local dir=$1 point=$2 old=$3 found
  case $point in
    plan) found=$(find "$dir/results/work" -path '*/plan.tsv*') ;;
    index) found=$(find "$dir/results/work" -path '*/index.*') ;;
    reference) found=$(find "$dir/results/work/reference" ! -type d) ;;
    piece) found=$(find "$dir/results/work" -path '*/pieces/*' -size +0) ;;
    late-piece)
      # In a sample of which a few pieces are there.
      found=$(for pieces in "$dir"/results/work/*/pieces; do
        (($(find "$pieces" -type f | wc -l) < 3)) || find "$pieces" -size +0
      done)
      ;;
    gather) found=$(find "$dir/results" -maxdepth 1 -type f -size +0) ;;
  esac 2>/dev/null
  [[ -n $found ]] && grep -qvxF -- "$old" <<<"$found"
}

# run DIR COMPRESS [ARGS...]: starts the workflow in DIR with the slow
# tools, in a session and process group of its own ($run is its id, the
# group's too) and with SIGINT handled as when a shell starts a command, not
# ignored as in the background.
run() {
  local dir=$1 compress=$2
  shift 2
  mkdir -p "$dir"
  (cd "$dir" && PATH=$slow:$PATH TMPDIR=$tmp exec setsid env --default-signal=INT \
    snakemake --quiet -s "$src/workflow/Snakefile" --cores 2 --configfile "$tmp/slow-$compress.yaml" \
    --scheduler greedy "$@" 2>stderr >/dev/null) &
  run=$!
}

unlock() {
  (cd "$1" && snakemake --quiet -s "$src/workflow/Snakefile" --cores 2 \
    --configfile "$tmp/slow-$2.yaml" --unlock 2>stderr >/dev/null) ||
    { echo "FAIL $1: --unlock"; fail=1; }
}

# rerun DIR COMPRESS [POINT]: the README's rerun after a crash, in DIR:
# --rerun-incomplete, after --unlock when snakemake reports a lock. Returns
# once the run has reached POINT, still running, or without POINT once it
# has ended, its exit status in $status.
rerun() {
  local dir=$1 compress=$2 point=${3:-} old unlocked=
  old=$(find "$dir/results" 2>/dev/null)
  while :; do
    run "$dir" "$compress" --rerun-incomplete
    while [[ -n $point ]] && kill -0 "$run" 2>/dev/null; do
      reached "$dir" "$point" "$old" && return 0
      sleep 0.02
    done
    wait "$run"
    status=$?
    if [[ $status != 0 && -z $unlocked ]] && grep -q 'Directory cannot be locked' "$dir/stderr"; then
      unlock "$dir" "$compress"
      unlocked=1
    elif [[ -z $point ]]; then
      return 0
    else
      echo "FAIL $dir: the run ended (status $status) before the point $point; its messages:"
      tail -n 20 "$dir/stderr"
      fail=1
      return 1
    fi
  done
}

# compare WHAT DIR COMPRESS: every file of DIR/results under its final name
# (logs aside) is the clean run's.
compare() {
  local what=$1 dir=$2 compress=$3 f clean=$tmp/clean-$3/results
  while IFS= read -r f; do
    if [[ -L $dir/results/$f ]]; then
      check "$what: link $f" "$(readlink "$dir/results/$f")" "$(readlink "$clean/$f")"
    elif [[ ! -f $clean/$f ]]; then
      echo "FAIL $what: $f, which the clean run does not make"
      fail=1
    else
      same "$what" "$dir/results/$f" "$clean/$f"
    fi
  done < <(find "$dir/results" \( -type f -o -type l \) ! -path '*/logs/*' ! -name '*~partial-*' -printf '%P\n' 2>/dev/null)
}

# Three runs, plain, compressed, plain, each killed at four points one after
# the other: while the plan, an index or the reference link is written,
# while the first pieces are, while more are once a few are done, and while
# they are joined; a last rerun then finishes. The signal changes from point
# to point and from run to run: each of the three comes at each point, and
# SIGKILL while pieces are written in both forms.
signals=(KILL TERM INT)
round=0
for first in plan index reference; do
  compress=$([ $((round % 2)) = 0 ] && echo false || echo true)
  dir=$tmp/run$round
  i=0
  for point in $first piece late-piece gather; do
    signal=${signals[(i + round) % 3]}
    if rerun "$dir" "$compress" "$point"; then
      kill -s "$signal" -- "-$run"
      wait "$run" 2>/dev/null
      compare "compress $compress, SIG$signal at $point" "$dir" "$compress"
    fi
    i=$((i + 1))
  done
  rerun "$dir" "$compress"
  check "run $round: the last rerun's status" $status 0
  compare "run $round, the last rerun" "$dir" "$compress"
  ext=$([ $compress = true ] && echo .txt.gz || echo .txt)
  check "run $round: results" "$(cd "$dir/results" && echo *.txt*)" "bam$ext cram$ext"
  check "run $round: partial files left" "$(find "$dir/results" -name '*~partial-*')" ""
  [ $fail = 0 ] || { echo "--- the last rerun's messages:"; tail -n 20 "$dir/stderr"; }
  round=$((round + 1))
done
check "nothing written beside the inputs" "$(ls -l --time-style=+%s.%N "$in")" "$before"
exit $fail
