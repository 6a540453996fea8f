#!/usr/bin/env bash
# Cross-builds the non-GUI layers for Windows (MinGW-w64) and runs every test
# registered in that build under Wine, in a throw-away prefix inside the build
# directory. Pseudo-terminals stand in for COM ports for the Win32 serial test:
# one looped back by socat, and three devices played by a small helper (held
# exclusively by another program, hanging up on its first bytes, never reading).
# Exits non-zero when the build or any test fails.
#
#   scripts/wine-tests.sh            # build-win next to the sources
#   KORVA_WIN_BUILD=/path scripts/wine-tests.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVA_WIN_BUILD:-$root/build-win}
com=${KORVA_WINE_COM:-42}          # high enough not to meet ports Wine finds itself
held_com=$((com + 1)) hangup_com=$((com + 2)) deaf_com=$((com + 3))
per_test_timeout=${KORVA_WINE_TEST_TIMEOUT:-300}

# Every tool comes from scripts/install-deps.sh; nothing is assumed beyond it.
for tool in cmake ninja socat wine wineboot wineserver x86_64-w64-mingw32-g++-posix; do
    command -v "$tool" >/dev/null || { echo "wine-tests: $tool not found (run scripts/install-deps.sh)" >&2; exit 2; }
done
wine=wine

# The kernel lets a process with CAP_SYS_ADMIN (root, here) open a tty that
# another holds exclusively; the tests run Wine without it, as a user would.
test_wine=("$wine")
if setpriv --bounding-set -sys_admin true 2>/dev/null; then
    test_wine=(setpriv --bounding-set -sys_admin "$wine")
fi

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

# --- COM ports ---------------------------------------------------------------
scratch=$(mktemp -d /tmp/korva-wine-XXXXXX)
socat_pid=""
devices_pid=""
coms=("$com" "$held_com" "$hangup_com" "$deaf_com")
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
    [ -n "$devices_pid" ] && kill "$devices_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    for n in "${coms[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$n"; done
    rm -rf "$scratch"
}
trap cleanup EXIT

socat "PTY,link=$scratch/com$com,raw,echo=0" EXEC:cat &
socat_pid=$!

# Devices that misbehave as real ones do, each a pty whose far end this helper
# keeps: held exclusively (TIOCEXCL) by the helper; hanging up (closing its far
# end) on the first bytes it gets, then replaced by a fresh one under the same
# name, like an adapter pulled and plugged in again; never reading, so writes
# to it stall once its buffers are full (replaced once closed, so that every
# run meets it empty).
python3 - "$scratch/com$held_com" "$scratch/com$hangup_com" "$scratch/com$deaf_com" <<'EOF' &
import fcntl, os, select, sys, termios, tty

def device(link):
    far, near = os.openpty()
    tty.setraw(near)
    os.symlink(os.ttyname(near), link + ".new")
    os.replace(link + ".new", link)
    return far, near

def deaf_device(link):
    far, near = device(link)
    os.close(near)   # the far end now tells whether anyone has the device open
    watch = select.poll()
    watch.register(far, select.POLLHUP)
    return far, watch

held_link, hangup_link, deaf_link = sys.argv[1:4]
held = device(held_link)
fcntl.ioctl(held[1], termios.TIOCEXCL)
hangup = device(hangup_link)
deaf, deaf_watch = deaf_device(deaf_link)
deaf_opened = False
while True:
    if select.select([hangup[0]], [], [], 0.05)[0]:
        try:
            got = os.read(hangup[0], 4096)
        except OSError:
            got = b""
        if got:
            for fd in hangup:
                os.close(fd)
            hangup = device(hangup_link)
    if not deaf_watch.poll(0):
        deaf_opened = True
    elif deaf_opened:
        os.close(deaf)
        deaf, deaf_watch = deaf_device(deaf_link)
        deaf_opened = False
EOF
devices_pid=$!

for n in "${coms[@]}"; do
    for _ in $(seq 100); do [ -e "$scratch/com$n" ] && break; sleep 0.05; done
    [ -e "$scratch/com$n" ] || { echo "wine-tests: no pty at $scratch/com$n" >&2; exit 2; }
done

# Wine's mount manager lists a COM port (QueryDosDevice) only when it knows it
# from the Ports key; it (re)creates dosdevices/comN at server start.
for n in "${coms[@]}"; do
    ln -sfn "$scratch/com$n" "$WINEPREFIX/dosdevices/com$n"
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$scratch/com$n" /f >/dev/null 2>&1
done
wineserver -k 2>/dev/null || true
wineserver -w
# One server for the whole run: a test starting while the previous test's server
# shuts down can lose its connection ("recvmsg: Connection reset by peer"). It
# runs with the tests' own capabilities, so a held tty is refused to it too.
server=(wineserver -p)
if setpriv --bounding-set -sys_admin true 2>/dev/null; then
    server=(setpriv --bounding-set -sys_admin wineserver -p)
fi
"${server[@]}" >"$build/wineserver.log" 2>&1 </dev/null
export KORVA_TEST_COM=$com KORVA_TEST_HELD_COM=$held_com KORVA_TEST_HANGUP_COM=$hangup_com KORVA_TEST_DEAF_COM=$deaf_com

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
        *.exe) runner=("${test_wine[@]}") ;;
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
