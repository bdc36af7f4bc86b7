#!/usr/bin/env bash
# Sets up, builds, and runs the player's command-line companion on the bundled demo song.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
./build/src/cli/dorvik-midi info examples/demo_song.mid
