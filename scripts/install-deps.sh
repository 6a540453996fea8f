#!/usr/bin/env bash
# Installs the Debian packages the build, the app and the tests need.
# Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    juce-modules-source
    libfreetype-dev libfontconfig1-dev libx11-dev libxrandr-dev libxinerama-dev
    libxcursor-dev libxext-dev libxcomposite-dev libxtst-dev libpng-dev libjpeg-dev zlib1g-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb openbox xdotool x11-utils imagemagick socat fonts-dejavu-core
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 libz-mingw-w64-dev
    libcli11-dev nlohmann-json3-dev
    lintian librsvg2-bin dpkg-dev patch zip python3
    appstream bash-completion nsis
    libsystemd-dev dbus python3-dbusmock
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
