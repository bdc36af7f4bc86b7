#!/usr/bin/env bash
# Installs every Debian package the player, its tests and its fuzzers need. Safe to run again:
# when everything is there it only checks, and touches the network not at all.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config   # toolchain
    googletest libgtest-dev libgmock-dev           # unit tests
    clang libclang-rt-14-dev clang-format          # libFuzzer targets, formatting check
    fluid-soundfont-gm timgm6mb-soundfont          # the default General MIDI SoundFont; a small one for tests
    libfluidsynth-dev fluidsynth                   # the synthesiser, and its command line as the render oracle
    libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev  # window, drawing, text, PNG and sound
    libgtk-3-dev                                   # open and save dialogs
    fonts-dejavu-core fontconfig libfontconfig-dev # the fallback sans-serif face and its lookup
    fonts-wqy-microhei                             # a small face for Chinese and Japanese file names
    libvorbis-dev libogg-dev vorbis-tools          # Ogg Vorbis export, and oggenc as its reference
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg  # FLAC/ALAC/AAC/MP3 export, ffprobe
    zlib1g-dev                                     # PNG writing and reading for the artwork generator
    xvfb xauth xdotool                             # a display for the window tests; keys for its benchmark
    xfonts-base                                    # the core font that message boxes on X draw with
    hyperfine                                      # timing the benchmarks against their reference tools
    desktop-file-utils appstream                   # validating the desktop entry and the AppStream data
    sf3convert                                     # making a compressed SoundFont for the SF3 test
    libebur128-dev                                 # loudness (EBU R128) and true peak of a render
    jackd2 libjack-jackd2-dev librtmidi-dev python3-rtmidi  # live keys' latency bench: a JACK server, its MIDI in and out;
                                                   # MIDI keyboards (RtMidi over ALSA or JACK) and the record tests
    parallel                                       # GNU parallel: the sharded batch test, and batches over machines
    libcairo2-dev libfreetype-dev lilypond-fonts   # the score's pages, engraved with the Emmentaler music font
    musescore3                                     # reads the MusicXML we write in the tests; the notation bench's reference
    help2man bash-completion                       # the manual pages made from the help texts, and completion's test
    playerctl dbus                                 # the media controls' test drives the player as the desktop does, on a bus of its own
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
