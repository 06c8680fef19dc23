#!/usr/bin/env bash
# Installs every Debian package that Quokka builds, tests and runs with.
# Idempotent: packages already present are left alone. Run as root (or with sudo available).
set -euo pipefail

packages=(
    # build and tests
    cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
    # the fuzz targets: clang with its libFuzzer runtime
    clang libclang-rt-14-dev
    # libraries the program links
    libcurl4-openssl-dev libsqlite3-dev libjsoncpp-dev zlib1g-dev libminizip-dev
    qt6-base-dev libsdl2-dev libpugixml-dev libcpp-httplib-dev
    # the launcher's window watch looks at emulator windows over Xlib
    libx11-dev
    # the stand-in share service draws its code pictures as JPEG
    libjpeg-dev
    # OpenSSL: the TLS tests make their own certificates
    libssl-dev
    # Chinese text in the skin; Qt's own texts (the folder picker, standard buttons) in Chinese
    fonts-noto-cjk qt6-translations-l10n
    # the desktop's opener: a game's folder, an emulator's folder, the project's site
    xdg-utils
    # peers that benchmarks and checks compare against
    sqlite3 curl unzip zip libarchive-tools aria2
    # looking at a real window; the display-loss tests run the program on an Xvfb they end
    xvfb xdotool imagemagick
    # the FC emulator that the demo's FC package starts: the end-to-end launch runs a demo game in it
    fceux
    # locale sources: the start-up tests compile a locale with decimal commas (localedef)
    locales
    # the package: the icon's PNG sizes rendered from its drawing (Qt's SVG module, at build time
    # only), CPack's Debian package with dpkg-shlibdeps and file, and the validators of its menu entry
    # and AppStream description
    qt6-svg-dev dpkg-dev file desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
