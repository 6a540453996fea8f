#!/usr/bin/env bash
# Runs a command with an X display: the caller's, or a private Xvfb with a
# window manager, started here and stopped when the command ends.
set -euo pipefail

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$@"
fi

for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null || true' EXIT

export DISPLAY="$display"
for _ in $(seq 1 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
done

# A window manager, as on a desktop: title bars, focus, and the atoms
# (_NET_WM_*) that applications expect to exist.
openbox >/dev/null 2>&1 &
wm_pid=$!
trap 'kill $wm_pid $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.05
done

"$@"
