#!/usr/bin/env bash
# Installs one emulator package of SIZE_MIB (default 50) from quokka-server on loopback with the
# installer window's worker (emulator_install_bench: download into the work folder, then extraction)
# and with `curl -o` followed by `unzip -qq -o` in this script, alternately, ROUNDS times each (at
# least 7), all in a RAM-backed folder (/dev/shm) so the disk does not take part. Prints both times
# of each round, their ratio (ours / curl + unzip) and the median against the goal (at most 1.2).
#
#   bench/maintenance/install_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]
set -euo pipefail
. "$(dirname "$0")/../bench_common.sh"
build=${1:?usage: install_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]}
size_mib=${2:-50}
rounds=${3:-7}
[ "$rounds" -ge 7 ] || rounds=7
server=$build/server/quokka-server
ours=$build/bench/maintenance/emulator_install_bench
bench_need_programs "build with -DQUOKKA_BUILD_BENCH=ON" "$server" "$ours"
bench_need_commands curl unzip
bench_ram_work quokka-bench

# An emulator-like package: one large program file that does not compress, a few hundred small
# files that do (configuration, documentation), and an executable launcher.
mkdir -p "$work/data/download/emu" "$work/package/docs" "$work/package/GamePadCfg"
head -c "$((size_mib * 1024 * 1024 - 2 * 1024 * 1024))" /dev/urandom > "$work/package/emulator.bin"
awk -v dir="$work/package/docs" 'BEGIN {
    for (i = 1; i <= 400; i++) for (n = 0; n < 250; n++) print "option_" n " = value " i > (dir "/part" i ".txt") }'
printf '#!/bin/sh\nexec true "$@"\n' > "$work/package/launch.sh"
chmod 755 "$work/package/launch.sh"
"$ours" make "$work/package" "$work/data/download/emu/Bench Emulator.zip"
rm -rf "$work/package"
package_mib=$(du -m "$work/data/download/emu/Bench Emulator.zip" | cut -f1)

bench_start_server "$server" "$work/data"
url="$origin/download/emu/Bench%20Emulator.zip"

run_ours() {
    rm -rf "$work/ours"
    mkdir -p "$work/ours/work"
    "$ours" install "$url" "$work/ours/work" "$work/ours/Emulator/FC/Bench" 2>/dev/null
}
run_peer() {
    rm -rf "$work/peer"
    mkdir -p "$work/peer/work" "$work/peer/Emulator/FC/Bench"
    local start end
    start=$(date +%s.%N)
    curl -s -o "$work/peer/work/Emulator.zip" "$url"
    unzip -qq -o "$work/peer/work/Emulator.zip" -d "$work/peer/Emulator/FC/Bench"
    end=$(date +%s.%N)
    bench_elapsed "$start" "$end"
}

echo "package: $package_mib MiB, $rounds rounds, written to $ram"
ratios=()
for round in $(seq 1 "$rounds"); do
    # Alternate which goes first, so neither always meets a warmer cache.
    if [ $((round % 2)) -eq 1 ]; then
        t_peer=$(run_peer)
        t_ours=$(run_ours) || { echo "the install failed in round $round" >&2; exit 1; }
    else
        t_ours=$(run_ours) || { echo "the install failed in round $round" >&2; exit 1; }
        t_peer=$(run_peer)
    fi
    diff -r "$work/peer/Emulator" "$work/ours/Emulator" >/dev/null || { echo "the two installs differ" >&2; exit 1; }
    [ -x "$work/ours/Emulator/FC/Bench/launch.sh" ] || { echo "the launcher lost its exec bit" >&2; exit 1; }
    ratio=$(awk -v o="$t_ours" -v p="$t_peer" 'BEGIN { printf "%.3f", o / p }')
    ratios+=("$ratio")
    echo "round $round: curl -o + unzip -qq -o $t_peer s, installer worker $t_ours s, ratio $ratio"
done

median=$(bench_median "${ratios[@]}")
awk -v m="$median" 'BEGIN {
    printf "median ratio: %.3f of the time of curl + unzip (goal <= 1.2): %s\n", m, (m <= 1.2 ? "met" : "NOT met")
}'
