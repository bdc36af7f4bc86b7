#include "export/video_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "export/export_format.h"
#include "export/export_source.h"
#include "export/ffmpeg_target.h"
#include "export/frame_convert.h"
#include "platform/atomic_file.h"

namespace {

constexpr int kAudioBitRate = 192000;
// Samples per AAC frame: FFmpeg's AAC encoder takes exactly this many, but a short last one.
constexpr int kAacFrameSamples = 1024;

// Standard is the quick default: the falling notes are flat colours on a still background, which
// even x264's quicker presets keep small (about 10 MB for 95 s of 1080p at 60 fps). The higher
// levels spend more time per frame and more bits on the notes' soft edges and glow. Their
// lookahead is held to 5 frames, a quarter of those presets' own: each frame in it is about 7 MB at
// 1080p, and a longer lookahead would take the export past 300 MB for little gain on such frames.
constexpr VideoQualityRow kQualityRows[] = {
    {23, "superfast", "sync-lookahead=0"},                // standard
    {20, "veryfast", "sync-lookahead=0:rc-lookahead=5"},  // high
    {17, "faster", "sync-lookahead=0:rc-lookahead=5"},    // maximum
};

struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool Supports(const AVCodec& codec, int rate) {
    if (codec.supported_samplerates == nullptr) return true;
    for (const int* r = codec.supported_samplerates; *r != 0; ++r) {
        if (*r == rate) return true;
    }
    return false;
}

}  // namespace

VideoQualityRow VideoQualityFor(int level) {
    if (level < 0 || level >= static_cast<int>(std::size(kQualityRows))) level = QualityStandard;
    return kQualityRows[level];
}

struct VideoWriter {
    std::string path;
    std::string wavPath;
    VideoSettings settings;
    platform::AtomicFile file;
    std::unique_ptr<AVFormatContext, OutputFree> output;
    std::unique_ptr<AVCodecContext, CodecFree> video;
    std::unique_ptr<AVCodecContext, CodecFree> audio;
    std::unique_ptr<AVFrame, FrameFree> picture{av_frame_alloc()};
    std::unique_ptr<AVFrame, FrameFree> sound{av_frame_alloc()};
    std::unique_ptr<AVPacket, PacketFree> packet{av_packet_alloc()};
    std::unique_ptr<FILE, FileClose> rawCopy;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;

    ExportSource source;
    SampleEncoding encoding = SampleEncoding::Unsupported;
    int channels = 0;
    int rate = 0;
    int blockAlign = 0;
    int64_t silentSamples = 0;  // of silence before the source's first frame
    int64_t audioFrames = 0;    // in the whole track: the silence and the source
    int64_t audioRead = 0;      // frames of the track encoded so far
    std::vector<uint8_t> audioBytes;
    int64_t frameCount = 0;
    int64_t nextFrame = 0;
};

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

Failure VideoEncoder::Fail(FailureKind kind, std::string text) {
    w_.reset();  // the new file goes with it
    return {kind, std::move(text)};
}

Failure VideoEncoder::WriteFailed(int code) {
    const int error = w_->output->pb != nullptr && w_->output->pb->error < 0 ? w_->output->pb->error : code;
    return Fail(FailureKind::Write, Printf("Couldn't write %s: %s", w_->path, AvError(error)));
}

int64_t VideoEncoder::FrameCount() const {
    return w_ != nullptr ? w_->frameCount : 0;
}

