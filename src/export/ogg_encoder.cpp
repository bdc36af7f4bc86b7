#include "export/ogg_encoder.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "export/export_failure.h"
#include "export/export_format.h"
#include "export/export_source.h"
#include "platform/atomic_file.h"

namespace {

constexpr uint32_t kReadBytes = 4096;  // 1,024 16-bit stereo frames: one analysis buffer per read
constexpr int kProgressEvery = 16;     // reads between two progress messages

// The comment fields in the order they go into the file, each with the slot it is taken from.
struct CommentField {
    const char* name;
    TagSlot slot;
};
constexpr CommentField kCommentOrder[kTagSlots] = {
    {"ALBUM", TagAlbum},
    {"ARTIST", TagArtist},
    {"CONTACT", TagContact},
    {"COPYRIGHT", TagCopyright},
    {"DATE", TagDate},
    {"DESCRIPTION", TagDescription},
    {"GENRE", TagGenre},
    {"ISRC", TagIsrc},
    {"LICENSE", TagLicense},
    {"LOCATION", TagLocation},
    {"ORGANISATION", TagOrganisation},
    {"PERFORMER", TagPerformer},
    {"TITLE", TagTitle},
    {"TRACKNUMBER", TagTrackNumber},
    {"VERSION", TagVersion},
};

// The library state of one encoding. Each part is cleared, in the reverse order of its set-up,
// only when it was set up.
struct VorbisState {
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state stream{};
    bool infoReady = false;
    bool commentReady = false;
    bool analysisReady = false;
    bool streamReady = false;

    VorbisState() = default;
    VorbisState(const VorbisState&) = delete;
    VorbisState& operator=(const VorbisState&) = delete;
    ~VorbisState() {
        if (streamReady) ogg_stream_clear(&stream);
        if (analysisReady) {
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
        }
        if (commentReady) vorbis_comment_clear(&comment);
        if (infoReady) vorbis_info_clear(&info);
    }
};

class OggEncoding {
  public:
    OggEncoding(const std::string& source, const std::string& target, EncoderCallback callback, void* context)
        : source_(source), target_(target), callback_(callback), context_(context) {}

    Failure Run(const EncoderSettings& settings, const EncoderTags& tags, const OggComments& extra);

  private:
    // Whether the listener wants the encoding to go on: a callback that answers non-zero stops it.
    bool Send(EncoderMessage message, int32_t value) {
        return callback_ == nullptr || callback_(context_, message, value) == 0;
    }
    int32_t Percent() const {
        if (size_ == 0) return 0;
        return static_cast<int32_t>(static_cast<float>(consumed_) / static_cast<float>(size_) * 100.0f);
    }
    // Ends the encoding: the reason goes into the error text, the partial target is removed, and
    // the callback hears of it last. Always false.
    bool Fail(FailureKind code, const std::string& text);
    bool WritePage(const ogg_page& page);
    // Hands every block the analysis has ready to the bit-rate manager and writes the pages that
    // fill up; false when a write fails.
    bool Drain();

    // The phases of one encoding, in order; each returns false once it has failed.
    bool OpenSource();
    bool OpenTarget();
    bool SetUpEncoder(const EncoderSettings& settings, const EncoderTags& tags, const OggComments& extra);
    bool WriteStreamHeaders();
    bool EncodeSamples();
    bool Finish();

