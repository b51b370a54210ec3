#!/usr/bin/env bash
# Lays out one piece of a sample with corvane: the mapped records whose POS
# lies in the piece, in the file's order.
#
#   slice.sh SAMPLE PIECE WHERE PLAN INPUT INDEX REFERENCE|- CORVANE COMPRESS OUT LOG
#
# The piece's regions come from PLAN (plan.sh), not from the command line:
# a piece of many short sequences would not fit on it. WHERE names them in
# messages. corvane's reports go to LOG, then samtools' and gzip's messages.
set -euo pipefail
sample=$1 piece=$2 where=$3 plan=$4 in=$5 index=$6 ref=$7 corvane=$8 compress=$9 out=${10} log=${11}
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

regions=()
first=0
while IFS=$'\t' read -r p region from _; do
  if [[ $p == "$piece" ]]; then
    regions+=("$region")
    first=$from
  fi
done <"$plan"
if ((${#regions[@]} == 0)); then
  say "$log" "corvane workflow: sample $sample: no piece $piece in $plan"
  exit 1
fi

# Uncompressed BAM through the pipe: samtools need not print the records as
# text, nor corvane parse them back.
view=(samtools view -u -F 4)
[[ $ref == - ]] || view+=(-T "$ref")
# Records that begin before the piece belong to the piece before. A piece
# that starts inside a sequence has that one region only.
((first <= 1)) || view+=(-e "pos >= $first")
view+=(-X -- "$in" "$index" "${regions[@]}")

partial part "$out"
# corvane's reports go to LOG as they come, their last lines kept aside for
# the message (LOG may be on the disk that is full); samtools' and gzip's
# messages wait until the reports are in.
report=$(mktemp)
samtools_err=$(mktemp)
gzip_err=$(mktemp)
remove_on_exit+=("$report" "$samtools_err" "$gzip_err")
: >"$log"
set +e
{
  if ((compress)); then
    "${view[@]}" 2>"$samtools_err" | "$corvane" 2>&3 | gzip -c 2>"$gzip_err" >"$part"
    status=("${PIPESTATUS[@]}")
  else
    "${view[@]}" 2>"$samtools_err" | "$corvane" 2>&3 >"$part"
    status=("${PIPESTATUS[@]}" 0)
  fi
} 3> >(tee -a -- "$log" 2>/dev/null | tail -n 2 >"$report")
wait $!
set -e
corvane_reports=$(<"$report")
cat -- "$samtools_err" "$gzip_err" >>"$log" 2>/dev/null || true

fail() {
  say "$log" "corvane workflow: sample $sample, $where (piece $piece): $1"
  exit 1
}
# From the writing end back: a process that stops ends the one before it
# by the closed pipe.
case ${status[2]} in
  0) ;;
  153) fail "writing $out failed: $(ended 153)" ;;
  1) fail "gzip failed writing $out: $(sed '/^$/d' "$gzip_err")" ;;
  *) fail "gzip failed writing $out ($(ended "${status[2]}"))" ;;
esac
case ${status[1]} in
  0) ;;
  153) fail "writing $out failed: $(ended 153)" ;;
  1)
    if [[ $corvane_reports == *"corvane: error writing standard output: "* ]]; then
      fail "writing $out failed: ${corvane_reports##*corvane: error writing standard output: }"
    fi
    if [[ $corvane_reports == *"corvane: error reading standard input: "* ]]; then
      fail "corvane could not read what samtools view gave it: ${corvane_reports##*corvane: error reading standard input: }"
    fi
    fail "a record ended corvane's run (exit status 1); corvane's report:
$corvane_reports"
    ;;
  *) fail "corvane failed ($(ended "${status[1]}"))" ;;
esac
((status[0] == 0)) || fail "samtools view failed ($(ended "${status[0]}")): $(cat "$samtools_err")"
publish "$part" "$out"
