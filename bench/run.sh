#!/usr/bin/env bash
# Throughput benchmark of a Release build of corvane on synthetic SAM.
#
#   bench/run.sh [RECORDS]   corvane vs. samtools view on three profiles,
#                            through a pipe vs. a plain pipe (short reads:
#                            default 2000000 records), and BAM input against
#                            the samtools pipelines on two of them and on
#                            short reads with binned qualities
#   bench/run.sh --quick     the same on files a tenth of the size
#   bench/run.sh --scaling   corvane alone at 100k, 500k, 1M and 2M short records
#
# The profiles: short reads (150 bp, 1% substitutions); long noisy reads of
# 1-40 kb with 9% and with 2% of bases in error; as BAM, the short reads and
# the 9% long reads, and the short reads with binned qualities.
#
# Environment: BENCH_RUNS (minimum timed runs, default 5), BENCH_JOBS (build
# jobs, default 1), BENCH_SEED (generator seed, default 1), BENCH_BASELINE
# (another corvane binary, timed on the SAM profiles in the same rounds).
set -euo pipefail

self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
cd "$(dirname "$self")/.."

runs=${BENCH_RUNS:-5}
baseline=${BENCH_BASELINE:-}
jobs=${BENCH_JOBS:-1}
seed=${BENCH_SEED:-1}
build='build-bench'
data=bench/data
corvane=$build/corvane
gen=$build/gen_sam

mode=compare
records=2000000
long_records=12000
case "${1:-}" in
    --scaling) mode=scaling ;;
    --quick)
        records=200000
        long_records=1200
        ;;
    -h | --help)
        sed -n '2,10s/^# \{0,1\}//p' "$self"
        exit 0
        ;;
    '') ;;
    *)
        if [[ ! $1 =~ ^[1-9][0-9]*$ ]]; then
            echo "usage: bench/run.sh [RECORDS] | --quick | --scaling" >&2
            exit 2
        fi
        records=$1
        ;;
esac

say() { printf '== %s\n' "$*" >&2; }

