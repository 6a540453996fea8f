#!/usr/bin/env bash
# Builds the Debian package (the window application, korva, desktop entry,
# icons, AppStream metadata, bash completion, man pages) and the Windows .zip
# (korva.exe and its README), then checks them: lintian on the .deb (an error
# fails; so does a warning, as none is expected and each would need its reason
# written here), and the package extracted into a temporary root must run
# `korva --version`, open the window (under a test display), pass
# `appstreamcli validate` and complete korva's commands and ports in bash.
# Exits non-zero on any failure.
#
#   scripts/package.sh         # packages land in build/packages/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/build.sh
out=$root/build/packages
mkdir -p "$out"
version=$(sed -n 's/^project(KorvaBluetoothManager VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# --- Debian package ----------------------------------------------------------
(cd build && cpack -G DEB -B "$out" >/dev/null)
deb=$out/korva-bluetooth-manager_${version}_amd64.deb
[ -f "$deb" ] || { echo "package: $deb was not made" >&2; exit 1; }
echo "package: $deb"

# lintian warns that it runs as root; that note is about lintian, not the package.
lintian_out=$(lintian --fail-on none "$deb" 2>&1 | grep -v 'running with root privileges' || true)
if [ -n "$lintian_out" ]; then
    printf '%s\n' "$lintian_out" | sed 's/^/lintian: /'
fi
if printf '%s\n' "$lintian_out" | grep -q '^[EW]: '; then
    echo "package: lintian reported errors or warnings" >&2
    exit 1
fi
echo "package: lintian clean"

scratch=$(mktemp -d /tmp/korva-package-XXXXXX)
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$scratch/root"
got=$("$scratch/root/usr/bin/korva" --version)
[ "$got" = "korva $version" ] || { echo "package: korva --version said '$got'" >&2; exit 1; }
"$scratch/root/usr/bin/korva" ports >/dev/null
echo "package: extracted korva runs ($got)"

# The window, from the extracted package, under the test display.
KORVA_PACKAGED_APP="$scratch/root/usr/bin/korva-bluetooth-manager" scripts/with-display.sh bash -c '
    "$KORVA_PACKAGED_APP" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 200); do
        if xdotool search --pid "$pid" --name "Korva Bluetooth Manager" >/dev/null 2>&1; then
            kill "$pid"; wait "$pid" 2>/dev/null || true
            exit 0
        fi
        kill -0 "$pid" 2>/dev/null || { echo "package: the window application exited" >&2; exit 1; }
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    echo "package: no window appeared" >&2
    exit 1'
echo "package: extracted window application opens its window"

# What software centres read: the metadata with the desktop entry it names.
# --strict fails on any note but one: the id's top-level domain (.invalid, the
# project's placeholder domain) is not one the validator knows.
metainfo=$scratch/root/usr/share/metainfo/invalid.korva.bluetooth_manager.metainfo.xml
[ -f "$metainfo" ] || { echo "package: no AppStream metadata in the package" >&2; exit 1; }
appstreamcli validate-tree --no-net --strict --override=cid-maybe-not-rdns=pedantic "$scratch/root" \
    | sed '/^ *$/d; s/^/appstream: /'
echo "package: AppStream metadata valid"

completion=$scratch/root/usr/share/bash-completion/completions/korva
[ -f "$completion" ] || { echo "package: no bash completion for korva in the package" >&2; exit 1; }
bash tests/packaging/test_bash_completion.sh "$completion" "$scratch/root/usr/bin/korva" | sed 's/^/package: /'

# --- Windows .zip --------------------------------------------------------------
win=${KORVA_WIN_BUILD:-$root/build-win}
if [ ! -f "$win/build.ninja" ]; then
    cmake -S "$root" -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DKORVA_GUI=OFF -DKORVA_BENCH=OFF >/dev/null
fi
cmake --build "$win" -j2 --target korva
zipdir=$scratch/korva-$version-windows-x64
mkdir -p "$zipdir"
cp "$win/bin/korva.exe" packaging/windows/README.txt LICENSE "$zipdir/"
zip=$out/korva-$version-windows-x64.zip
rm -f "$zip"
(cd "$scratch" && cmake -E tar cf "$zip" --format=zip "korva-$version-windows-x64")
python3 - "$zip" "$version" <<'PY'
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
want = {f"korva-{sys.argv[2]}-windows-x64/{n}" for n in ("korva.exe", "README.txt", "LICENSE")}
missing = want - names
sys.exit(f"package: the zip lacks {sorted(missing)}" if missing else 0)
PY
echo "package: $zip"
