#!/usr/bin/env bash
# The download engine (through quokka-download-runner) beside its peers on loopback, every file
# written into a RAM-backed folder (/dev/shm) so the disk does not take part:
#   - one SIZE_MIB file: the runner's throughput against the curl command's (goal >= 0.95), and, as
#     a figure without a goal, the same file with the server's MD5 against curl followed by md5sum;
#   - four SIZE_MIB/2 files at once: against `aria2c -x1 -j4` on the same files (goal >= 0.9),
#     when aria2c is installed (scripts/install-deps.sh lists it as a bench peer);
#   - CPU seconds per MiB of each program;
#   - the runner's resident memory during one RSS_MIB download (default 2048, 0 leaves it out):
#     its peak against its size once the transfer has begun (goal: within 32 MiB). The server's file
#     is sparse, so neither side needs the file's size in memory.
# Each run goes through the whole engine: registration, descriptor, source choice, store rows,
# resumed 15-second slices and the finished game's rows. The engine and its peer take turns at going
# first. Figures are printed beside the goals.
#
#   bench/download/engine_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS] [RSS_MIB]
set -euo pipefail
. "$(dirname "$0")/../bench_common.sh"
build=${1:?usage: engine_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS] [RSS_MIB]}
size_mib=${2:-512}
rounds=${3:-3}
rss_mib=${4:-2048}
server=$build/server/quokka-server
runner=$build/tests/download/quokka-download-runner
bench_need_programs "build with -DQUOKKA_BUILD_TESTS=ON" "$server" "$runner"
bench_need_commands curl md5sum pgrep
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing" >&2; exit 2; }
bench_ram_work quokka-engine-bench

mkdir -p "$work/data/download/games" "$work/data/descriptors" "$work/out"
serve() { # id size_mib [md5]
    local file="$work/data/download/games/$1.zip"
    [ -f "$file" ] || head -c "$(($2 * 1024 * 1024))" /dev/urandom > "$file"
    if [ -n "${3:-}" ]; then
        printf '{"fileurl": "{{origin}}/download/games/%s.zip", "filemd5": "%s"}\n' "$1" "$3"
    else
        printf '{"fileurl": "{{origin}}/download/games/%s.zip"}\n' "$1"
    fi > "$work/data/descriptors/$1.json"
}
serve 90001 "$size_mib"
# The same bytes again, as a game whose descriptor gives their MD5.
ln "$work/data/download/games/90001.zip" "$work/data/download/games/90002.zip"
serve 90002 "$size_mib" "$(md5sum < "$work/data/download/games/90001.zip" | cut -c1-32)"
quarter=$((size_mib / 2))
for id in 90011 90012 90013 90014; do serve "$id" "$quarter"; done
if [ "$rss_mib" -gt 0 ]; then
    truncate -s "$((rss_mib * 1024 * 1024))" "$work/data/download/games/90021.zip"
    serve 90021 "$rss_mib"
fi

bench_start_server "$server" "$work/data"

# Runs the runner on a fresh portable folder with the given games (emulator 125: not extracted).
# Prints "wall user sys maxrss_kib".
run_engine() {
    local dir="$work/portable"
    rm -rf "$dir"
    mkdir -p "$dir"
    local adds=() id
    for id in "$@"; do adds+=(--add "$id:125"); done
    bench_timed "$runner" --dir "$dir" --api "$origin/clientapi/" "${adds[@]}" --exit-when-done
}
engine_file() { echo "$work/portable/roms/PS/$1/$1.zip"; }

run_curl() {
    bench_timed curl -s -o "$work/out/curl.bin" "$origin/download/games/90001.zip"
}
# curl, then md5sum on what it wrote; fails when the digest is not the file's.
run_curl_md5() {
    bench_timed sh -c 'curl -s -o "$1" "$2" && md5sum "$1"' sh "$work/out/curl.bin" \
        "$origin/download/games/90001.zip"
}

# One round of a program pair in alternating order: sets t1 u1 s1 rss1 (first function) and
# t2 u2 s2 rss2 (second).
pair() { # round first-function second-function [arguments of the first]
    local round=$1 first=$2 second=$3
    shift 3
    t1= t2=
    if [ $((round % 2)) -eq 1 ]; then
        read -r t1 u1 s1 rss1 < <("$first" "$@") || true
        read -r t2 u2 s2 rss2 < <("$second") || true
    else
        read -r t2 u2 s2 rss2 < <("$second") || true
        read -r t1 u1 s1 rss1 < <("$first" "$@") || true
    fi
    [ -n "$t1" ] || { echo "$first failed in round $round" >&2; exit 1; }
    [ -n "$t2" ] || { echo "$second failed in round $round" >&2; exit 1; }
}

check_engine_file() { # id round
    cmp -s "$(engine_file "$1")" "$work/data/download/games/$1.zip" ||
        { echo "the engine's file of $1 differs in round $2" >&2; exit 1; }
}

