#!/usr/bin/env bash
# Runs a command with an X display: the caller's, or a private Xvfb with a
# window manager, started here and stopped when the command ends.
set -euo pipefail

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$@"
fi

# Xvfb takes the first free display number itself and tells which, so that
# runs started at the same moment never end up sharing (and losing) one.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null || true; rm -f "$display_file"' EXIT
for _ in $(seq 1 200); do
    [ -s "$display_file" ] && break
    kill -0 $xvfb_pid 2>/dev/null || break
    sleep 0.05
done
[ -s "$display_file" ] || { echo "with-display: Xvfb did not start" >&2; exit 2; }

export DISPLAY=":$(head -n1 "$display_file")"
for _ in $(seq 1 200); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
done
xdpyinfo >/dev/null 2>&1 || { echo "with-display: $DISPLAY does not answer" >&2; exit 2; }

# A window manager, as on a desktop: title bars, focus, close requests, and
# the atoms (_NET_WM_*) that applications expect to exist. On a loaded
# machine openbox now and then fails to connect and exits; it is started
# again, and without one the tests do not run at all.
wm_pid=
trap 'kill $wm_pid $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null || true; rm -f "$display_file"' EXIT
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
for _ in 1 2 3; do
    openbox >/dev/null 2>&1 &
    wm_pid=$!
    for _ in $(seq 1 200); do
        wm_ready && break 2
        kill -0 $wm_pid 2>/dev/null || break
        sleep 0.05
    done
    kill $wm_pid 2>/dev/null || true
done
wm_ready || { echo "with-display: the window manager did not start" >&2; exit 2; }

"$@"
