#!/usr/bin/env bash
# Installs what building and running the tool needs on Debian 12 (among it lupdate, lrelease and
# their CMake package for the translations, and Qt's SVG plugins for the window's icon); with
# --tests also what the test suite needs beyond that (clang, its libFuzzer runtime and the LLVM
# coverage tools for the fuzz harnesses; the validators, dpkg-shlibdeps and lintian for the
# installation and package checks).
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools libqt6svg6
    libusb-dev libpcap-dev
    umockdev libumockdev-dev libglib2.0-dev
    xvfb xauth imagemagick xdotool twm
)
if [ "${1:-}" = --tests ]; then
    packages+=(clang-14 libclang-rt-14-dev llvm-14
        desktop-file-utils appstream dpkg-dev lintian tshark)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
