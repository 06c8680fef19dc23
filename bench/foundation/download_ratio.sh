#!/usr/bin/env bash
# Downloads a 512 MiB file from quokka-server on loopback with NetDownloadFile's transfer profile
# (net_download_bench) and with the curl command, alternately, three times each, and prints the
# best time of each, the throughput ratio (ours / curl; the goal is at least 0.9) and the server's
# peak resident memory, which stays flat because files are streamed.
#
#   bench/foundation/download_ratio.sh BUILD_DIR [SIZE_MIB]
set -euo pipefail
build=${1:?usage: download_ratio.sh BUILD_DIR [SIZE_MIB]}
size_mib=${2:-512}
server=$build/server/quokka-server
ours=$build/bench/foundation/net_download_bench
for program in "$server" "$ours"; do
    [ -x "$program" ] || { echo "missing $program (build with -DQUOKKA_BUILD_BENCH=ON)" >&2; exit 2; }
done
command -v curl >/dev/null || { echo "the curl command is missing" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/data/download"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/data/download/big.bin"

"$server" --port 0 --data "$work/data" > "$work/server.out" &
server_pid=$!
for _ in $(seq 1 100); do
    grep -q '^listening on' "$work/server.out" 2>/dev/null && break
    sleep 0.05
done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
[ -n "$port" ] || { echo "quokka-server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/download/big.bin"
rss_idle=$(awk '/VmRSS/ {print $2}' "/proc/$server_pid/status")

best_ours=
best_curl=
for round in 1 2 3; do
    t=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")
    best_curl=$(awk -v a="$t" -v b="${best_curl:-$t}" 'BEGIN { print (a < b ? a : b) }')
    t=$("$ours" "$work/ours.bin" "$url") || { echo "NetDownloadFile failed in round $round" >&2; exit 1; }
    best_ours=$(awk -v a="$t" -v b="${best_ours:-$t}" 'BEGIN { print (a < b ? a : b) }')
    cmp -s "$work/curl.bin" "$work/ours.bin" || { echo "the two downloads differ" >&2; exit 1; }
    rm -f "$work/curl.bin" "$work/ours.bin"
done
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")

awk -v mib="$size_mib" -v ours="$best_ours" -v curl="$best_curl" -v idle="$rss_idle" -v peak="$peak_kib" 'BEGIN {
    printf "file:            %d MiB\n", mib
    printf "curl:            %.3f s  (%.0f MiB/s)\n", curl, mib / curl
    printf "NetDownloadFile: %.3f s  (%.0f MiB/s)\n", ours, mib / ours
    printf "ratio:           %.2f of curl'"'"'s throughput (goal >= 0.90)\n", curl / ours
    printf "server RSS:      %.1f MiB idle, %.1f MiB peak\n", idle / 1024, peak / 1024
}'