    Failure failure_;
    const std::string& source_;
    const std::string& target_;
    EncoderCallback callback_;
    void* context_;
    ExportSource in_;
    platform::AtomicFile out_;
    uint64_t size_ = 0;      // the header and the data chunk, as far as the file holds them
    uint64_t consumed_ = 0;  // bytes of them read so far
    int channels_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t frameBytes_ = 0;
    SampleEncoding encoding_ = SampleEncoding::Unsupported;
    uint64_t framesEncoded_ = 0;
    int writeError_ = 0;  // errno of the write that failed
    VorbisState v_;
};

std::string ReadFailed(const std::string& path, int error) {
    return "Couldn't read " + path + ": " + ErrnoText(error);
}
std::string WriteFailed(const std::string& path, int error) {
    return "Couldn't write " + path + ": " + ErrnoText(error);
}

bool OggEncoding::Fail(FailureKind code, const std::string& text) {
    failure_ = Failure::Because(code, text);
    // The target is left exactly as it was: only the unfinished replacement goes.
    out_.Discard();
    in_.reader.Close();
    (void)Send(EncoderMessage::Failed, static_cast<int32_t>(code));
    return false;
}

bool OggEncoding::WritePage(const ogg_page& page) {
    const auto write = [this](const unsigned char* data, long length) {
        auto left = static_cast<size_t>(length);
        while (left > 0) {
            const ssize_t n = ::write(out_.Fd(), data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                writeError_ = errno;
                return false;
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
        return true;
    };
    return write(page.header, page.header_len) && write(page.body, page.body_len);
}

bool OggEncoding::Drain() {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&v_.dsp, &v_.block) == 1) {
        vorbis_analysis(&v_.block, nullptr);
        vorbis_bitrate_addblock(&v_.block);
        while (vorbis_bitrate_flushpacket(&v_.dsp, &packet)) {
            ogg_stream_packetin(&v_.stream, &packet);
            while (ogg_stream_pageout(&v_.stream, &page) != 0) {
                if (!WritePage(page)) return false;
                if (ogg_page_eos(&page)) break;
            }
        }
    }
    return true;
}

Failure OggEncoding::Run(const EncoderSettings& settings, const EncoderTags& tags, const OggComments& extra) {
    if (!Send(EncoderMessage::Started, 0)) {
        (void)Fail(FailureKind::Cancelled, "The export was cancelled");
        return failure_;
    }
    const bool done = OpenSource() && OpenTarget() && SetUpEncoder(settings, tags, extra) &&
                      WriteStreamHeaders() && EncodeSamples() && Finish();
    if (!done) return failure_;
    (void)Send(EncoderMessage::Finished, 0);
    return {};
}

// The source is read and checked first: a source that cannot be encoded leaves an existing target
// untouched.
bool OggEncoding::OpenSource() {
    if (const Failure refused = OpenExportSource(source_, in_); !refused.Ok())
        return Fail(refused.kind, refused.text);
    const WavFormat& format = in_.reader.format->header;
    encoding_ = SampleEncodingOf(*in_.reader.format);
    if (encoding_ == SampleEncoding::Unsupported)
        return Fail(FailureKind::SourceFormat,
                    "The input file " + source_ + " holds samples of an unknown kind");
    if (format.channels != 1 && format.channels != 2) {
        return Fail(FailureKind::SourceFormat, "The input file " + source_ + " has " +
                                                   std::to_string(format.channels) +
                                                   " channels; only mono and stereo can be exported");
    }
    channels_ = format.channels;
    sampleRate_ = format.samplesPerSec;
    frameBytes_ = format.blockAlign;
    size_ = std::min<uint64_t>(in_.fileBytes, uint64_t{in_.dataOffset} + in_.reader.dataSize);
    consumed_ = in_.dataOffset;
    if (!Send(EncoderMessage::Progress, Percent()))
        return Fail(FailureKind::Cancelled, "The export was cancelled");
    return true;
}

bool OggEncoding::OpenTarget() {
    if (IsSameFile(source_, target_)) {
        return Fail(FailureKind::TargetOpen,
                    "Couldn't open " + target_ + " for write: it is the file being exported");
    }
    if (const Failure opened = out_.Open(target_); !opened.Ok())
        return Fail(FailureKind::TargetOpen, "Couldn't open " + target_ + " for write: " + opened.text);
    return true;
}

bool OggEncoding::SetUpEncoder(const EncoderSettings& settings, const EncoderTags& tags,
                               const OggComments& extra) {
    static constexpr const char* kSetupFailed = "Couldn't set up the Ogg Vorbis encoder for these settings";
    float quality = settings.quality;
    if (quality > 1.0f) quality = 1.0f;
    if (settings.channels != 2 || settings.mode != 0 || std::isnan(quality)) {
        return Fail(FailureKind::EncoderSetup, kSetupFailed);
    }
    vorbis_info_init(&v_.info);
    v_.infoReady = true;
    if (vorbis_encode_init_vbr(&v_.info, settings.channels, static_cast<long>(sampleRate_), quality) < 0) {
        return Fail(FailureKind::EncoderSetup, kSetupFailed);
    }

    vorbis_comment_init(&v_.comment);
    v_.commentReady = true;
    for (const CommentField& field : kCommentOrder) {
        const std::array<char, kTagSlotBytes>& slot = tags[field.slot];
        const std::string value(slot.data(), strnlen(slot.data(), slot.size()));
        vorbis_comment_add_tag(&v_.comment, field.name, value.c_str());
    }
    for (const auto& [name, value] : extra) vorbis_comment_add_tag(&v_.comment, name.c_str(), value.c_str());

    vorbis_analysis_init(&v_.dsp, &v_.info);
    vorbis_block_init(&v_.dsp, &v_.block);
    v_.analysisReady = true;

    // Serial numbers only need to differ between streams chained into one file; a time-seeded
    // generator of our own keeps the C library's shared one out of this thread.
    std::minstd_rand random(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    ogg_stream_init(&v_.stream, static_cast<int>(random() % 32768));
    v_.streamReady = true;
    return true;
}

bool OggEncoding::WriteStreamHeaders() {
    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    vorbis_analysis_headerout(&v_.dsp, &v_.comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&v_.stream, &identification);
    ogg_stream_packetin(&v_.stream, &comments);
    ogg_stream_packetin(&v_.stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&v_.stream, &page) != 0) {
        if (!WritePage(page)) return Fail(FailureKind::Write, WriteFailed(target_, writeError_));
    }
    return true;
}

bool OggEncoding::EncodeSamples() {
    // Whole frames per read; a half frame at the end of the data is left out.
    const uint32_t readBytes = std::max(frameBytes_, kReadBytes / frameBytes_ * frameBytes_);
    std::vector<uint8_t> buffer(readBytes);
    WavReader& reader = in_.reader;
    for (int pass = 0;; ++pass) {
        const uint32_t want = std::min(reader.dataChunk.size, readBytes);
        errno = 0;
        uint32_t got = want == 0 ? 0 : reader.Read(buffer.data(), want);
        // A file that ends before its data chunk does: what the last read found still counts.
        if (want != 0 && got == 0)
            got = static_cast<uint32_t>(std::max<std::streamsize>(reader.handle->gcount(), 0));
        if (got < want) {
            // Short of the end the file had when it was opened: a read that failed, not an end.
            if (consumed_ + got < size_) {
                return Fail(FailureKind::Read, ReadFailed(source_, errno != 0 ? errno : EIO));
            }
            reader.dataChunk.size = 0;
        }
        consumed_ += got;
        if (pass % kProgressEvery == 0 && !Send(EncoderMessage::Progress, Percent()))
            return Fail(FailureKind::Cancelled, "The export was cancelled");
        if (got == 0) break;

        // A read holding less than one frame adds nothing: telling the analysis "0 frames written"
        // would end the stream early.
        const int frames = static_cast<int>(got / frameBytes_);
        if (frames == 0) continue;
        float** pcm = vorbis_analysis_buffer(&v_.dsp, frames);
        DecodeFrames(encoding_, channels_, buffer.data(), frames, pcm[0], pcm[1]);
        vorbis_analysis_wrote(&v_.dsp, frames);
        framesEncoded_ += static_cast<uint64_t>(frames);
        if (!Drain()) return Fail(FailureKind::Write, WriteFailed(target_, writeError_));
    }
    if (framesEncoded_ == 0)
        return Fail(FailureKind::SourceFormat, "The input file " + source_ + " holds no audio");
    return true;
}

bool OggEncoding::Finish() {
    vorbis_analysis_wrote(&v_.dsp, 0);
    if (!Drain()) return Fail(FailureKind::Write, WriteFailed(target_, writeError_));
    // The file takes the target's place only now that it is complete; a full disk or a failed
    // write-back may show up only here.
    if (const Failure failed = out_.Commit(); !failed.Ok())
        return Fail(FailureKind::Write, "Couldn't write " + target_ + ": " + failed.text);
    return true;
}

}  // namespace

