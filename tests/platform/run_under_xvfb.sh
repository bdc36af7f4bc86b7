#!/usr/bin/env bash
# Runs a test program on a virtual display of 1920 x 1080. Without xvfb-run the test is skipped
# (exit status 77, which CTest reports as skipped) rather than failed.
set -euo pipefail
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "skipped: xvfb-run is not installed (apt-get install xvfb xauth)"
    exit 77
fi
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$@"
