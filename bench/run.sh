#!/usr/bin/env bash
# Throughput benchmark of a Release build of corvane on synthetic SAM.
#
#   bench/run.sh [RECORDS]   corvane vs. samtools view vs. a plain pipe (default 2000000 records)
#   bench/run.sh --scaling   corvane alone at 100k, 500k, 1M and 2M records
#
# Environment: BENCH_RUNS (minimum timed runs, default 5), BENCH_JOBS (build
# jobs, default 1), BENCH_SEED (generator seed, default 1).
set -euo pipefail

self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
cd "$(dirname "$self")/.."

runs=${BENCH_RUNS:-5}
jobs=${BENCH_JOBS:-1}
seed=${BENCH_SEED:-1}
build='build-bench'
data=bench/data
corvane=$build/corvane
gen=$build/gen_sam

mode=compare
records=2000000
case "${1:-}" in
    --scaling) mode=scaling ;;
    -h | --help)
        sed -n '2,8s/^# \{0,1\}//p' "$self"
        exit 0
        ;;
    '') ;;
    *)
        if [[ ! $1 =~ ^[1-9][0-9]*$ ]]; then
            echo "usage: bench/run.sh [RECORDS] | --scaling" >&2
            exit 2
        fi
        records=$1
        ;;
esac

say() { printf '== %s\n' "$*" >&2; }

# Tools from Debian's archive, installed only when missing.
need_pkgs=()
command -v hyperfine > /dev/null || need_pkgs+=(hyperfine)
command -v jq > /dev/null || need_pkgs+=(jq)
[[ -x /usr/bin/time ]] || need_pkgs+=(time)
[[ $mode == compare ]] && ! command -v samtools > /dev/null && need_pkgs+=(samtools)
command -v cmake > /dev/null || need_pkgs+=(cmake)
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
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF > /dev/null
ninja -C "$build" -j "$jobs" corvane > /dev/null

if [[ ! -x $gen || bench/gen_sam.cpp -nt $gen ]]; then
    say "compiling the generator"
    g++ -O2 -std=c++20 -o "$gen" bench/gen_sam.cpp
fi

# The data file name carries the record count (and the seed when it is not
# the default); it is written under a temporary name so that an interrupted
# run leaves no truncated file behind.
sam_file() {
    local n=$1 f
    if [[ $seed == 1 ]]; then f=$data/bench-$n.sam; else f=$data/bench-$n-seed$seed.sam; fi
    if [[ ! -s $f ]]; then
        mkdir -p "$data"
        say "generating $f"
        "$gen" --records "$n" --seed "$seed" > "$f.tmp"
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

# hyperfine: one warmup, at least $runs timed runs, medians in seconds.
time_commands() {
    local json=$1
    shift
    hyperfine --warmup 1 --min-runs "$runs" --style basic --export-json "$json" "$@" >&2
}

median_of() { jq -r --arg n "$2" '.results[] | select(.command == $n) | .median' "$1"; }
# Mean CPU time (user + system) in seconds: less disturbed than the wall
# clock when another job shares the machine.
cpu_of() { jq -r --arg n "$2" '.results[] | select(.command == $n) | .user + .system' "$1"; }

host_info() {
    printf 'date: %s, nproc: %s, cpu: %s, compiler: %s\n' \
        "$(date -u +%Y-%m-%d)" "$(nproc)" \
        "$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')" \
        "$(c++ --version | head -n 1)"
    printf 'build: %s, load average before the runs: %s\n' \
        "$(git describe --always --dirty 2> /dev/null || echo unknown)" "$load"
}

if [[ $mode == compare ]]; then
    file=$(sam_file "$records")
    bytes=$(stat -c %s "$file")
    json=$tmp/compare.json
    time_commands "$json" \
        -n corvane "$corvane < $file > /dev/null" \
        -n samtools "samtools view $file > /dev/null" \
        -n pipe "cat $file | cat > /dev/null"
    c=$(median_of "$json" corvane)
    s=$(median_of "$json" samtools)
    p=$(median_of "$json" pipe)
    cc=$(cpu_of "$json" corvane)
    cs=$(cpu_of "$json" samtools)
    cp=$(cpu_of "$json" pipe)
    rss_c=$(peak_rss "$file" "$corvane")
    rss_s=$(peak_rss /dev/null samtools view "$file")

    echo
    host_info
    printf 'input: %s, %s records, %s bytes\n\n' "$file" "$records" "$bytes"
    awk -v n="$records" -v b="$bytes" -v c="$c" -v s="$s" -v p="$p" \
        -v cc="$cc" -v cs="$cs" -v cp="$cp" -v rc="$rss_c" -v rs="$rss_s" 'BEGIN {
        f = "| %-13s | %8.3f | %7.1f | %9.1f | %9.3f | %12s |\n"
        printf "| %-13s | %8s | %7s | %9s | %9s | %12s |\n", "command", "median s", "MB/s", "ns/record", "CPU s", "peak RSS KiB"
        print "|---------------|---------:|--------:|----------:|----------:|-------------:|"
        printf f, "corvane", c, b / c / 1e6, c / n * 1e9, cc, rc
        printf f, "samtools view", s, b / s / 1e6, s / n * 1e9, cs, rs
        printf f, "pipe", p, b / p / 1e6, p / n * 1e9, cp, "-"
        printf "\nmedian ratios: corvane/samtools %.2f, corvane/pipe %.2f\n", c / s, c / p
        printf "CPU ratio:     corvane/samtools %.2f\n", cc / cs
    }'
else
    sizes=(100000 500000 1000000 2000000)
    args=()
    for n in "${sizes[@]}"; do
        f=$(sam_file "$n")
        args+=(-n "$n" "$corvane < $f > /dev/null")
    done
    json=$tmp/scaling.json
    time_commands "$json" "${args[@]}"

    echo
    host_info
    echo
    printf '| %9s | %11s | %8s | %7s | %9s | %9s | %12s |\n' records bytes "median s" "MB/s" "ns/record" "CPU s" "peak RSS KiB"
    echo '|----------:|------------:|---------:|--------:|----------:|----------:|-------------:|'
    for n in "${sizes[@]}"; do
        f=$(sam_file "$n")
        b=$(stat -c %s "$f")
        t=$(median_of "$json" "$n")
        u=$(cpu_of "$json" "$n")
        rss=$(peak_rss "$f" "$corvane")
        awk -v n="$n" -v b="$b" -v t="$t" -v u="$u" -v r="$rss" 'BEGIN {
            printf "| %9d | %11d | %8.3f | %7.1f | %9.1f | %9.3f | %12d |\n", n, b, t, b / t / 1e6, t / n * 1e9, u, r
        }'
    done
fi
