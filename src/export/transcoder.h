// The transcoder: FLAC (.flac), ALAC (.m4a), AAC (ADTS, .aac) and MP3 (.mp3) exports of the
// rendered WAV through FFmpeg, always 44,100 Hz stereo. It runs in steps of a little media time
// each, so that whoever drives it (an export job) can follow its progress and stop it between
// two; it never loads the WAV whole.
//
// Also here: ProbeEncoders, the start-up look at which of the four formats this FFmpeg can write.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "export/export_failure.h"
#include "export/export_format.h"

// Fills the FLAC, ALAC, AAC and MP3 availability words from the encoders and containers this
// FFmpeg has. FLAC and ALAC: 255. AAC and MP3: bit 0 when 128 kbit/s is offered, bit 1 when 160
// kbit/s is, plus 4 x the highest rate offered when that is above 160. A format that cannot be
// written keeps its word (0 at start-up). The WAV and Ogg Vorbis words are left alone.
void ProbeEncoders(FormatAvailability& availability);

// What one transcoding export writes, read once, in Start.
struct TranscodeRequest {
    std::string source;  // the rendered WAV
    std::string target;
    ExportFormat format = ExportFormat::Flac;  // FLAC, ALAC, AAC or MP3
    int quality = QualityStandard;             // a QualityLevel
    uint16_t availability = 0;                 // the format's availability word: the bit rates offered
    AudioTags tags;                            // written into the container's header
};

struct TranscodeReader;  // the WAV demuxer and PCM decoder
struct TranscodeWriter;  // the resampler, encoder and muxer
struct EncoderRow;       // a format's encoder, container and bit rates

// One export of a TranscodeRequest.
struct Transcoder {
    float position = 0.0f;     // seconds of the source read so far: the timestamp of the last packet
    int32_t streamIndex = -1;  // the output stream; -1 until it is added
    std::unique_ptr<TranscodeReader> reader;
    std::unique_ptr<TranscodeWriter> writer;

    double sourceSeconds = 0.0;  // the source's length as its header gives it; 0 when unknown
    Failure failure;             // set once Start or Step has failed

    explicit Transcoder(TranscodeRequest request);
    ~Transcoder();  // an export still running is abandoned; the target stays as it was
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    // Opens the source, sets up the encoder for the session's format and quality, creates the
    // new file that will replace the target once complete, and copies the first step. False when
    // anything failed: then `failure` says what, the target is as it was, and
    // Step ends at once.
    [[nodiscard]] bool Start();

    // Copies a little more than `mediaSeconds` of the source. True while there is more to copy;
    // false once the file is complete or the export has failed (`failure` tells which).
    [[nodiscard]] bool Step(double mediaSeconds = 0.5);

    [[nodiscard]] const TranscodeRequest& Request() const { return request_; }

  private:
    TranscodeRequest request_;

    bool Fail(FailureKind code, std::string text);
    // The phases of Start, in order; each returns false once it has failed.
    bool OpenSource();
    bool OpenEncoder(const EncoderRow& row);
    bool OpenResampler();
    bool OpenTarget();
};
