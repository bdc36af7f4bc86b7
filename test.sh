#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and command-line tests in a plain build and again
# under AddressSanitizer and UndefinedBehaviorSanitizer, a short run of each fuzz target, and the
# threaded code under ThreadSanitizer.
# FUZZ_SECONDS sets how long each fuzz target runs (30 by default).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
jobs=$(nproc)

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "== formatting"
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
fi

echo "== layout: includes point down the floors, files stay small"
tools/check_layout.sh

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORVIK_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== fuzz smoke"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORVIK_FUZZ=ON >/dev/null
cmake --build build-fuzz
fuzz/run.sh build-fuzz "${FUZZ_SECONDS:-30}"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVIK_SANITIZE=ON -DDORVIK_WERROR=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (the code with threads: the sound ring, the refill timer, the player, the export job, the render's meter, the file writer under signals, the live keys, the MIDI input, the MIDI sender, the key index built aside)"
# No -Werror here: g++ reports false buffer overflows in the standard library under -fsanitize=thread.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORVIK_TSAN=ON >/dev/null
tsan_tests=(audio/audio_tests audio/audio_device_tests platform/platform_sound_tests platform/platform_file_tests
            app/app_playback_tests app/app_export_tests app/app_controller_tests export/export_tests view/view_tests
            synth/synth_tests synth/synth_live_tests platform/platform_midi_tests synth/midi_out_tests)
cmake --build build-tsan --target "${tsan_tests[@]##*/}"
# OMP_NUM_THREADS=1: FluidSynth loads SoundFonts through OpenMP, whose uninstrumented thread pool
# the sanitizer would report as racing; our own threads are what these runs check.
for t in "${tsan_tests[@]}"; do
    echo "-- $t"
    OMP_NUM_THREADS=1 DORVIK_SOURCE_DIR="$PWD" TSAN_OPTIONS=halt_on_error=1 "build-tsan/tests/$t" --gtest_brief=1
done
