#!/usr/bin/env bash
# The kill loop of the download engine many times: download_tests' kill loop (the headless runner
# killed with SIGKILL at random moments, 20 kills a run, with power-cut style cuts between some
# rounds, then run to the end and every file and row checked) is run with a new seed each time until
# KILLS kills have passed (default 100, the goal). Prints each run's seed, result and time, then the
# total against the goal. Every run starts from a fresh server and portable folder.
#
#   bench/download/kill_loop.sh BUILD_DIR [KILLS] [FIRST_SEED]
set -euo pipefail
. "$(dirname "$0")/../bench_common.sh"
build=${1:?usage: kill_loop.sh BUILD_DIR [KILLS] [FIRST_SEED]}
kills_goal=${2:-100}
seed=${3:-1000}
tests=$build/tests/download/download_tests
bench_need_programs "build with -DQUOKKA_BUILD_TESTS=ON" "$tests" "$build/tests/download/quokka-download-runner"
bench_ram_work quokka-kill-loop

kills_per_run=20 # what one run of the test guarantees when it passes
runs=$(((kills_goal + kills_per_run - 1) / kills_per_run))
echo "kill loop: $runs runs of $kills_per_run kills"
passed=0
failed=0
for run in $(seq 1 "$runs"); do
    start=$(date +%s.%N)
    if QUOKKA_KILL_SEED=$seed TMPDIR=$work "$tests" --gtest_filter='DownloadKillLoopTest.*' \
        > "$work/run.out" 2>&1; then
        result=passed
        passed=$((passed + 1))
    else
        result=FAILED
        failed=$((failed + 1))
        cp "$work/run.out" "/dev/shm/quokka-kill-loop-seed-$seed.log" && echo "its output: /dev/shm/quokka-kill-loop-seed-$seed.log"
    fi
    end=$(date +%s.%N)
    echo "run $run (seed $seed): $result in $(bench_elapsed "$start" "$end") s"
    [ "$result" = passed ] || grep -E 'Failure|Expected|Which is|lost|came back' "$work/run.out" | head -n 20 || true
    seed=$((seed + 1))
done
kills=$((passed * kills_per_run))
echo "kills survived: $kills of $((runs * kills_per_run)), runs failed: $failed (goal: $kills_goal kills, none failed): $(
    [ "$failed" -eq 0 ] && [ "$kills" -ge "$kills_goal" ] && echo met || echo "NOT met")"
[ "$failed" -eq 0 ]
