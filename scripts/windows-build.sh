#!/usr/bin/env bash
# Cross-builds the whole application for 64-bit Windows with MinGW-w64, with
# the tools that make sense there and the GUI-free tests, and packs the .zip
# for Windows users. Incremental: libpng and libjpeg (which JUCE's image
# loaders need and Debian only ships for Linux) are fetched once as Debian
# source packages, through a private APT configuration, and built static into
# the build tree. Also makes the installer (NSIS) from the same programs.
#
#   scripts/windows-build.sh              # build-winapp next to the sources
#   KORVA_WINAPP_BUILD=/path scripts/windows-build.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVA_WINAPP_BUILD:-$root/build-winapp}
deps=$build/deps
toolchain=$root/cmake/mingw-w64.cmake

for tool in cmake ninja apt-get dpkg-source convert zip makensis x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || { echo "windows-build: $tool not found (run scripts/install-deps.sh)" >&2; exit 2; }
done

export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
start=$(date +%s)

# --- libpng and libjpeg for MinGW (once) ------------------------------------
build_codecs() {
    rm -rf "$deps"
    mkdir -p "$deps/apt/lists/partial" "$deps/apt/cache/archives/partial" "$deps/src"

    # Debian's own mirror, as a source-only list private to this tree.
    local mirror
    mirror=$(grep -rhoE 'https?://[^ ]*debian\.org/debian/?' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null \
             | grep -v security | head -1 || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    if [ -f "$keyring" ]; then
        echo "deb-src [signed-by=$keyring] ${mirror%/} bookworm main" >"$deps/apt/sources.list"
    else
        echo "deb-src ${mirror%/} bookworm main" >"$deps/apt/sources.list"
    fi
    cat >"$deps/apt/apt.conf" <<CONF
Dir::Etc::SourceList "$deps/apt/sources.list";
Dir::Etc::SourceParts "$deps/apt/none";
Dir::State::Lists "$deps/apt/lists";
Dir::Cache "$deps/apt/cache";
Debug::NoLocking "true";
APT::Sandbox::User "root";
CONF
    export APT_CONFIG=$deps/apt/apt.conf
    apt-get update -qq
    (cd "$deps/src" && apt-get source -qq libpng1.6 libjpeg-turbo >../source.log 2>&1) || {
        echo "windows-build: apt-get source failed, see $deps/source.log" >&2; exit 1; }
    unset APT_CONFIG

    local png jpeg
    png=$(find "$deps/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -1)
    jpeg=$(find "$deps/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
    local common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
                  -DCMAKE_INSTALL_PREFIX="$deps/prefix" -DCMAKE_C_COMPILER_LAUNCHER=ccache -Wno-dev)
    cmake -S "$png" -B "$deps/build-png" "${common[@]}" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DPNG_HARDWARE_OPTIMIZATIONS=OFF >"$deps/png.log"
    cmake --build "$deps/build-png" -j2 >>"$deps/png.log"
    cmake --install "$deps/build-png" >>"$deps/png.log"
    cmake -S "$jpeg" -B "$deps/build-jpeg" "${common[@]}" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >"$deps/jpeg.log"
    cmake --build "$deps/build-jpeg" -j2 >>"$deps/jpeg.log"
    cmake --install "$deps/build-jpeg" >>"$deps/jpeg.log"
    # JUCE reads libjpeg's internal declarations too; the install leaves them out.
    cp "$jpeg/jpegint.h" "$deps/prefix/include/"
    touch "$deps/prefix/.complete"
}

if [ ! -f "$deps/prefix/.complete" ]; then
    echo "windows-build: building libpng and libjpeg for MinGW"
    build_codecs
fi

# --- the application, the tools and the tests -------------------------------
if [ ! -f "$build/build.ninja" ]; then
    # JUCE's CMake package is the build machine's (its modules are sources).
    juce_config=$(find /usr/lib /usr/share -path '*/cmake/JUCE-*/JUCEConfig.cmake' 2>/dev/null | head -1 || true)
    [ -n "$juce_config" ] || { echo "windows-build: JUCE's CMake package not found (juce-modules-source)" >&2; exit 2; }
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DKORVA_GUI=ON -DKORVA_BENCH=OFF -DKORVA_WIN_DEPS="$deps/prefix" -DJUCE_DIR="$(dirname "$juce_config")" >/dev/null
fi
cmake --build "$build" -j2

# --- the package for Windows users --------------------------------------------
exe=$build/bin/korva-bluetooth-manager.exe
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package=$build/package/korva-bluetooth-manager-$version-windows-x64
zipfile=$package.zip
if [ ! -f "$zipfile" ] || [ "$exe" -nt "$zipfile" ] || [ "$root/app/windows/README.txt" -nt "$zipfile" ]; then
    rm -rf "$package" "$zipfile"
    mkdir -p "$package"
    x86_64-w64-mingw32-strip -o "$package/korva-bluetooth-manager.exe" "$exe"
    sed 's/$/\r/' "$root/app/windows/README.txt" >"$package/README.txt"
    sed 's/$/\r/' "$root/LICENSE" >"$package/LICENSE.txt"
    (cd "$(dirname "$package")" && zip -qr9 "$zipfile" "$(basename "$package")")
    echo "windows-build: $zipfile"
fi

# --- the installer: the same two programs, per user or for all users ---------
installer=$build/package/korva-bluetooth-manager-$version-windows-x64-setup.exe
staged=$build/package/installer-files
nsi=$root/packaging/windows/installer.nsi
if [ ! -f "$installer" ] || [ "$exe" -nt "$installer" ] || [ "$build/bin/korva.exe" -nt "$installer" ] \
   || [ "$build/bin/korva-pathedit.exe" -nt "$installer" ] || [ "$nsi" -nt "$installer" ] \
   || [ "$root/app/windows/README.txt" -nt "$installer" ]; then
    rm -rf "$staged" "$installer"
    mkdir -p "$staged"
    x86_64-w64-mingw32-strip -o "$staged/korva-bluetooth-manager.exe" "$exe"
    x86_64-w64-mingw32-strip -o "$staged/korva.exe" "$build/bin/korva.exe"
    # Not installed: the installer and uninstaller run it from their own temporary folder.
    x86_64-w64-mingw32-strip -o "$staged/korva-pathedit.exe" "$build/bin/korva-pathedit.exe"
    sed 's/$/\r/' "$root/app/windows/README.txt" >"$staged/README.txt"
    sed 's/$/\r/' "$root/LICENSE" >"$staged/LICENSE.txt"
    # -WX: a warning is a mistake in the script.
    makensis -V2 -WX -DVERSION="$version" -DFILES="$staged" -DICON="$build/app/korva.ico" \
        -DOUTFILE="$installer" "$nsi"
    echo "windows-build: $installer"
fi

echo "windows-build: done in $(( $(date +%s) - start )) s"
