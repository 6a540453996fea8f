#!/usr/bin/env bash
# End-to-end tests of the Windows application: builds it (scripts/windows-build.sh),
# then runs the .exe under Wine on the test display (a private Xvfb unless one
# is set) against the native simulated receiver, whose pseudo-terminals Wine
# sees as COM ports. The .exe tested is the one in the .zip; the installer is
# tested in a fresh prefix of its own (tests/e2e/wine_installer_test.py).
# Screenshots go to build-winapp/artifacts. Exits non-zero when the build or
# any test fails.
#
#   scripts/wine-app-tests.sh                  # every test
#   scripts/wine-app-tests.sh ReceiverTest     # a unittest name pattern
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVA_WINAPP_BUILD:-$root/build-winapp}
native=$root/build
first_com=${KORVA_WINE_APP_COM:-52}       # clear of the ports Wine finds itself

for tool in wine wineboot wineserver makensis xdotool xwininfo import python3; do
    command -v "$tool" >/dev/null || { echo "wine-app-tests: $tool not found (run scripts/install-deps.sh)" >&2; exit 2; }
done

start=$(date +%s)
"$root/scripts/windows-build.sh"
# The simulated receiver, the image builder and the window closer are native.
"$root/scripts/build.sh" --target korva-sim korva-mkimage wm_close >/dev/null

# --- Wine prefix: no Mono/Gecko installers, quiet ---------------------------
export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-app-tests: creating Wine prefix"
    if ! (unset DISPLAY; timeout 300 wineboot -i </dev/null >"$build/wineboot.log" 2>&1); then
        echo "wine-app-tests: prefix creation failed, see $build/wineboot.log" >&2
        rm -rf "$WINEPREFIX"
        exit 2
    fi
    wineserver -w
fi

# --- COM ports: fixed link paths that each test's simulator takes over ------
scratch=$(mktemp -d /tmp/korva-wine-app-XXXXXX)
coms=("$first_com" "$((first_com + 1))")
cleanup() {
    wineserver -k 2>/dev/null || true
    for n in "${coms[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$n"; done
    rm -rf "$scratch"
}
trap cleanup EXIT

ports=""
for n in "${coms[@]}"; do
    ln -sfn "$scratch/com$n" "$WINEPREFIX/dosdevices/com$n"
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$scratch/com$n" /f >/dev/null 2>&1
    ports+="${ports:+:}COM$n=$scratch/com$n"
done
wineserver -k 2>/dev/null || true
wineserver -w
# One server for the whole run, its output in a log: a COM port's pty becomes
# its controlling terminal, and the simulator's hang-up at the end of each test
# makes it dump its objects.
wineserver -p >"$build/wineserver.log" 2>&1 </dev/null

# --- the tests ----------------------------------------------------------------
# The program as users get it: out of the .zip.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package="$build/package/korva-bluetooth-manager-$version-windows-x64.zip"
python3 -m zipfile -e "$package" "$scratch/unpacked"
export KORVA_WINE=1 KORVA_WINE_PORTS="$ports" \
    KORVA_APP="$scratch/unpacked/korva-bluetooth-manager-$version-windows-x64/korva-bluetooth-manager.exe" \
    KORVA_DOS_PORTS="$build/tests/e2e/dos_ports.exe" \
    KORVA_PACKAGE="$package" \
    KORVA_INSTALLER="$build/package/korva-bluetooth-manager-$version-windows-x64-setup.exe" \
    KORVA_INSTALLER_NSI="$root/packaging/windows/installer.nsi" \
    KORVA_INSTALLER_FILES="$build/package/installer-files" \
    KORVA_INSTALLER_ICON="$build/app/korva.ico" \
    KORVA_SIM="$native/tools/simulator/korva-sim" \
    KORVA_MKIMAGE="$native/tools/imagebuilder/korva-mkimage" \
    KORVA_WIN_MKIMAGE="$build/tools/imagebuilder/korva-mkimage.exe" \
    KORVA_WM_CLOSE="$native/tests/e2e/wm_close" \
    KORVA_ARTIFACTS="$build/artifacts" \
    PYTHONPATH="$root/tests/e2e" PYTHONDONTWRITEBYTECODE=1

status=0
(cd "$scratch" && "$root/scripts/with-display.sh" \
    timeout 1200 python3 "$root/tests/e2e/wine_app_test.py" "$@") || status=1

echo "wine-app-tests: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(( $(date +%s) - start )) s; screenshots in $build/artifacts"
exit $status
