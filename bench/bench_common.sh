# Shared pieces of the scripts that run the program beside a peer tool on loopback. Sourced, not run:
#   . "$(dirname "$0")/../bench_common.sh"
# Every function ends the script with exit 2 when what it needs is missing, and exit 1 when a step
# fails.

# Ends the script unless each named program file is executable.
bench_need_programs() { # hint program...
    local hint=$1 program
    shift
    for program in "$@"; do
        [ -x "$program" ] || { echo "missing $program ($hint)" >&2; exit 2; }
    done
}

# Ends the script unless each named command is on the PATH.
bench_need_commands() { # command...
    local command
    for command in "$@"; do
        command -v "$command" >/dev/null || { echo "the $command command is missing" >&2; exit 2; }
    done
}

# Makes $work, a fresh folder in RAM (/dev/shm, so the disk takes no part), removed at exit together
# with the server that bench_start_server started. $ram names the RAM-backed folder.
bench_ram_work() { # name-prefix
    ram=/dev/shm
    [ -d "$ram" ] && [ -w "$ram" ] || { echo "no RAM-backed folder at $ram" >&2; exit 2; }
    work=$(mktemp -d "$ram/$1-XXXXXX")
    server_pid=
    trap bench_cleanup EXIT
}

bench_cleanup() {
    if [ -n "${server_pid:-}" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}

# Starts quokka-server on a free loopback port over the data folder; sets server_pid, port and
# origin ("http://127.0.0.1:PORT").
bench_start_server() { # server-program data-folder
    "$1" --port 0 --data "$2" > "$work/server.out" &
    server_pid=$!
    local _
    for _ in $(seq 1 100); do
        grep -q '^listening on' "$work/server.out" 2>/dev/null && break
        sleep 0.05
    done
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
    [ -n "$port" ] || { echo "quokka-server did not start" >&2; exit 1; }
    origin="http://127.0.0.1:$port"
}

# Runs a command and prints "wall user sys maxrss_kib" (seconds, seconds, seconds, KiB); the
# command's own output goes to $work/timed.out. Fails as the command does.
bench_timed() { # command...
    local start end user sys rss status=0
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" "$@" > "$work/timed.out" || status=$?
    end=$(date +%s.%N)
    [ "$status" -eq 0 ] || return "$status"
    read -r user sys rss < "$work/time.out"
    echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }') $user $sys $rss"
}

# The seconds between two date +%s.%N readings, with three decimals.
bench_elapsed() { # start end
    awk -v s="$1" -v e="$2" 'BEGIN { printf "%.3f\n", e - s }'
}

# The median of the numbers given as arguments.
bench_median() { # value...
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