void SetTag(EncoderTags& tags, TagSlot slot, const std::string& text) {
    size_t length = std::min(text.size(), kTagSlotBytes - 1);
    // Back up to the start of a character that the cut would split.
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::array<char, kTagSlotBytes>& field = tags[slot];
    field.fill('\0');
    std::memcpy(field.data(), text.data(), length);
}

Failure EncodeWavToOgg(const std::string& sourcePath, const std::string& targetPath,
                       const EncoderSettings& settings, const EncoderTags& tags, EncoderCallback callback,
                       void* context, const OggComments& extra) {
    OggEncoding encoding(sourcePath, targetPath, callback, context);
    return encoding.Run(settings, tags, extra);
}

EncoderSettings OggSettingsForLevel(int level) {
    EncoderSettings settings;
    settings.quality = OggQualityForLevel(level);
    return settings;
}

EncoderTags OggTagsForSong(const std::string& displayName, const AudioTags& song) {
    EncoderTags tags{};
    SetTag(tags, TagDescription, displayName);
    SetTag(tags, TagTitle, song.title);
    SetTag(tags, TagCopyright, song.copyright);
    return tags;
}

OggComments OggExtraComments(const AudioTags& song) {
    OggComments extra;
    if (!song.composer.empty()) extra.emplace_back("COMPOSER", song.composer);
    extra.emplace_back("ENCODER", EncoderTagText());
    return extra;
}
