#!/usr/bin/env bash
# Runs korva.exe (the MinGW build, see wine-tests.sh) under Wine against the
# native simulated receivers on COM ports: Wine's COMn is linked to the pty of a
# korva-sim of each family. Checks ports, detect (each family, and auto), an
# update, an update of two receivers at once and scan, as text and as JSON, with
# their exit codes. Exits non-zero on failure.
#
#   scripts/wine-cli-tests.sh     # after scripts/build.sh (korva-sim, korva-mkimage)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVA_WIN_BUILD:-$root/build-win}
native=${KORVA_NATIVE_BUILD:-$root/build}
com=${KORVA_WINE_CLI_COM:-52}      # apart from the ports wine-tests.sh uses
f1_com=$((com + 1))
second_com=$((com + 2))            # a second Rulko, for two receivers at once
sim=$native/tools/simulator/korva-sim
mkimage=$native/tools/imagebuilder/korva-mkimage

for tool in cmake ninja wine wineboot wineserver x86_64-w64-mingw32-g++-posix python3; do
    command -v "$tool" >/dev/null || { echo "wine-cli-tests: $tool not found (run scripts/install-deps.sh)" >&2; exit 2; }
done
for f in "$sim" "$mkimage"; do
    [ -x "$f" ] || { echo "wine-cli-tests: $f missing (run scripts/build.sh)" >&2; exit 2; }
done

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DKORVA_GUI=OFF -DKORVA_BENCH=OFF
fi
cmake --build "$build" -j2 --target korva
korva=$build/bin/korva.exe

export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-cli-tests: creating Wine prefix"
    timeout 300 wineboot -i </dev/null >"$build/wineboot.log" 2>&1 || { rm -rf "$WINEPREFIX"; exit 2; }
    wineserver -w
fi

# Ports devices as Windows keeps them in the registry (see below).
ports_class='{4D36E978-E325-11CE-BFC1-08002BE10318}'
usb_key="HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_0403&PID_6001\\KORVACLI$com"
bt_key="HKLM\\System\\CurrentControlSet\\Enum\\BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1A2B3C4D&0&00127F0A0B0C_C00000000"
bt_name_key='HKLM\System\CurrentControlSet\Services\BTHPORT\Parameters\Devices\00127f0a0b0c'
forget_devices() {
    for key in "$usb_key" "$bt_key" "$bt_name_key"; do wine reg delete "$key" /f >/dev/null 2>&1 || true; done
}
register_port() {   # KEY COM FRIENDLY_NAME HARDWARE_ID
    wine reg add "$1" /v ClassGUID /t REG_SZ /d "$ports_class" /f >/dev/null 2>&1
    wine reg add "$1" /v FriendlyName /t REG_SZ /d "$3" /f >/dev/null 2>&1
    wine reg add "$1" /v HardwareID /t REG_MULTI_SZ /d "$4" /f >/dev/null 2>&1
    wine reg add "$1\\Device Parameters" /v PortName /t REG_SZ /d "COM$2" /f >/dev/null 2>&1
}

scratch=$(mktemp -d /tmp/korva-wine-cli-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    forget_devices
    wineserver -k 2>/dev/null || true
    rm -f "$WINEPREFIX/dosdevices/com$com" "$WINEPREFIX/dosdevices/com$f1_com" "$WINEPREFIX/dosdevices/com$second_com"
    rm -rf "$scratch"
}
trap cleanup EXIT

# A Rulko on COM$com, a zVARNELO7QX on COM$f1_com, another Rulko on COM$second_com.
"$sim" --type f0 --link "$scratch/com$com" >"$scratch/sim-f0.log" 2>&1 &
pids+=($!)
"$sim" --type f1 --link "$scratch/com$f1_com" >"$scratch/sim-f1.log" 2>&1 &
pids+=($!)
"$sim" --type f0 --link "$scratch/com$second_com" >"$scratch/sim-f0b.log" 2>&1 &
pids+=($!)
for n in "$com" "$f1_com" "$second_com"; do
    for _ in $(seq 100); do [ -e "$scratch/com$n" ] && break; sleep 0.05; done
    [ -e "$scratch/com$n" ] || { echo "wine-cli-tests: no pty at $scratch/com$n" >&2; exit 2; }
    ln -sfn "$scratch/com$n" "$WINEPREFIX/dosdevices/com$n"
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$scratch/com$n" /f >/dev/null 2>&1
done

# What Device Manager would know about two of them, written where Windows keeps
# it and read back through Wine's SetupAPI: the Rulko behind an FTDI adapter,
# the zVARNELO7QX on the outgoing port of a Bluetooth link.
forget_devices
register_port "$usb_key" "$com" "USB Serial Port (COM$com)" 'USB\VID_0403&PID_6001&REV_0600'
register_port "$bt_key" "$f1_com" "Standard Serial over Bluetooth link (COM$f1_com)" 'BTHENUM\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002'
wine reg add "$bt_name_key" /v Name /t REG_BINARY /d "$(printf 'zVARNELO7QX\0' | od -An -tx1 | tr -d ' \n')" /f >/dev/null 2>&1

