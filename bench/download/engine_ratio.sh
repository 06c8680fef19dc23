#!/usr/bin/env bash
# The download engine (through quokka-download-runner) beside its peers on loopback, every file
# written into a RAM-backed folder (/dev/shm) so the disk does not take part:
#   - one SIZE_MIB file: the runner's throughput against the curl command's (goal >= 0.95);
#   - four SIZE_MIB/2 files at once: against `aria2c -x1 -j4` on the same files (goal >= 0.9),
#     when aria2c is installed (scripts/install-deps.sh lists it as a bench peer);
#   - the runner's peak resident memory, and CPU seconds per MiB of each program.
# Each run goes through the whole engine: registration, descriptor, source choice, store rows,
# resumed 15-second slices and the finished game's rows. Figures are printed beside the goals.
#
#   bench/download/engine_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]
set -euo pipefail
build=${1:?usage: engine_ratio.sh BUILD_DIR [SIZE_MIB] [ROUNDS]}
size_mib=${2:-512}
rounds=${3:-3}
server=$build/server/quokka-server
runner=$build/tests/download/quokka-download-runner
for program in "$server" "$runner"; do
    [ -x "$program" ] || { echo "missing $program (build with -DQUOKKA_BUILD_TESTS=ON)" >&2; exit 2; }
done
command -v curl >/dev/null || { echo "the curl command is missing" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing" >&2; exit 2; }
ram=/dev/shm
[ -d "$ram" ] && [ -w "$ram" ] || { echo "no RAM-backed folder at $ram" >&2; exit 2; }

work=$(mktemp -d "$ram/quokka-engine-bench-XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/data/download/games" "$work/data/descriptors" "$work/out"
serve() { # id size_mib
    head -c "$(($2 * 1024 * 1024))" /dev/urandom > "$work/data/download/games/$1.zip"
    printf '{"fileurl": "{{origin}}/download/games/%s.zip"}\n' "$1" > "$work/data/descriptors/$1.json"
}
serve 90001 "$size_mib"
quarter=$((size_mib / 2))
for id in 90011 90012 90013 90014; do serve "$id" "$quarter"; done

"$server" --port 0 --data "$work/data" > "$work/server.out" &
server_pid=$!
for _ in $(seq 1 100); do
    grep -q '^listening on' "$work/server.out" 2>/dev/null && break
    sleep 0.05
done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
[ -n "$port" ] || { echo "quokka-server did not start" >&2; exit 1; }
origin="http://127.0.0.1:$port"

# Runs the runner on a fresh portable folder with the given games (emulator 125: not extracted).
# Prints "wall user sys maxrss_kib".
run_engine() {
    local dir="$work/portable"
    rm -rf "$dir"
    mkdir -p "$dir"
    local adds=()
    for id in "$@"; do adds+=(--add "$id:125"); done
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" \
        "$runner" --dir "$dir" --api "$origin/clientapi/" "${adds[@]}" --exit-when-done > "$work/runner.out"
    end=$(date +%s.%N)
    read -r user sys rss < "$work/time.out"
    echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }') $user $sys $rss"
}

run_curl() {
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" curl -s -o "$work/out/curl.bin" "$origin/download/games/90001.zip"
    end=$(date +%s.%N)
    read -r user sys rss < "$work/time.out"
    echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }') $user $sys $rss"
}

echo "one file of $size_mib MiB, $rounds rounds, written to $ram"
ratios=()
for round in $(seq 1 "$rounds"); do
    read -r t_ours u_ours s_ours rss_ours < <(run_engine 90001)
    cmp -s "$work/portable/roms/PS/90001/90001.zip" "$work/data/download/games/90001.zip" ||
        { echo "the engine's file differs in round $round" >&2; exit 1; }
    read -r t_curl u_curl s_curl _ < <(run_curl)
    rm -f "$work/out/curl.bin"
    ratio=$(awk -v o="$t_ours" -v c="$t_curl" 'BEGIN { printf "%.3f", c / o }')
    ratios+=("$ratio")
    awk -v r="$round" -v mib="$size_mib" -v o="$t_ours" -v c="$t_curl" -v q="$ratio" -v uo="$u_ours" -v so="$s_ours" \
        -v uc="$u_curl" -v sc="$s_curl" -v rss="$rss_ours" 'BEGIN {
        printf "round %d: curl %.2f s (%.0f MiB/s, %.4f CPU s/MiB), engine %.2f s (%.0f MiB/s, %.4f CPU s/MiB, peak RSS %.1f MiB), ratio %.3f\n",
               r, c, mib / c, (uc + sc) / mib, o, mib / o, (uo + so) / mib, rss / 1024, q }'
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
awk -v m="$median" 'BEGIN { printf "single file: median %.3f of curl'"'"'s throughput (goal >= 0.95): %s\n", m, (m >= 0.95 ? "met" : "NOT met") }'

if command -v aria2c >/dev/null; then
    read -r t_ours u_ours s_ours _ < <(run_engine 90011 90012 90013 90014)
    for id in 90011 90012 90013 90014; do echo "$origin/download/games/$id.zip"; done > "$work/list.txt"
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" \
        aria2c -q -x1 -j4 --allow-overwrite=true --file-allocation=none -d "$work/out" -i "$work/list.txt"
    end=$(date +%s.%N)
    read -r u_aria s_aria _ < "$work/time.out"
    t_aria=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
    awk -v mib="$((quarter * 4))" -v o="$t_ours" -v a="$t_aria" -v uo="$u_ours" -v so="$s_ours" -v ua="$u_aria" -v sa="$s_aria" 'BEGIN {
        q = a / o
        printf "four at once: aria2c %.2f s (%.4f CPU s/MiB), engine %.2f s (%.4f CPU s/MiB), ratio %.3f (goal >= 0.9): %s\n",
               a, (ua + sa) / mib, o, (uo + so) / mib, q, (q >= 0.9 ? "met" : "NOT met") }'
else
    echo "four at once: aria2c is not installed; skipped"
fi