echo "one file of $size_mib MiB, $rounds rounds, written to $ram"
ratios=()
for round in $(seq 1 "$rounds"); do
    pair "$round" run_engine run_curl 90001
    check_engine_file 90001 "$round"
    rm -f "$work/out/curl.bin"
    ratio=$(awk -v o="$t1" -v c="$t2" 'BEGIN { printf "%.3f", c / o }')
    ratios+=("$ratio")
    awk -v r="$round" -v mib="$size_mib" -v o="$t1" -v c="$t2" -v q="$ratio" -v uo="$u1" -v so="$s1" \
        -v uc="$u2" -v sc="$s2" -v rss="$rss1" 'BEGIN {
        printf "round %d: curl %.2f s (%.0f MiB/s, %.4f CPU s/MiB), engine %.2f s (%.0f MiB/s, %.4f CPU s/MiB, peak RSS %.1f MiB), ratio %.3f\n",
               r, c, mib / c, (uc + sc) / mib, o, mib / o, (uo + so) / mib, rss / 1024, q }'
done
median=$(bench_median "${ratios[@]}")
awk -v m="$median" 'BEGIN { printf "single file: median %.3f of curl'"'"'s throughput (goal >= 0.95): %s\n", m, (m >= 0.95 ? "met" : "NOT met") }'

# With the server's digest: the engine checks the MD5 of what it wrote; its peer is curl, then md5sum.
pair 1 run_engine run_curl_md5 90002
check_engine_file 90002 1
rm -f "$work/out/curl.bin"
awk -v mib="$size_mib" -v o="$t1" -v c="$t2" -v uo="$u1" -v so="$s1" -v uc="$u2" -v sc="$s2" 'BEGIN {
    printf "single file with its MD5: curl + md5sum %.2f s (%.4f CPU s/MiB), engine %.2f s (%.4f CPU s/MiB), ratio %.3f (no goal)\n",
           c, (uc + sc) / mib, o, (uo + so) / mib, c / o }'

if command -v aria2c >/dev/null; then
    for id in 90011 90012 90013 90014; do echo "$origin/download/games/$id.zip"; done > "$work/list.txt"
    run_aria() {
        rm -f "$work/out"/900*.zip
        bench_timed aria2c -q -x1 -j4 --allow-overwrite=true --file-allocation=none -d "$work/out" -i "$work/list.txt"
    }
    ratios=()
    for round in $(seq 1 "$rounds"); do
        pair "$round" run_engine run_aria 90011 90012 90013 90014
        for id in 90011 90012 90013 90014; do check_engine_file "$id" "$round"; done
        ratio=$(awk -v o="$t1" -v a="$t2" 'BEGIN { printf "%.3f", a / o }')
        ratios+=("$ratio")
        awk -v r="$round" -v mib="$((quarter * 4))" -v o="$t1" -v a="$t2" -v uo="$u1" -v so="$s1" -v ua="$u2" -v sa="$s2" -v q="$ratio" 'BEGIN {
            printf "round %d, four at once: aria2c %.2f s (%.4f CPU s/MiB), engine %.2f s (%.4f CPU s/MiB), ratio %.3f\n",
                   r, a, (ua + sa) / mib, o, (uo + so) / mib, q }'
    done
    rm -f "$work/out"/900*.zip
    median=$(bench_median "${ratios[@]}")
    awk -v m="$median" 'BEGIN { printf "four at once: median %.3f of aria2c'"'"'s throughput (goal >= 0.9): %s\n", m, (m >= 0.9 ? "met" : "NOT met") }'
else
    echo "four at once: aria2c is not installed; skipped"
fi

if [ "$rss_mib" -gt 0 ]; then
    # The runner under /usr/bin/time (for its true peak); its size is read once its first transfer
    # progress is out, which is when the download has begun.
    dir="$work/portable"
    rm -rf "$dir"
    mkdir -p "$dir"
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" "$runner" --dir "$dir" --api "$origin/clientapi/" \
        --add 90021:125 --exit-when-done > "$work/rss.out" &
    timer=$!
    begun_kib=
    while kill -0 "$timer" 2>/dev/null; do
        if [ -z "$begun_kib" ] && grep -q '^progress 2 ' "$work/rss.out"; then
            pid=$(pgrep -P "$timer" | head -n 1)
            begun_kib=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        fi
        sleep 0.02
    done
    wait "$timer" || { echo "the runner failed the $rss_mib MiB download" >&2; exit 1; }
    end=$(date +%s.%N)
    read -r user sys peak_kib < "$work/time.out"
    [ "$(stat -c %s "$(engine_file 90021)")" -eq $((rss_mib * 1024 * 1024)) ] ||
        { echo "the engine's $rss_mib MiB file has another size" >&2; exit 1; }
    [ -n "$begun_kib" ] || { echo "the runner's size was not read during the transfer" >&2; exit 1; }
    rm -rf "$dir"
    awk -v mib="$rss_mib" -v b="$begun_kib" -v p="$peak_kib" -v t="$(bench_elapsed "$start" "$end")" \
        -v u="$user" -v s="$sys" 'BEGIN {
        g = (p - b) / 1024
        printf "one file of %d MiB: engine %.2f s (%.4f CPU s/MiB), RSS %.1f MiB when the transfer began, peak %.1f MiB, growth %.1f MiB (goal <= 32): %s\n",
               mib, t, (u + s) / mib, b / 1024, p / 1024, g, (g <= 32 ? "met" : "NOT met") }'
fi
