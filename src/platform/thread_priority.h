// Scheduling for the few threads whose wake-ups are heard: the one that sends a song's notes to
// an instrument wakes for each note, and a note a busy machine lets it send late is a note out
// of time.
#pragma once

namespace platform {

// Asks for the calling thread to be scheduled ahead of ordinary ones (real-time, at a modest
// priority below the MIDI and audio systems' own threads). Where the system does not grant it
// (no real-time limit for this user), the thread runs as it did; returns whether it was granted.
// The thread must sleep between its bursts of work: it would otherwise starve the machine.
bool AskForPromptWakeUps();

}  // namespace platform
