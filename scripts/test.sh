#!/usr/bin/env bash
# The README's test command. Installs the dependencies, then in phases:
#   1. builds Quokka and every test with AddressSanitizer and UndefinedBehaviorSanitizer (build/test)
#      and runs every test through ctest;
#   2. builds the Debian package (build/package-test, only what it holds, -O1 without sanitizers)
#      and checks it unpacked: files, validators of its desktop files, icons, --help and --version;
#   3. builds the threaded suites (store, catalogue, download, app) with ThreadSanitizer (build/tsan)
#      and runs them;
#   4. builds the fuzz targets with clang's libFuzzer (build/fuzz) and runs each for 30 seconds.
# Prints the time of each phase and exits non-zero when anything fails.
# QUOKKA_TEST_PHASES (default "asan package tsan fuzz") picks phases for local runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
phases=${QUOKKA_TEST_PHASES:-asan package tsan fuzz}

timings=()
phase() { # name, command...
    local name=$1
    shift
    local start=$SECONDS
    echo "=== phase: $name"
    "$@"
    local spent=$((SECONDS - start))
    timings+=("$(printf '%-34s %4d s' "$name" "$spent")")
    echo "=== phase: $name took ${spent} s"
}
report() {
    echo "=== time of each phase"
    printf '%s\n' "${timings[@]}"
}
trap report EXIT

export QT_QPA_PLATFORM=offscreen

deps() { scripts/install-deps.sh; }

# The sanitised builds are made to run tests, not to be shipped: -O1 is what the sanitizers are
# designed around, and -g1 keeps the line tables their reports need. Together they build in about
# half the time of -O2 -g.
checked_flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

asan_build() {
    cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${checked_flags[@]}" -DQUOKKA_SANITIZE=ON -DQUOKKA_BUILD_TESTS=ON \
        -DQUOKKA_TEST_DIRS="platform;foundation;store;catalogue;download;emulator;controller;maintenance;account;ui;app;server;demo;e2e"
    cmake --build build/test -j"$jobs"
}
asan_tests() {
    (
        cd build/test
        export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
        export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
        ctest --output-on-failure -j"$jobs" --timeout 300
    )
}

# The package as shipped is a Release build; checking it needs no more than -O1, which builds in
# about half the time.
package_test() {
    scripts/package.sh build/package-test -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
        -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG"
    scripts/check-package.sh build/package-test/quokka_*.deb
}

tsan_build() {
    cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${checked_flags[@]}" -DQUOKKA_SANITIZE_THREAD=ON \
        -DQUOKKA_BUILD_TESTS=ON -DQUOKKA_TEST_DIRS="store;catalogue;download;app"
    cmake --build build/tsan -j"$jobs"
}
tsan_tests() {
    (
        cd build/tsan
        # Qt and the system libraries under it are not instrumented; tests/tsan.supp names what they
        # do behind the sanitizer's back. Races in the program's own code are never suppressed.
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
        ctest --output-on-failure -j"$jobs" --timeout 300
    )
}

fuzz_targets=(zip_extract_fuzz fc_config_fuzz reg_file_fuzz descriptor_fuzz volume_list_fuzz share_page_fuzz signed_index_fuzz)
fuzz_build() {
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "${checked_flags[@]}" -DQUOKKA_BUILD_FUZZ=ON \
        -DQUOKKA_SANITIZE=ON -DQUOKKA_BUILD_TESTS=ON -DQUOKKA_TEST_DIRS="platform;foundation;download;emulator"
    cmake --build build/fuzz -j"$jobs" --target "${fuzz_targets[@]}"
}
fuzz_run() { # target: 30 seconds on a fresh corpus folder, the seed printed by libFuzzer
    local target=$1 binary
    binary=$(find build/fuzz/tests -type f -name "$target" -perm -u+x | head -n1)
    local corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    # Each exception thrown through the JSON reader leaves AddressSanitizer's resident memory a
    # little larger (seen with the library alone, outside this program), so the resident-size
    # check is off; any single allocation over 2 GiB still fails the run.
    "$binary" -max_total_time=30 -print_final_stats=1 -rss_limit_mb=0 -malloc_limit_mb=2048 "$corpus"
}

phase "install dependencies" deps
for p in $phases; do
    case $p in
    asan)
        phase "asan+ubsan build" asan_build
        phase "asan+ubsan tests" asan_tests
        ;;
    package)
        phase "package" package_test
        ;;
    tsan)
        phase "tsan build (threaded suites)" tsan_build
        phase "tsan tests (threaded suites)" tsan_tests
        ;;
    fuzz)
        phase "fuzz build (clang)" fuzz_build
        for target in "${fuzz_targets[@]}"; do
            phase "fuzz $target 30 s" fuzz_run "$target"
        done
        ;;
    *)
        echo "unknown phase $p" >&2
        exit 2
        ;;
    esac
done