Failure VideoEncoder::Open(const std::string& target, const std::string& wavPath,
                           const VideoSettings& settings, const std::string& rawCopy, int64_t silentFrames) {
    QuietLibraryLog();
    w_ = std::make_unique<VideoWriter>();
    VideoWriter& w = *w_;
    w.path = target;
    w.wavPath = wavPath;
    w.settings = settings;
    if (w.picture == nullptr || w.sound == nullptr || w.packet == nullptr)
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    if (settings.width < 2 || settings.height < 2 || settings.width % 2 != 0 || settings.height % 2 != 0 ||
        settings.fps <= 0) {
        return Fail(FailureKind::EncoderSetup, "A video needs an even width and height and a frame rate");
    }

    // The sound: the program's own WAV reader, decoded to the float planes the AAC encoder takes.
    if (Failure refused = OpenExportSource(wavPath, w.source); !refused.Ok())
        return Fail(refused.kind, std::move(refused.text));
    const WavFormat& format = w.source.reader.format->header;
    w.encoding = SampleEncodingOf(*w.source.reader.format);
    w.channels = format.channels;
    w.rate = static_cast<int>(format.samplesPerSec);
    w.blockAlign = format.blockAlign;
    if (w.encoding == SampleEncoding::Unsupported)
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s holds samples of an unknown kind", wavPath));
    if (w.channels != 1 && w.channels != 2) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s has %s channels; only mono and stereo can be exported", wavPath,
                           std::to_string(w.channels)));
    }
    if (w.rate <= 0)
        return Fail(FailureKind::SourceFormat, Printf("The input file %s gives no sample rate", wavPath));
    if (silentFrames < 0 || silentFrames > int64_t{1} << 24)
        return Fail(FailureKind::EncoderSetup, "A video cannot open on that much silence");
    // Whole frames of silence at the usual rates are whole samples too; at any other the nearest
    // sample keeps the sound within half a sample of the picture.
    w.silentSamples = (silentFrames * w.rate + settings.fps / 2) / settings.fps;
    w.audioFrames = w.silentSamples + w.source.reader.dataSize / static_cast<uint32_t>(w.blockAlign);
    w.frameCount = (w.audioFrames * settings.fps + w.rate - 1) / w.rate;
    w.audioBytes.resize(static_cast<size_t>(kAacFrameSamples) * static_cast<size_t>(w.blockAlign));

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) return Fail(FailureKind::EncoderSetup, "This FFmpeg has no H.264 encoder (libx264)");
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (aac == nullptr) return Fail(FailureKind::EncoderSetup, "This FFmpeg has no AAC encoder (aac)");
    if (!Supports(*aac, w.rate)) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s has a sample rate of %s Hz, which AAC cannot carry", wavPath,
                           std::to_string(w.rate)));
    }
    AVFormatContext* output = nullptr;
    int ret = avformat_alloc_output_context2(&output, nullptr, "mp4", target.c_str());
    if (ret < 0 || output == nullptr)
        return Fail(FailureKind::EncoderSetup, "This FFmpeg cannot write MP4 files");
    w.output.reset(output);

    // The picture: x264 at the level's rate factor and preset.
    w.video.reset(avcodec_alloc_context3(h264));
    AVCodecContext* v = w.video.get();
    if (v == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    v->width = settings.width;
    v->height = settings.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = AVRational{1, settings.fps};
    v->framerate = AVRational{settings.fps, 1};
    // One encoding thread per processor, and the lookahead on those threads rather than on one of
    // its own: x264's own choice (one and a half threads per processor, plus a lookahead thread
    // with its queue of frames) holds more frames in memory, about 50 MB more at 1080p,
    // and is no faster once the frames are drawn on one of the same processors.
    v->thread_count = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
    const VideoQualityRow quality = VideoQualityFor(settings.quality);
    av_opt_set(v->priv_data, "x264-params", quality.params, 0);
    v->colorspace = AVCOL_SPC_BT709;
    v->color_primaries = AVCOL_PRI_BT709;
    v->color_trc = AVCOL_TRC_BT709;
    v->color_range = AVCOL_RANGE_MPEG;
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(v->priv_data, "preset", quality.preset, 0);
    av_opt_set_int(v->priv_data, "crf", quality.crf, 0);
    ret = avcodec_open2(v, h264, nullptr);
    if (ret < 0)
        return Fail(FailureKind::EncoderSetup,
                    Printf("The H.264 encoder refused its settings: %s", AvError(ret)));

    w.audio.reset(avcodec_alloc_context3(aac));
    AVCodecContext* a = w.audio.get();
    if (a == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    a->sample_rate = w.rate;
    av_channel_layout_default(&a->ch_layout, 2);
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    a->bit_rate = kAudioBitRate;
    a->time_base = AVRational{1, w.rate};
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(a, aac, nullptr);
    if (ret < 0)
        return Fail(FailureKind::EncoderSetup,
                    Printf("The AAC encoder refused its settings: %s", AvError(ret)));

    AVFrame* picture = w.picture.get();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = settings.width;
    picture->height = settings.height;
    AVFrame* sound = w.sound.get();
    sound->format = AV_SAMPLE_FMT_FLTP;
    sound->sample_rate = w.rate;
    sound->nb_samples = kAacFrameSamples;
    if (av_channel_layout_copy(&sound->ch_layout, &a->ch_layout) < 0 || av_frame_get_buffer(picture, 0) < 0 ||
        av_frame_get_buffer(sound, 0) < 0) {
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    }

    if (!rawCopy.empty()) {
        w.rawCopy.reset(std::fopen(rawCopy.c_str(), "wb"));
        if (w.rawCopy == nullptr)
            return Fail(FailureKind::TargetOpen,
                        Printf("Couldn't open %s for write: %s", rawCopy, ErrnoText(errno)));
    }

    // Only now is the target touched: a refusal above leaves no file.
    if (IsSameFile(wavPath, target)) {
        return Fail(FailureKind::TargetOpen,
                    Printf("Couldn't open %s for write: it is the file being exported", target));
    }
    if (const Failure opened = w.file.Open(target); !opened.Ok())
        return Fail(FailureKind::TargetOpen, Printf("Couldn't open %s for write: %s", target, opened.text));
    output->pb = OpenTargetIo(w.file);
    if (output->pb == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Moving the index to the front reads the file back by its name. The new file may have no name
    // yet, so the muxer reads it through the descriptor's name instead.
    if (!w.file.Direct()) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", w.file.Fd());
        av_freep(&output->url);
        output->url = av_strdup(self);
    }

    w.videoStream = avformat_new_stream(output, nullptr);
    w.audioStream = avformat_new_stream(output, nullptr);
    if (w.videoStream == nullptr || w.audioStream == nullptr)
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    if ((ret = avcodec_parameters_from_context(w.videoStream->codecpar, v)) < 0 ||
        (ret = avcodec_parameters_from_context(w.audioStream->codecpar, a)) < 0) {
        return Fail(FailureKind::EncoderSetup, AvError(ret));
    }
    w.videoStream->time_base = v->time_base;
    w.videoStream->avg_frame_rate = v->framerate;
    w.audioStream->time_base = a->time_base;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    ret = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (ret < 0) {
        if (output->pb->error < 0) return WriteFailed(output->pb->error);
        return Fail(FailureKind::EncoderSetup, Printf("Couldn't start the MP4 file: %s", AvError(ret)));
    }
    return {};
}

// Writes every packet the encoder has ready.
Failure VideoEncoder::Drain(bool video) {
    VideoWriter& w = *w_;
    AVCodecContext* encoder = video ? w.video.get() : w.audio.get();
    AVStream* stream = video ? w.videoStream : w.audioStream;
    AVPacket* packet = w.packet.get();
    for (;;) {
        int ret = avcodec_receive_packet(encoder, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return {};
        if (ret < 0)
            return Fail(FailureKind::EncoderSetup,
                        Printf("The %s encoder failed: %s", encoder->codec->name, AvError(ret)));
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        ret = av_interleaved_write_frame(w.output.get(), packet);
        if (ret < 0) return WriteFailed(ret);
    }
}

// Encodes the source's frames up to `samples` (or its end), a whole AAC frame at a time.
Failure VideoEncoder::EncodeAudioUntil(int64_t samples) {
    VideoWriter& w = *w_;
    AVFrame* sound = w.sound.get();
    while (w.audioRead < samples && w.audioRead < w.audioFrames) {
        // A block never straddles the end of the silence, so it is either silent or read whole.
        const bool silent = w.audioRead < w.silentSamples;
        const int64_t want =
            std::min<int64_t>(kAacFrameSamples, (silent ? w.silentSamples : w.audioFrames) - w.audioRead);
        const auto bytes = static_cast<uint32_t>(want * w.blockAlign);
        if (!silent && w.source.reader.Read(w.audioBytes.data(), bytes) < bytes)
            return Fail(FailureKind::Read,
                        Printf("Couldn't read %s: %s", w.wavPath, "the file ends before its data does"));
        int ret = av_frame_make_writable(sound);
        if (ret < 0) return Fail(FailureKind::EncoderSetup, AvError(ret));
        const int count = static_cast<int>(want);
        if (silent) {
            for (int c = 0; c < 2; ++c) std::fill_n(reinterpret_cast<float*>(sound->data[c]), count, 0.0f);
        } else {
            DecodeFrames(w.encoding, w.channels, w.audioBytes.data(), count,
                         reinterpret_cast<float*>(sound->data[0]), reinterpret_cast<float*>(sound->data[1]));
        }
        sound->nb_samples = count;
        sound->pts = w.audioRead;
        w.audioRead += count;
        ret = avcodec_send_frame(w.audio.get(), sound);
        if (ret < 0)
            return Fail(FailureKind::EncoderSetup, Printf("The AAC encoder failed: %s", AvError(ret)));
        if (Failure r = Drain(false); !r.Ok()) return r;
    }
    return {};
}

Failure VideoEncoder::AddFrame(const uint32_t* argb) {
    if (w_ == nullptr) return {FailureKind::EncoderSetup, "The video encoder is not open"};
    VideoWriter& w = *w_;
    AVFrame* picture = w.picture.get();
    int ret = av_frame_make_writable(picture);
    if (ret < 0) return Fail(FailureKind::EncoderSetup, AvError(ret));
    ArgbToYuv420(argb, w.settings.width, w.settings.height, picture->data, picture->linesize);
    if (w.rawCopy != nullptr) {
        for (int plane = 0; plane < 3; ++plane) {
            const int width = plane == 0 ? w.settings.width : w.settings.width / 2;
            const int height = plane == 0 ? w.settings.height : w.settings.height / 2;
            for (int y = 0; y < height; ++y) {
                std::fwrite(picture->data[plane] + static_cast<ptrdiff_t>(y) * picture->linesize[plane], 1,
                            static_cast<size_t>(width), w.rawCopy.get());
            }
        }
    }
    picture->pts = w.nextFrame++;
    ret = avcodec_send_frame(w.video.get(), picture);
    if (ret < 0) return Fail(FailureKind::EncoderSetup, Printf("The H.264 encoder failed: %s", AvError(ret)));
    if (Failure r = Drain(true); !r.Ok()) return r;
    // The sound that plays until the next frame shows goes into the file beside this one.
    return EncodeAudioUntil((w.nextFrame * w.rate + w.settings.fps - 1) / w.settings.fps);
}

Failure VideoEncoder::Finish() {
    if (w_ == nullptr) return {FailureKind::EncoderSetup, "The video encoder is not open"};
    VideoWriter& w = *w_;
    if (Failure r = EncodeAudioUntil(w.audioFrames); !r.Ok()) return r;
    int ret = avcodec_send_frame(w.video.get(), nullptr);
    if (ret < 0) return Fail(FailureKind::EncoderSetup, Printf("The H.264 encoder failed: %s", AvError(ret)));
    if (Failure r = Drain(true); !r.Ok()) return r;
    ret = avcodec_send_frame(w.audio.get(), nullptr);
    if (ret < 0) return Fail(FailureKind::EncoderSetup, Printf("The AAC encoder failed: %s", AvError(ret)));
    if (Failure r = Drain(false); !r.Ok()) return r;
    AVFormatContext* output = w.output.get();
    ret = av_write_trailer(output);
    if (ret < 0) return WriteFailed(ret);
    // The last buffered bytes, and a full disk with them, surface only in the flush.
    avio_flush(output->pb);
    if (output->pb->error < 0) return WriteFailed(output->pb->error);
    if (w.rawCopy != nullptr && std::fflush(w.rawCopy.get()) != 0) return WriteFailed(AVERROR(errno));
    if (const Failure failed = w.file.Commit(); !failed.Ok())
        return Fail(FailureKind::Write, Printf("Couldn't write %s: %s", w.path, failed.text));
    w_.reset();
    return {};
}
