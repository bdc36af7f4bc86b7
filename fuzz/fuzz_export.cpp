// Feeds arbitrary bytes, as the source WAV, to the Ogg Vorbis encoder (FUZZ_EXPORT_OGG) or to the
// transcoder writing FLAC (FUZZ_EXPORT_FLAC). The bytes reach the exporter as a memory-backed file
// and the output goes to /dev/null. Besides the sanitizers' checks: every run ends with exactly one
// verdict, a failure always has a text, and the encoder's progress never goes backwards.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "export/ogg_encoder.h"
#include "export/transcoder.h"

namespace {

#if defined(FUZZ_EXPORT_OGG)
struct Watch {
    int verdicts = 0;
    int32_t lastProgress = 0;
};

int Check(void* context, EncoderMessage message, int32_t value) {
    auto& watch = *static_cast<Watch*>(context);
    if (watch.verdicts != 0) std::abort();  // nothing may follow the verdict
    if (message == EncoderMessage::Progress) {
        if (value < watch.lastProgress || value < 0) std::abort();
        watch.lastProgress = value;
    }
    if (message == EncoderMessage::Finished || message == EncoderMessage::Failed) ++watch.verdicts;
    return 0;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = ::memfd_create("source.wav", 0);
    if (fd < 0) return 0;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    const std::string source = "/proc/self/fd/" + std::to_string(fd);
#if defined(FUZZ_EXPORT_OGG)
    EncoderSettings settings;
    EncoderTags tags{};
    Watch watch;
    const Failure result = EncodeWavToOgg(source, "/dev/null", settings, tags, Check, &watch);
    if (watch.verdicts != 1 || (!result.Ok() && result.text.empty())) std::abort();
#else
    FormatAvailability availability{};
    ProbeEncoders(availability);
    Transcoder transcoder(TranscodeRequest{source,
                                           "/dev/null",
                                           ExportFormat::Flac,
                                           QualityStandard,
                                           AvailabilityOf(availability, ExportFormat::Flac),
                                           {}});
    bool running = transcoder.Start();
    for (int steps = 0; running; ++steps) {
        if (steps > 100000) std::abort();  // a step that makes no progress
        running = transcoder.Step(5.0);
    }
    if (!transcoder.failure.Ok() && transcoder.failure.text.empty()) std::abort();
#endif
    ::close(fd);
    return 0;
}
