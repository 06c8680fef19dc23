#!/usr/bin/env bash
# Builds Quokka, writes the demo catalogue, starts the stand-in server on the port the program's
# built-in addresses use (127.0.0.1:28080) and runs Quokka from a portable folder. The server stops
# when Quokka ends. Run from anywhere; as root or with sudo for the package step.
#
#   scripts/run.sh [--with-mame] [--with-update]
#
# The demo's emulator packages start emulators from Debian's packages, which install-emulators.sh
# installs first (mame, about 350 MB, only with --with-mame).
#
# --with-update serves quokka-next (the same program, version 0.0.15) as the self-update, with the
# real updater, and switches the start-up update check on: Quokka offers the update as it starts,
# and Yes replaces the portable folder's quokka with quokka-next and restarts it. The next run of
# this script puts 0.0.14 back.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/run"
portable="$build/portable"
data="$build/demo-data"
port=28080

with_update=0
passed=()
for arg in "$@"; do
    if [ "$arg" = "--with-update" ]; then with_update=1; else passed+=("$arg"); fi
done
if [ "$with_update" = 1 ]; then data="$build/demo-data-update"; fi

"$root/scripts/install-deps.sh"
"$root/scripts/install-emulators.sh" ${passed[@]+"${passed[@]}"}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUOKKA_SANITIZE=OFF
cmake --build "$build" --target quokka quokka-server quokka-demo -j"$(nproc)"
demo_args=()
if [ "$with_update" = 1 ]; then
    cmake --build "$build" --target quokka-next quokka-update -j"$(nproc)"
    demo_args=(--update-package "$build/app/quokka-next" "$build/app/quokka-update" 0.0.15)
fi

# Written again whenever the generator (or the update it serves) is newer than the content.
if [ ! -f "$data/.complete" ] || [ "$build/demo/quokka-demo" -nt "$data/.complete" ] ||
    { [ "$with_update" = 1 ] && [ "$build/app/quokka-next" -nt "$data/.complete" ]; }; then
    rm -rf "$data"
    "$build/demo/quokka-demo" "$data" ${demo_args[@]+"${demo_args[@]}"}
    touch "$data/.complete"
fi

mkdir -p "$portable"
cp -f "$build/app/quokka" "$portable/quokka"
cp -f "$build/app/quokka-regedit" "$portable/quokka-regedit"
rm -f "$portable/quokka.old" "$portable/quokka.new"
if [ "$with_update" = 1 ]; then
    # The start-up check runs only with UpdateType=1 in the [Set] section.
    cfg="$portable/quokka.cfg"
    if [ -f "$cfg" ] && grep -qi '^UpdateType=' "$cfg"; then
        sed -i 's/^UpdateType=.*/UpdateType=1/I' "$cfg"
    elif [ -f "$cfg" ] && grep -qi '^\[Set\]' "$cfg"; then
        sed -i '0,/^\[Set\]/I s//[Set]\nUpdateType=1/' "$cfg"
    else
        printf '[Set]\nUpdateType=1\n' >> "$cfg"
    fi
fi
rm -rf "$portable/LocalGameRes"
cp -r "$build/app/LocalGameRes" "$portable/LocalGameRes"

# A library folder for the local games, while the settings name none: RomPath in section Set.
config="$portable/quokka.cfg"
library="$portable/Games/"
if ! grep -Eq '^[[:space:]]*RomPath[[:space:]]*=[[:space:]]*[^[:space:]]' "$config" 2>/dev/null; then
    if grep -Eq '^[[:space:]]*RomPath[[:space:]]*=' "$config" 2>/dev/null; then
        sed -i -E "s|^[[:space:]]*RomPath[[:space:]]*=.*$|RomPath=$library|" "$config"
    elif grep -Eqi '^[[:space:]]*\[Set\]' "$config" 2>/dev/null; then
        sed -i -E "0,/^[[:space:]]*\[[Ss][Ee][Tt]\]/s||&\nRomPath=$library|" "$config"
    else
        printf '[Set]\nRomPath=%s\n' "$library" >> "$config"
    fi
fi

"$build/server/quokka-server" --port "$port" --data "$data" > "$build/server.out" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

# Quokka asks for its first page at once: wait until the server listens (it says so first).
for _ in $(seq 100); do
    grep -q "^listening on" "$build/server.out" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || { echo "run: quokka-server did not start (port $port in use?)" >&2; exit 1; }
    sleep 0.1
done

# Quokka needs a display; without one it draws on Qt's offscreen platform.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display found; starting on Qt's offscreen platform" >&2
    export QT_QPA_PLATFORM=offscreen
fi

cd "$portable"
status=0
./quokka || status=$?
if [ "$with_update" = 1 ]; then
    # After Yes the updater starts the new Quokka once this one has ended; it needs the server too,
    # whether or not the script runs in a terminal: the wait ends with a line or the end of the input.
    echo "run: an accepted update restarts Quokka from the updater; press Enter to stop the server" >&2
    read -r _ || true
fi
exit "$status"
