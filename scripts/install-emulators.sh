#!/usr/bin/env bash
# Installs the emulators that the demo emulator packages start: fceux (FC), mednafen (SFC, MD, PS,
# PCE, WSC), mgba (GBA, GBC), mupen64plus (N64) and desmume (NDS) from Debian's packages. mame
# (arcade; about 350 MB) only with --with-mame. Idempotent: packages already present are left
# alone. Run as root (or with sudo available). Neither the tests nor CI need any of them.
set -euo pipefail

with_mame=0
for arg in "$@"; do
    case "$arg" in
        --with-mame) with_mame=1 ;;
        *) echo "usage: install-emulators.sh [--with-mame]" >&2; exit 2 ;;
    esac
done

packages=(
    fceux
    mednafen
    mgba-sdl
    mupen64plus-ui-console mupen64plus-audio-sdl mupen64plus-input-sdl mupen64plus-rsp-hle
    mupen64plus-video-glide64mk2 mupen64plus-data
    desmume
)
if [ "$with_mame" -eq 1 ]; then
    packages+=(mame)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-emulators: all emulators present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-emulators: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
