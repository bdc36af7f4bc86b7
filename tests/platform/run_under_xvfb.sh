#!/usr/bin/env bash
# Runs a test program on a virtual display of 1920 x 1080 of its own. Without Xvfb the test is
# skipped (exit status 77, which CTest reports as skipped) rather than failed.
#
# Xvfb picks a free display number itself (-displayfd), so test runs in parallel, or beside other
# virtual displays on the machine, cannot race for the same number the way `xvfb-run -a` can.
# -noreset: by default the server resets whenever its last client disconnects and refuses
# connections meanwhile, which would fail a test that closes its display and opens a new one.
set -uo pipefail
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "skipped: Xvfb is not installed (apt-get install xvfb)"
    exit 77
fi
numberFile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$numberFile" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$numberFile"' EXIT
for _ in $(seq 1 200); do
    [ -s "$numberFile" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
number=$(head -n1 "$numberFile")
if [ -z "$number" ]; then
    echo "run_under_xvfb: Xvfb did not start" >&2
    exit 1
fi
unset WAYLAND_DISPLAY
# No accessibility bus runs beside a virtual display, and GTK's bridge to it keeps a few strings
# for the life of the process that the leak checker, unable to see past GLib's frames, would
# blame on whoever first opened GTK.
export NO_AT_BRIDGE=1
DISPLAY=":$number" "$@"