# Tools from Debian's archive, installed only when missing.
need_pkgs=()
[[ -x /usr/bin/time ]] || need_pkgs+=(time)
[[ $mode == compare ]] && ! command -v samtools > /dev/null && need_pkgs+=(samtools)
command -v cmake > /dev/null || need_pkgs+=(cmake)
command -v pkg-config > /dev/null || need_pkgs+=(pkg-config)
[[ -e /usr/include/htslib/sam.h ]] || need_pkgs+=(libhts-dev)
command -v ninja > /dev/null || need_pkgs+=(ninja-build)
command -v g++ > /dev/null || need_pkgs+=(g++)
if ((${#need_pkgs[@]})); then
    say "installing ${need_pkgs[*]}"
    sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" > /dev/null
fi

say "building corvane (Release) in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF -DCORVANE_HTSLIB=ON > /dev/null
ninja -C "$build" -j "$jobs" corvane > /dev/null

if [[ ! -x $gen ]] || [[ -n $(find bench -name 'gen_sam.cpp' -newer "$gen" -o -name '*.hpp' -newer "$gen") ]]; then
    say "compiling the generator"
    g++ -O2 -std=c++20 -o "$gen" bench/gen_sam.cpp
fi

# The data file name carries the profile, the record count (and the seed
# when it is not the default); it is written under a temporary name so that
# an interrupted run leaves no truncated file behind.
#   sam_file RECORDS [ERRORS_PER_MILLE | binned]   short reads, long reads
#                                                  with errors, or short reads
#                                                  with binned qualities
sam_file() {
    local n=$1 errors=${2:-} f args
    if [[ -z $errors ]]; then
        f=$data/bench-$n
        args=(--records "$n")
    elif [[ $errors == binned ]]; then
        f=$data/binned-$n
        args=(--records "$n" --binned)
    else
        f=$data/long-$errors-$n
        args=(--records "$n" --long --errors "$errors")
    fi
    if [[ $seed == 1 ]]; then f=$f.sam; else f=$f-seed$seed.sam; fi
    if [[ ! -s $f ]]; then
        mkdir -p "$data"
        say "generating $f"
        "$gen" "${args[@]}" --seed "$seed" > "$f.tmp"
        mv "$f.tmp" "$f"
    fi
    printf '%s\n' "$f"
}

# The BAM of a SAM file, beside it: the generator's records are already in
# coordinate order.
bam_file() {
    local f=${1%.sam}.bam
    if [[ ! -s $f ]]; then
        say "converting $1 to BAM"
        samtools view -@ 2 -b -o "$f.tmp" "$1"
        mv "$f.tmp" "$f"
    fi
    printf '%s\n' "$f"
}

load=$(cut -d ' ' -f 1-3 /proc/loadavg)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Peak resident set size in KiB of one run of a command, with standard input
# from the file given first. No shell in between, whose own footprint would
# count too.
peak_rss() {
    local in=$1
    shift
    /usr/bin/time -o "$tmp/rss" -f %M "$@" < "$in" > /dev/null
    tail -n 1 "$tmp/rss"
}

# Times the commands given as NAME COMMAND pairs: one round that runs each
# once as a warmup, then $runs rounds. Rounds rather than all runs of one
# command after another, so that a machine whose speed drifts (a shared
# virtual machine's does, by a third and more) slows every command alike.
# Each run's wall, user and system seconds go to $tmp/times/NAME.
time_commands() {
    local names=() cmds=() r i
    while (($#)); do
        names+=("$1")
        cmds+=("$2")
        shift 2
    done
    rm -rf "$tmp/times"
    mkdir -p "$tmp/times"
    local n=${#names[@]} k
    for ((r = 0; r <= runs; r++)); do
        say "round $r of $runs"
        # Each round starts one command further on, so that no command
        # always follows the same one (after a command with many threads,
        # the next runs measurably slower).
        for ((k = 0; k < n; k++)); do
            i=$(((k + r) % n))
            local out=$tmp/times/${names[$i]// /_}
            ((r == 0)) && out=/dev/null
            { TIMEFORMAT='%3R %3U %3S'; time sh -c "${cmds[$i]}" 2> /dev/null; } 2>> "$out"
        done
    done
}

# Median wall time in seconds, and median CPU time (user + system): the CPU
# time is less disturbed when another job shares the machine.
median() { sort -n | awk '{a[NR] = $1} END {print (a[int((NR + 1) / 2)] + a[int(NR / 2) + 1]) / 2}'; }
median_of() { awk '{print $1}' "$tmp/times/${1// /_}" | median; }
cpu_of() { awk '{print $2 + $3}' "$tmp/times/${1// /_}" | median; }

host_info() {
    printf 'date: %s, nproc: %s, cpu: %s, compiler: %s\n' \
        "$(date -u +%Y-%m-%d)" "$(nproc)" \
        "$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')" \
        "$(c++ --version | head -n 1)"
    printf 'build: %s, load average before the runs: %s\n' \
        "$(git describe --always --dirty 2> /dev/null || echo unknown)" "$load"
}

if [[ $mode == compare ]]; then
    profiles=(short long9 long2)
    declare -A file desc
    file[short]=$(sam_file "$records")
    file[long9]=$(sam_file "$long_records" 90)
    file[long2]=$(sam_file "$long_records" 20)
    desc[short]="short reads, $records records"
    desc[long9]="long reads, 9% errors, $long_records records"
    desc[long2]="long reads, 2% errors, $long_records records"
    # Short reads with binned qualities, as current instruments write them:
    # BAM only. Their BAM is half the size, and decoding it half the work.
    file[binned]=$(sam_file "$records" binned)
    desc[binned]="short reads, binned qualities, $records records"
    bam_profiles=(short binned long9)
    declare -A bam
    for p in "${bam_profiles[@]}"; do bam[$p]=$(bam_file "${file[$p]}"); done
    # What users run on BAM: corvane alone, the samtools pipelines it
    # replaces (text, and uncompressed BAM through the pipe), and decoding
    # alone.
    bam_forms=("corvane < BAM" "view -@2 | corvane" "view | corvane" "view -u | corvane" "view -c -@2")
    bam_command() {
        case $1 in
            "corvane < BAM") echo "$corvane < $2 > /dev/null" ;;
            "view -@2 | corvane") echo "samtools view -@2 -F 4 $2 | $corvane > /dev/null" ;;
            "view | corvane") echo "samtools view -F 4 $2 | $corvane > /dev/null" ;;
            "view -u | corvane") echo "samtools view -u -F 4 $2 | $corvane > /dev/null" ;;
            "view -c -@2") echo "samtools view -c -@2 $2 > /dev/null" ;;
        esac
    }
    args=()
    for p in "${profiles[@]}"; do
        args+=("corvane $p" "$corvane < ${file[$p]} > /dev/null")
        args+=("samtools $p" "samtools view ${file[$p]} > /dev/null")
        [[ -z $baseline ]] || args+=("baseline $p" "$baseline < ${file[$p]} > /dev/null")
    done
    # Through a pipe the write side counts too.
    args+=("corvane | cat" "$corvane < ${file[short]} | cat > /dev/null")
    args+=("cat | cat" "cat ${file[short]} | cat > /dev/null")
    for p in "${bam_profiles[@]}"; do
        for f in "${bam_forms[@]}"; do args+=("$f $p" "$(bam_command "$f" "${bam[$p]}")"); done
    done
    time_commands "${args[@]}"

    echo
    host_info
    echo
    printf '| %-36s | %11s | %9s | %7s | %9s | %7s | %8s | %12s |\n' profile bytes "corvane s" "MB/s" \
        "samtools s" "MB/s" "ratio" "peak RSS KiB"
    echo '|--------------------------------------|------------:|----------:|--------:|-----------:|--------:|---------:|-------------:|'
    for p in "${profiles[@]}"; do
        b=$(stat -c %s "${file[$p]}")
        c=$(median_of "corvane $p")
        t=$(median_of "samtools $p")
        rss=$(peak_rss "${file[$p]}" "$corvane")
        awk -v d="${desc[$p]}" -v b="$b" -v c="$c" -v t="$t" -v r="$rss" 'BEGIN {
            printf "| %-36s | %11d | %9.3f | %7.1f | %10.3f | %7.1f | %8.2f | %12d |\n", d, b, c, b / c / 1e6, t, b / t / 1e6, c / t, r
        }'
    done
    echo
    b=$(stat -c %s "${file[short]}")
    c=$(median_of "corvane | cat")
    p=$(median_of "cat | cat")
    awk -v b="$b" -v c="$c" -v p="$p" 'BEGIN {
        printf "through a pipe, short reads: corvane | cat %.3f s (%.1f MB/s), cat | cat %.3f s (%.1f MB/s), ratio %.2f\n", c, b / c / 1e6, p, b / p / 1e6, c / p
    }'
    echo "ratio: median wall time of corvane over that of samtools view (or of the plain pipe)"
    if [[ -n $baseline ]]; then
        echo
        echo "baseline $baseline, in the same rounds:"
        for p in "${profiles[@]}"; do
            awk -v d="${desc[$p]}" -v c="$(median_of "corvane $p")" -v b="$(median_of "baseline $p")" 'BEGIN {
                printf "%s: corvane %.3f s, baseline %.3f s, ratio %.3f\n", d, c, b, c / b
            }'
        done
    fi

    echo
    echo "BAM input, wall and CPU seconds (user + system, all processes); MB/s of corvane's output:"
    for p in "${bam_profiles[@]}"; do
        out=$("$corvane" < "${bam[$p]}" | wc -c)
        echo
        printf '%s: %s, %d bytes of BAM, %d bytes of output, peak RSS of corvane < BAM %d KiB\n' \
            "${desc[$p]}" "$(basename "${bam[$p]}")" "$(stat -c %s "${bam[$p]}")" "$out" \
            "$(peak_rss "${bam[$p]}" "$corvane")"
        echo
        printf '| %-44s | %7s | %7s | %8s |\n' command "wall s" "CPU s" "MB/s"
        echo '|----------------------------------------------|--------:|--------:|---------:|'
        for f in "${bam_forms[@]}"; do
            w=$(median_of "$f $p")
            c=$(cpu_of "$f $p")
            cmd=$(sed "s|$corvane|corvane|; s|${bam[$p]}|X.bam|; s| > /dev/null||" <<< "$(bam_command "$f" "${bam[$p]}")")
            awk -v n="$cmd" -v w="$w" -v c="$c" -v o="$out" -v f="$f" 'BEGIN {
                printf "| %-44s | %7.3f | %7.3f | %8s |\n", "`" n "`", w, c, (f == "view -c -@2" ? "" : sprintf("%.1f", o / w / 1e6))
            }'
        done
        awk -v a="$(median_of "corvane < BAM $p")" -v b="$(median_of "view -@2 | corvane $p")" \
            -v ca="$(cpu_of "corvane < BAM $p")" -v cb="$(cpu_of "view | corvane $p")" \
            -v d="$(median_of "view -c -@2 $p")" 'BEGIN {
            printf "\ncorvane < BAM: %.2f x the wall time of view -@2 | corvane, %.2f x the CPU time of view | corvane, %.2f x the wall time of view -c -@2\n", a / b, ca / cb, a / d
        }'
    done
else
    sizes=(100000 500000 1000000 2000000)
    args=()
    for n in "${sizes[@]}"; do
        f=$(sam_file "$n")
        args+=("$n" "$corvane < $f > /dev/null")
    done
    time_commands "${args[@]}"

    echo
    host_info
    echo
    printf '| %9s | %11s | %8s | %7s | %9s | %9s | %12s |\n' records bytes "median s" "MB/s" "ns/record" "CPU s" "peak RSS KiB"
    echo '|----------:|------------:|---------:|--------:|----------:|----------:|-------------:|'
    for n in "${sizes[@]}"; do
        f=$(sam_file "$n")
        b=$(stat -c %s "$f")
        t=$(median_of "$n")
        u=$(cpu_of "$n")
        rss=$(peak_rss "$f" "$corvane")
        awk -v n="$n" -v b="$b" -v t="$t" -v u="$u" -v r="$rss" 'BEGIN {
            printf "| %9d | %11d | %8.3f | %7.1f | %9.1f | %9.3f | %12d |\n", n, b, t, b / t / 1e6, t / n * 1e9, u, r
        }'
    done
fi
