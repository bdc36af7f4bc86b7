// An export in flight, as the window follows it: the Ogg Vorbis job on its own thread, and how
// much media time a transcoding export copies per step of the frame loop.
#pragma once

#include <thread>

#include "export/ogg_encoder.h"

// An Ogg Vorbis export in flight: the job, the buffer for the encoder's failure text, and the
// thread that encodes. While the thread runs it owns the job and the buffer; the window's thread
// looks at them only after joining it.
struct OggExport {
    EncoderJob job;
    char errorText[kEncoderErrorTextSize] = {};
    std::thread thread;

    OggExport() = default;
    OggExport(const OggExport&) = delete;
    OggExport& operator=(const OggExport&) = delete;
    ~OggExport() { Join(); }  // never leaves a thread behind, even when the program ends mid-export

    void Join() {
        if (thread.joinable()) thread.join();
    }
};

// Media time the transcoder copies per step; a frame takes as many steps as its budget
// (PlayerController::exportFrameBudget) allows, at least one.
inline constexpr double kTranscodeStepSeconds = 0.5;
