#!/usr/bin/env bash
# Makes Quokka's Debian package: a Release build of only what the package holds (the program, the
# tools it starts, the rendered icons) in build/package, then CPack. Prints the package's path last.
#
#   scripts/package.sh [BUILD_FOLDER [CMAKE_ARGUMENT...]]
#
# Install it with `apt install ./build/package/quokka_*.deb`. The test script's "package" phase
# builds one in another folder with lighter optimisation (the extra arguments go to cmake).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/package}"
shift || true

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUOKKA_BUILD_TESTS=OFF -DQUOKKA_SANITIZE=OFF \
    -DQUOKKA_SANITIZE_THREAD=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@"
cmake --build "$build" -j"$(nproc)" --target quokka quokka-regedit quokka-update quokka_icons
rm -f "$build"/quokka_*.deb
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log" >&2; exit 1; }
ls "$build"/quokka_*.deb
