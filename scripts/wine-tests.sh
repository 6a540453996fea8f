#!/usr/bin/env bash
# Cross-builds the non-GUI layers for Windows (MinGW-w64) and runs every test
# registered in that build under Wine, in a throw-away prefix inside the build
# directory. A pty looped back by socat stands in for a COM port for the Win32
# serial test. Exits non-zero when the build or any test fails.
#
#   scripts/wine-tests.sh            # build-win next to the sources
#   KORVA_WIN_BUILD=/path scripts/wine-tests.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVA_WIN_BUILD:-$root/build-win}
com=${KORVA_WINE_COM:-42}          # high enough not to meet ports Wine finds itself
per_test_timeout=${KORVA_WINE_TEST_TIMEOUT:-300}

# Every tool comes from scripts/install-deps.sh; nothing is assumed beyond it.
for tool in cmake ninja socat wine wineboot wineserver x86_64-w64-mingw32-g++-posix; do
    command -v "$tool" >/dev/null || { echo "wine-tests: $tool not found (run scripts/install-deps.sh)" >&2; exit 2; }
done
wine=wine

start=$(date +%s)

# --- build (incremental) ---------------------------------------------------
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DKORVA_GUI=OFF -DKORVA_BENCH=OFF
fi
cmake --build "$build" -j2

# --- Wine prefix: no display, no Mono/Gecko installers, quiet --------------
export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-tests: creating Wine prefix"
    if ! timeout 300 wineboot -i </dev/null >"$build/wineboot.log" 2>&1; then
        echo "wine-tests: prefix creation failed, see $build/wineboot.log" >&2
        rm -rf "$WINEPREFIX"
        exit 2
    fi
    wineserver -w
fi

# --- loopback COM port -----------------------------------------------------
scratch=$(mktemp -d /tmp/korva-wine-XXXXXX)
socat_pid=""
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -f "$WINEPREFIX/dosdevices/com$com"
    rm -rf "$scratch"
}
trap cleanup EXIT

pty_link="$scratch/com$com"
socat "PTY,link=$pty_link,raw,echo=0" EXEC:cat &
socat_pid=$!
for _ in $(seq 100); do [ -e "$pty_link" ] && break; sleep 0.05; done
[ -e "$pty_link" ] || { echo "wine-tests: socat did not create $pty_link" >&2; exit 2; }

# Wine's mount manager lists a COM port (QueryDosDevice) only when it knows it
# from the Ports key; it (re)creates dosdevices/comN at server start.
ln -sfn "$pty_link" "$WINEPREFIX/dosdevices/com$com"
"$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ /d "$pty_link" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w
export KORVA_TEST_COM=$com

# --- run every registered test ---------------------------------------------
mapfile -t tests < <(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
for t in json.load(sys.stdin).get("tests", []):
    cmd = t.get("command") or []
    if not cmd:
        continue
    wd = next((p["value"] for p in t.get("properties", []) if p["name"] == "WORKING_DIRECTORY"), "")
    print("\t".join([t["name"], wd] + cmd))
')

if [ "${#tests[@]}" -eq 0 ]; then
    echo "wine-tests: no tests registered in $build" >&2
    exit 1
fi

passed=0
failed=()
for line in "${tests[@]}"; do
    IFS=$'\t' read -r -a fields <<<"$line"
    name=${fields[0]}
    wd=${fields[1]:-$build}
    cmd=("${fields[@]:2}")
    log="$scratch/$name.log"
    t0=$(date +%s)
    case "${cmd[0]}" in
        *.exe) runner=("$wine") ;;
        *)     runner=() ;;        # a host-side command (cmake -P and the like)
    esac
    if (cd "$wd" && timeout "$per_test_timeout" "${runner[@]}" "${cmd[@]}" </dev/null >"$log" 2>&1); then
        echo "PASS  $name ($(( $(date +%s) - t0 )) s)"
        passed=$((passed + 1))
    else
        echo "FAIL  $name ($(( $(date +%s) - t0 )) s)"
        sed 's/^/      /' "$log" | grep -v '^      wine: ' | tail -40
        failed+=("$name")
    fi
done

echo "wine-tests: ${passed}/${#tests[@]} passed in $(( $(date +%s) - start )) s"
if [ "${#failed[@]}" -ne 0 ]; then
    echo "wine-tests: failed: ${failed[*]}"
    exit 1
fi
