#!/usr/bin/env bash
# Downloads one file from quokka-server on loopback with NetDownloadFile (net_download_bench) and
# with the curl command, alternately, ROUNDS times each (at least 7), both writing into a RAM-backed
# folder (/dev/shm) so the disk does not take part. Prints each round's throughput ratio
# (ours / curl), their median against the goal (at least 0.95), and the server's peak resident
# memory, which stays flat because files are streamed.
#
#   bench/foundation/download_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]
set -euo pipefail
. "$(dirname "$0")/../bench_common.sh"
build=${1:?usage: download_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]}
size_mib=${2:-256}
rounds=${3:-7}
[ "$rounds" -ge 7 ] || rounds=7
server=$build/server/quokka-server
ours=$build/bench/foundation/net_download_bench
bench_need_programs "build with -DQUOKKA_BUILD_BENCH=ON" "$server" "$ours"
bench_need_commands curl
bench_ram_work quokka-bench

mkdir -p "$work/data/download" "$work/out"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/data/download/big.bin"

bench_start_server "$server" "$work/data"
url="$origin/download/big.bin"
rss_idle=$(awk '/VmRSS/ {print $2}' "/proc/$server_pid/status")

echo "file: $size_mib MiB, $rounds rounds, written to $ram"
ratios=()
for round in $(seq 1 "$rounds"); do
    # Alternate which goes first, so neither always meets a warmer cache.
    if [ $((round % 2)) -eq 1 ]; then
        t_curl=$(curl -s -o "$work/out/curl.bin" -w '%{time_total}' "$url")
        t_ours=$("$ours" "$work/out/ours.bin" "$url") || { echo "NetDownloadFile failed in round $round" >&2; exit 1; }
    else
        t_ours=$("$ours" "$work/out/ours.bin" "$url") || { echo "NetDownloadFile failed in round $round" >&2; exit 1; }
        t_curl=$(curl -s -o "$work/out/curl.bin" -w '%{time_total}' "$url")
    fi
    cmp -s "$work/out/curl.bin" "$work/out/ours.bin" || { echo "the two downloads differ" >&2; exit 1; }
    rm -f "$work/out/curl.bin" "$work/out/ours.bin"
    ratio=$(awk -v o="$t_ours" -v c="$t_curl" 'BEGIN { printf "%.3f", c / o }')
    ratios+=("$ratio")
    awk -v r="$round" -v mib="$size_mib" -v o="$t_ours" -v c="$t_curl" -v q="$ratio" 'BEGIN {
        printf "round %d: curl %.3f s (%.0f MiB/s), NetDownloadFile %.3f s (%.0f MiB/s), ratio %.3f\n",
               r, c, mib / c, o, mib / o, q }'
done
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")

median=$(bench_median "${ratios[@]}")
awk -v m="$median" -v idle="$rss_idle" -v peak="$peak_kib" 'BEGIN {
    printf "median ratio:    %.3f of curl'"'"'s throughput (goal >= 0.95): %s\n", m, (m >= 0.95 ? "met" : "NOT met")
    printf "server RSS:      %.1f MiB idle, %.1f MiB peak\n", idle / 1024, peak / 1024
}'
