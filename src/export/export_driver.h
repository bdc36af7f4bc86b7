// The export driver's own records. The driver itself is two operations of the controller,
// PlayerController::ExportAudio and PollExport (app/player_controller.h).
#pragma once

#include <chrono>
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

// How long one frame may spend on a transcoding export. The transcoder copies half a second of
// media per step and the frame keeps stepping until this is used up: a frame drawn at 60 per
// second leaves about 16 ms, so with the drawing the frame runs a little late and the export gets
// most of the window thread while the window still answers several dozen times a second.
inline constexpr std::chrono::milliseconds kTranscodeFrameBudget{20};
inline constexpr double kTranscodeStepSeconds = 0.5;
