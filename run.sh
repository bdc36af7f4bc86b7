#!/usr/bin/env bash
# Sets up, builds, and starts the player on the bundled demo song with the system's General MIDI
# SoundFont. Without a display it does the same work without a window: it renders the demo song,
# exports it, and says where the files are.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

song=examples/demo_song.mid
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/src/app/dorvik-midi-player "$song"
fi

echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the player works without its window"
soundfont=/usr/share/sounds/sf2/default-GM.sf2
out=build/demo
mkdir -p "$out"
./build/src/cli/dorvik-midi info "$song"
./build/src/cli/dorvik-midi render --soundfont "$soundfont" "$song" -o "$out/demo_song.wav"
./build/src/cli/dorvik-midi export "$out/demo_song.wav" -o "$out/demo_song.ogg"
./build/src/cli/dorvik-midi export "$out/demo_song.wav" -o "$out/demo_song.flac"
echo "run: rendered with $soundfont:"
for f in "$out"/demo_song.wav "$out"/demo_song.ogg "$out"/demo_song.flac; do
    echo "  $(realpath "$f")"
done
echo "run: play it with: ./build/src/cli/dorvik-midi play $out/demo_song.wav"