wineserver -k 2>/dev/null || true
wineserver -w

"$mkimage" -o "$scratch/rulko.bin" --model RULKO >/dev/null

passed=0
failed=0
# check NAME EXPECTED_EXIT PYTHON_CHECK -- ARGS: runs korva.exe ARGS; PYTHON_CHECK
# gets the output as `out` (a str) and must be true.
check() {
    local name=$1 want=$2 test=$3
    shift 4
    local out rc=0
    out=$(cd "$scratch" && timeout 120 wine "$korva" "$@" </dev/null 2>&1) || rc=$?
    out=$(printf '%s' "$out" | tr -d '\r' | grep -v '^wine: ' || true)
    if [ "$rc" -eq "$want" ] && OUT="$out" python3 -c "
import json, os, sys
out = os.environ['OUT']
sys.exit(0 if ($test) else 1)"; then
        echo "PASS  korva.exe $name"
        passed=$((passed + 1))
    else
        echo "FAIL  korva.exe $name (exit $rc, expected $want)"
        printf '%s\n' "$out" | sed 's/^/      /' | tail -20
        failed=$((failed + 1))
    fi
}

last_json='json.loads(out.strip().splitlines()[-1])'
check "--version" 0 "out.strip() == 'korva 1.0.0' or out.startswith('korva ')" -- --version
check "ports" 0 "'COM$com' in out.split() and 'COM$f1_com' in out.split()" -- ports
check "ports --json" 0 "any(p['name'] == 'COM$com' for p in $last_json['ports'])" -- ports --json
listed="{p['name']: p for p in $last_json['ports']}"
check "ports --json: every port has a description" 0 "all('description' in p for p in $last_json['ports'])" -- ports --json
check "ports --json: a USB adapter" 0 "[$listed['COM$com']['usb'][k] for k in ('vendor', 'product', 'serial')] == ['0403', '6001', 'KORVACLI$com'] and $listed['COM$com']['description'] == 'USB Serial Port (COM$com) [0403:6001], serial KORVACLI$com' and $listed['COM$com']['bluetooth'] is None" -- ports --json
check "ports --json: an outgoing Bluetooth port" 0 "$listed['COM$f1_com']['bluetooth'] == {'direction': 'outgoing', 'address': '00:12:7F:0A:0B:0C', 'name': 'zVARNELO7QX'} and $listed['COM$f1_com']['usb'] is None" -- ports --json
check "ports --json: a port Device Manager does not know" 0 "$listed['COM$second_com']['description'] is None" -- ports --json
check "ports: descriptions" 0 "'COM$com  USB Serial Port (COM$com) [0403:6001], serial KORVACLI$com' in out and 'outgoing to zVARNELO7QX (00:12:7F:0A:0B:0C)' in out" -- ports
check "detect COM$com" 0 "'Rulko' in out and '1.05' in out" -- detect "COM$com"
check "detect --json" 0 "$last_json['device'] == {'typeCode': '0xF0', 'model': 'Rulko', 'version': '1.05'}" -- detect "COM$com" --json
check "detect zVARNELO7QX, auto" 0 "$last_json['device']['model'] == 'zVARNELO7QX'" -- detect "COM$f1_com" --json
check "detect zVARNELO7QX as rulko" 4 "'but a zVARNELO7QX answers' in out" -- detect "COM$f1_com" --family rulko
check "read" 0 "$last_json['settings']['name'] == 'Rulko'" -- read "COM$com" --json
check "update" 0 "'Update firmware is done [success]' in out and '100%' in out" -- update "COM$com" rulko.bin
check "update --json" 0 "$last_json['ok'] and any('\"percent\":100' in l for l in out.splitlines())" -- update "COM$com" rulko.bin --json
check "update of two at once" 0 "[r['port'] for r in $last_json['results']] == ['COM$com', 'COM$second_com'] and all(r['ok'] for r in $last_json['results'])" -- update "COM$com" "COM$second_com" rulko.bin --json

# Wine maps the machine's own serial ports (/dev/ttyS*, here the system's console)
# to COM names, and Windows cannot tell a console: scan leaves them alone by name.
skips=()
for l in "$WINEPREFIX"/dosdevices/com*; do
    case $(readlink "$l") in /dev/*) n=${l##*/com}; skips+=(--skip "COM$n") ;; esac
done
scan_found="{e['port']: e.get('model') for e in $last_json['ports'] if e['state'] == 'receiver'}"
check "scan" 0 "$scan_found == {'COM$com': 'Rulko', 'COM$f1_com': 'zVARNELO7QX', 'COM$second_com': 'Rulko'}" -- scan --json "${skips[@]}"
check "no such port" 3 "'COM99' in out" -- detect COM99
check "not a port name" 3 "'not a serial port name' in out" -- detect /dev/ttyUSB0

echo "wine-cli-tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
