#!/usr/bin/env bash
# Checks a Quokka Debian package as a user's machine would get it: unpacked with dpkg-deb into a
# temporary root (removed at the end), its files where the desktop looks for them, its menu entry and
# AppStream description accepted by their validators, its icons of the right sizes, its libraries all
# found, its program answering --help and --version with the package's version. Prints each failed
# check and a count; exits 1 when any failed.
#
#   scripts/check-package.sh PACKAGE.deb
set -euo pipefail

deb=$(realpath "${1:?usage: check-package.sh PACKAGE.deb}")
root=$(mktemp -d "${TMPDIR:-/tmp}/quokka-package.XXXXXX")
trap 'rm -rf "$root"' EXIT

passed=0
failed=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "check-package: FAILED: $what" >&2
    fi
}

dpkg-deb -x "$deb" "$root"
program="$root/usr/lib/quokka"
field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)
depends=$(field Depends)

# The libraries come from dpkg-shlibdeps (Qt's and the C library's among them), the font by hand.
check "the package is named quokka" test "$(field Package)" = quokka
check "the dependencies name the C library, Qt and the CJK font: $depends" \
    bash -c '[[ $1 == *libc6* && $1 == *libqt6gui6* && $1 == *libcurl4* && $1 == *fonts-noto-cjk* ]]' _ "$depends"

for file in quokka quokka-regedit quokka-update; do
    check "lib/quokka/$file is an executable file" test -f "$program/$file" -a -x "$program/$file"
done
check "bin/quokka is a link to the program" test -L "$root/usr/bin/quokka" -a \
    "$(realpath -m "$root/usr/bin/quokka")" = "$(realpath "$program/quokka")"
for file in gamelist/arcade_ch.ini icon/arcade.zip; do
    check "LocalGameRes/$file is beside the program" test -s "$program/LocalGameRes/$file"
done
missing=$(find "$program" -maxdepth 1 -type f -perm -u+x -exec ldd {} + 2>&1 | grep -F 'not found' || true)
check "every library the programs link is found: $missing" test -z "$missing"

entry="$root/usr/share/applications/quokka.desktop"
metainfo="$root/usr/share/metainfo/io.github.quokka.Quokka.metainfo.xml"
check "desktop-file-validate accepts the menu entry" desktop-file-validate "$entry"
check "appstreamcli accepts the AppStream description" appstreamcli validate --no-net "$metainfo"
check "the menu entry starts the installed program" grep -qx 'Exec=quokka' "$entry"
check "the menu entry files the program under Games" grep -qx 'Categories=Game;Emulator;' "$entry"
check "the AppStream description launches the menu entry" \
    grep -q '<launchable type="desktop-id">quokka.desktop</launchable>' "$metainfo"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n1 | cut -d'"' -f2)
check "the newest release described ($newest) is the package's ($version)" test "$newest" = "$version"

icons="$root/usr/share/icons/hicolor"
check "the scalable icon is installed" test -s "$icons/scalable/apps/quokka.svg"
for size in 16 24 32 48 64 128 256 512; do
    png="$icons/${size}x${size}/apps/quokka.png"
    check "the ${size} px icon is a ${size} x ${size} PNG" \
        bash -c 'file -b "$1" | grep -q "^PNG image data, $2 x $2,"' _ "$png" "$size"
done

# Without any display: the answers come before the program needs one.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM)
answer=$("${no_display[@]}" "$root/usr/bin/quokka" --version 2>&1) || answer="status $?: $answer"
check "quokka --version says '$answer', the package's version $version" test "$answer" = "quokka $version"
usage=$("${no_display[@]}" "$root/usr/bin/quokka" --help 2>&1) || usage="status $?: $usage"
check "quokka --help prints the usage" bash -c '[[ $1 == "Usage: quokka"* ]]' _ "$usage"

echo "check-package: $passed passed, $failed failed"
test "$failed" -eq 0
