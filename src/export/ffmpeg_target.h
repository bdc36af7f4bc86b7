// What the FFmpeg exporters share: the library's log kept quiet, its error texts, an output I/O
// context that writes into a file that replaces its target only once complete, and owners for the
// library's objects.
#pragma once

#include <memory>
#include <string>

struct AVIOContext;
struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
namespace platform {
class AtomicFile;
}

// FFmpeg would otherwise write its own warnings and errors to standard error; the exporters
// report every failure themselves, in the program's words.
void QuietLibraryLog();

// FFmpeg's text for one of its error codes.
[[nodiscard]] std::string AvError(int code);

// An I/O context that writes and seeks on `file`'s descriptor (which must be open and outlive
// it), or null when out of memory. Free it with FreeTargetIo: the file belongs to its owner.
[[nodiscard]] AVIOContext* OpenTargetIo(platform::AtomicFile& file);
void FreeTargetIo(AVIOContext*& io);

// The format text with one or two strings put in ("%s").
[[nodiscard]] std::string Printf(const char* format, const std::string& a, const std::string& b = "");

// An output's I/O context is our own, over the target's file, so it is freed rather than closed:
// the file belongs to the writer.
struct OutputFree {
    void operator()(AVFormatContext* c) const;
};
struct CodecFree {
    void operator()(AVCodecContext* c) const;
};
struct FrameFree {
    void operator()(AVFrame* f) const;
};
struct PacketFree {
    void operator()(AVPacket* p) const;
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
