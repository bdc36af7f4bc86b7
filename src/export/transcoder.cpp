#include "export/transcoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <cstdio>

#include "core/sample_rate.h"
#include "export/export_format.h"
#include "export/export_source.h"
#include "export/ffmpeg_target.h"
#include "platform/atomic_file.h"

namespace {

constexpr int kOutputRate = static_cast<int>(kSampleRate);
constexpr int kOutputChannels = 2;
// Frames handed to an encoder that takes any frame size: about a tenth of a second.
constexpr int kVariableFrameSize = 4096;
// Source rates outside these are refused: a header claiming 1 Hz would make every packet expand
// into minutes of output in one conversion.
constexpr int kLowestSourceRate = 1000;
constexpr int kHighestSourceRate = 768000;

// The bit rates, in kbit/s, that an export may ask of each lossy encoder at 44,100 Hz stereo:
// MPEG-1 Layer III's own rate table, and for AAC the steps up to 192 kbit/s. FFmpeg's AAC
// encoder accepts higher rates but falls well short of them (about 220 kbit/s when asked for
// 256), so the maximum level would not get what it asks for.
constexpr int kAacRates[] = {96, 128, 160, 192};
constexpr int kMp3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

}  // namespace

struct EncoderRow {
    ExportFormat format;
    const char* encoder;  // FFmpeg's encoder name
    const char* muxer;    // FFmpeg's container name
    const int* rates;     // null for the lossless formats
    size_t rateCount;
};

namespace {

constexpr EncoderRow kEncoders[] = {
    {ExportFormat::Flac, "flac", "flac", nullptr, 0},
    {ExportFormat::Alac, "alac", "ipod", nullptr, 0},
    {ExportFormat::Aac, "aac", "adts", kAacRates, std::size(kAacRates)},
    {ExportFormat::Mp3, "libmp3lame", "mp3", kMp3Rates, std::size(kMp3Rates)},
};

const EncoderRow* FindEncoderRow(ExportFormat format) {
    for (const EncoderRow& row : kEncoders) {
        if (row.format == format) return &row;
    }
    return nullptr;
}

bool SupportsOutputRate(const AVCodec& codec) {
    if (codec.supported_samplerates == nullptr) return true;
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == kOutputRate) return true;
    }
    return false;
}

// The encoder's sample format closest to the source's: 16-bit sources stay 16-bit for the
// lossless formats (and avoid a conversion for the lossy ones that take 16-bit input), wider
// sources keep 32-bit containers.
AVSampleFormat PickSampleFormat(const AVCodec& codec, bool wide) {
    static constexpr AVSampleFormat kNarrow[] = {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_FLTP,
                                                 AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S32,  AV_SAMPLE_FMT_S32P};
    static constexpr AVSampleFormat kWide[] = {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_FLTP,
                                               AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16,  AV_SAMPLE_FMT_S16P};
    const auto& preferred = wide ? kWide : kNarrow;
    if (codec.sample_fmts == nullptr) return preferred[0];
    for (AVSampleFormat wanted : preferred) {
        for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == wanted) return wanted;
        }
    }
    return codec.sample_fmts[0];
}

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct ResamplerFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFree>;

}  // namespace

struct TranscodeReader {
    InputPtr input;
    CodecPtr decoder;
    PacketPtr packet{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    int stream = -1;
    int blockAlign = 0;         // bytes per frame; a packet is cut to whole frames
    int64_t decodedFrames = 0;  // source frames decoded so far
    AVRational timeBase{1, 1};
};

struct TranscodeWriter {
    std::string path;
    platform::AtomicFile file;  // the new file; it replaces the target only once complete
    OutputPtr output;
    CodecPtr encoder;
    ResamplerPtr resampler;
    FifoPtr fifo;
    FramePtr frame{av_frame_alloc()};  // one encoder frame, refilled from the FIFO
    PacketPtr packet{av_packet_alloc()};
    int frameSize = 0;
    bool smallLastFrame = false;  // the encoder takes a short final frame as it is
    int64_t nextPts = 0;          // in samples at the output rate
    uint8_t* converted[kOutputChannels] = {};
    int convertedCapacity = 0;  // samples per channel in `converted`

    ~TranscodeWriter() { av_freep(&converted[0]); }
};

void ProbeEncoders(FormatAvailability& availability) {
    QuietLibraryLog();
    for (const EncoderRow& row : kEncoders) {
        const AVCodec* codec = avcodec_find_encoder_by_name(row.encoder);
        if (codec == nullptr || av_guess_format(row.muxer, nullptr, nullptr) == nullptr ||
            !SupportsOutputRate(*codec)) {
            continue;
        }
        if (row.rates == nullptr) {
            availability[static_cast<size_t>(row.format)] = 255;
            continue;
        }
        uint16_t word = 0;
        int highest = 0;
        for (size_t i = 0; i < row.rateCount; ++i) {
            if (row.rates[i] == 128) word |= 1;
            if (row.rates[i] == 160) word |= 2;
            if (row.rates[i] > highest) highest = row.rates[i];
        }
        if (highest > 160) word = static_cast<uint16_t>(word + 4 * highest);
        availability[static_cast<size_t>(row.format)] = word;
    }
}

Transcoder::Transcoder(TranscodeRequest request) : request_(std::move(request)) {}

// The writer's file goes with it, and the target stays as it was.
Transcoder::~Transcoder() = default;

bool Transcoder::Fail(FailureKind code, std::string text) {
    writer.reset();
    reader.reset();
    failure = {code, std::move(text)};
    return false;
}

namespace {

// The steps of one export, as free functions over the transcoder's parts; each returns false
// after recording the failure in the transcoder.
class Pipeline {
  public:
    explicit Pipeline(Transcoder& t) : t_(t), r_(*t.reader), w_(*t.writer) {}

    // Decodes whatever the decoder holds and queues it, converted, for the encoder.
    bool DrainDecoder() {
        for (;;) {
            const int ret = avcodec_receive_frame(r_.decoder.get(), r_.frame.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
            if (ret < 0) return ReadFailed(ret);
            r_.decodedFrames += r_.frame->nb_samples;
            const bool ok =
                Convert(const_cast<const uint8_t**>(r_.frame->extended_data), r_.frame->nb_samples);
            av_frame_unref(r_.frame.get());
            if (!ok) return false;
        }
    }

    // Converts `count` source samples (none: flush the resampler) into the FIFO and encodes every
    // full frame it then holds.
    bool Convert(const uint8_t** in, int count) {
        for (;;) {
            const int room = swr_get_out_samples(w_.resampler.get(), count);
            if (room < 0)
                return Failed(FailureKind::EncoderSetup, "Couldn't convert the samples of %s: %s", Source(),
                              room);
            if (room > w_.convertedCapacity) {
                av_freep(&w_.converted[0]);
                w_.convertedCapacity = 0;
                const int ret =
                    av_samples_alloc(w_.converted, nullptr, kOutputChannels, room, w_.encoder->sample_fmt, 0);
                if (ret < 0)
                    return Failed(FailureKind::EncoderSetup, "Couldn't convert the samples of %s: %s",
                                  Source(), ret);
                w_.convertedCapacity = room;
            }
            const int got = swr_convert(w_.resampler.get(), w_.converted, w_.convertedCapacity, in, count);
            if (got < 0)
                return Failed(FailureKind::EncoderSetup, "Couldn't convert the samples of %s: %s", Source(),
                              got);
            if (got > 0 &&
                av_audio_fifo_write(w_.fifo.get(), reinterpret_cast<void**>(w_.converted), got) < got) {
                return Failed(FailureKind::EncoderSetup, "Couldn't convert the samples of %s: %s", Source(),
                              AVERROR(ENOMEM));
            }
            while (av_audio_fifo_size(w_.fifo.get()) >= w_.frameSize) {
                if (!EncodeFrame(w_.frameSize)) return false;
            }
            // A flush may take several calls; real input is converted in one.
            if (in != nullptr || got == 0) return true;
        }
    }

    // Encodes `count` samples from the FIFO (fewer than a frame only at the end).
    bool EncodeFrame(int count) {
        AVFrame* frame = w_.frame.get();
        int ret = av_frame_make_writable(frame);
        if (ret < 0)
            return Failed(FailureKind::EncoderSetup, "The %s encoder failed: %s", EncoderName(), ret);
        const int read = av_audio_fifo_read(w_.fifo.get(), reinterpret_cast<void**>(frame->data), count);
        if (read < 0)
            return Failed(FailureKind::EncoderSetup, "The %s encoder failed: %s", EncoderName(), read);
        int samples = read;
        if (samples < w_.frameSize && !w_.smallLastFrame) {
            av_samples_set_silence(frame->data, samples, w_.frameSize - samples, kOutputChannels,
                                   w_.encoder->sample_fmt);
            samples = w_.frameSize;
        }
        frame->nb_samples = samples;
        frame->pts = w_.nextPts;
        w_.nextPts += samples;
        ret = avcodec_send_frame(w_.encoder.get(), frame);
        if (ret < 0)
            return Failed(FailureKind::EncoderSetup, "The %s encoder failed: %s", EncoderName(), ret);
        return WritePackets();
    }

    // Writes every packet the encoder has ready.
    bool WritePackets() {
        AVPacket* packet = w_.packet.get();
        const AVStream* stream = w_.output->streams[t_.streamIndex];
        for (;;) {
            int ret = avcodec_receive_packet(w_.encoder.get(), packet);
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
            if (ret < 0)
                return Failed(FailureKind::EncoderSetup, "The %s encoder failed: %s", EncoderName(), ret);
            av_packet_rescale_ts(packet, w_.encoder->time_base, stream->time_base);
            packet->stream_index = t_.streamIndex;
            ret = av_write_frame(w_.output.get(), packet);
            av_packet_unref(packet);
            if (ret < 0) return WriteFailed(ret);
        }
    }

    // Flushes every stage in order and completes the file.
    bool Finish() {
        int ret = avcodec_send_packet(r_.decoder.get(), nullptr);
        if (ret < 0 && ret != AVERROR_EOF) return ReadFailed(ret);
        if (!DrainDecoder()) return false;
        // A header with no samples after it would make a file with no audio, or none at all.
        if (r_.decodedFrames == 0) {
            t_.failure = {FailureKind::SourceFormat, Printf("The input file %s holds no audio", Source())};
            return false;
        }
        if (!Convert(nullptr, 0)) return false;
        while (av_audio_fifo_size(w_.fifo.get()) > 0) {
            if (!EncodeFrame(w_.frameSize)) return false;
        }
        ret = avcodec_send_frame(w_.encoder.get(), nullptr);
        if (ret < 0)
            return Failed(FailureKind::EncoderSetup, "The %s encoder failed: %s", EncoderName(), ret);
        if (!WritePackets()) return false;
        AVFormatContext* output = w_.output.get();
        ret = av_write_trailer(output);
        if (ret < 0) return WriteFailed(ret);
        // The last buffered bytes, and a full disk with them, surface only in the flush; closing
        // the file itself can fail too.
        avio_flush(output->pb);
        if (output->pb->error < 0) return WriteFailed(output->pb->error);
        // The file takes the target's place only now that it is complete.
        if (const Failure failed = w_.file.Commit(); !failed.Ok()) {
            t_.failure = {FailureKind::Write, Printf("Couldn't write %s: %s", w_.path, failed.text)};
            return false;
        }
        return true;
    }

    bool ReadFailed(int code) { return Failed(FailureKind::Read, "Couldn't read %s: %s", Source(), code); }
    bool WriteFailed(int code) { return Failed(FailureKind::Write, "Couldn't write %s: %s", w_.path, code); }

  private:
    const std::string& Source() const { return t_.Request().source; }
    std::string EncoderName() const { return w_.encoder->codec->name; }
    bool Failed(FailureKind failure, const char* format, const std::string& subject, int code) {
        // Kept until Transcoder::Fail records it with the cleanup.
        t_.failure = {failure, Printf(format, subject, AvError(code))};
        return false;
    }

    Transcoder& t_;
    TranscodeReader& r_;
    TranscodeWriter& w_;
};

}  // namespace

bool Transcoder::Start() {
    QuietLibraryLog();
    const ExportFormat format = request_.format;
    const EncoderRow* row = FindEncoderRow(format);
    if (row == nullptr) {
        return Fail(FailureKind::EncoderSetup,
                    Printf("%s is not a format the transcoder writes", ExportFormatName(format)));
    }
    position = 0.0f;
    streamIndex = -1;
    failure = {};
    // The encoder and the resampler are set up before the target is touched, so that a refusal
    // leaves no file.
    if (!OpenSource() || !OpenEncoder(*row) || !OpenResampler() || !OpenTarget()) return false;
    return Step() || failure.Ok();
}

// The source: the first audio stream of a WAV file, decoded to plain samples.
bool Transcoder::OpenSource() {
    const std::string& source = request_.source;
    // A pipe or a device as the source would be read for ever. The chunks are walked by our own
    // reader first: the demuxer believes the sizes of the chunks it reads, and one tag of a LIST
    // chunk that claims gigabytes the file does not have costs that much memory.
    {
        ExportSource checked;
        if (Failure refused = OpenExportSource(source, checked); !refused.Ok())
            return Fail(refused.kind, std::move(refused.text));
    }
    reader = std::make_unique<TranscodeReader>();
    TranscodeReader& r = *reader;
    if (r.packet == nullptr || r.frame == nullptr)
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    AVFormatContext* input = nullptr;
    // Read as a plain file whatever its name ("take:2.wav" is not a protocol), and as one that
    // cannot seek, so that the demuxer stops at the samples: the chunks after them were never
    // walked by our reader, and only the samples are wanted.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "seekable", "0", 0);
    const int ret =
        avformat_open_input(&input, ("file:" + source).c_str(), av_find_input_format("wav"), &options);
    av_dict_free(&options);
    if (ret == AVERROR_INVALIDDATA) {
        return Fail(FailureKind::SourceFormat, Printf("The input file %s is not a WAV file", source));
    }
    if (ret < 0)
        return Fail(FailureKind::SourceOpen, Printf("Couldn't open %s for read: %s", source, AvError(ret)));
    r.input.reset(input);
    r.stream = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (r.stream < 0)
        return Fail(FailureKind::SourceFormat, Printf("The input file %s holds no audio", source));
    const AVStream* inStream = input->streams[r.stream];
    const AVCodecParameters* par = inStream->codecpar;
    const int channels = par->ch_layout.nb_channels;
    if (channels != 1 && channels != 2) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s has %s channels; only mono and stereo can be exported", source,
                           std::to_string(channels)));
    }
    if (par->sample_rate < kLowestSourceRate || par->sample_rate > kHighestSourceRate) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s has a sample rate of %s Hz, which cannot be exported", source,
                           std::to_string(par->sample_rate)));
    }
    const AVCodec* decoderCodec = avcodec_find_decoder(par->codec_id);
    if (decoderCodec == nullptr) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s holds samples of an unknown kind", source));
    }
    r.decoder.reset(avcodec_alloc_context3(decoderCodec));
    if (r.decoder == nullptr || avcodec_parameters_to_context(r.decoder.get(), par) < 0 ||
        avcodec_open2(r.decoder.get(), decoderCodec, nullptr) < 0) {
        return Fail(FailureKind::SourceFormat,
                    Printf("The input file %s holds samples of an unknown kind", source));
    }
    r.timeBase = inStream->time_base;
    r.blockAlign = par->block_align;
    sourceSeconds = inStream->duration != AV_NOPTS_VALUE ? inStream->duration * av_q2d(inStream->time_base)
                    : input->duration != AV_NOPTS_VALUE  ? input->duration / static_cast<double>(AV_TIME_BASE)
                                                         : 0.0;
    return true;
}

// The encoder for the session's format and quality, and the container it goes into.
bool Transcoder::OpenEncoder(const EncoderRow& row) {
    const ExportFormat format = request_.format;
    const AVCodec* encoderCodec = avcodec_find_encoder_by_name(row.encoder);
    if (encoderCodec == nullptr) {
        return Fail(FailureKind::EncoderSetup,
                    Printf("This FFmpeg has no %s encoder (%s)", ExportFormatName(format), row.encoder));
    }
    writer = std::make_unique<TranscodeWriter>();
    TranscodeWriter& w = *writer;
    w.path = request_.target;
    if (w.frame == nullptr || w.packet == nullptr)
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    AVFormatContext* output = nullptr;
    int ret = avformat_alloc_output_context2(&output, nullptr, row.muxer, w.path.c_str());
    if (ret < 0 || output == nullptr) {
        return Fail(FailureKind::EncoderSetup,
                    Printf("This FFmpeg cannot write %s files: %s", ExportFormatName(format),
                           AvError(ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND)));
    }
    w.output.reset(output);

    w.encoder.reset(avcodec_alloc_context3(encoderCodec));
    AVCodecContext* enc = w.encoder.get();
    if (enc == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    const AVCodecContext* dec = reader->decoder.get();
    const bool wide = dec->bits_per_raw_sample > 16 || av_get_bytes_per_sample(dec->sample_fmt) > 2;
    enc->sample_rate = kOutputRate;
    av_channel_layout_default(&enc->ch_layout, kOutputChannels);
    enc->sample_fmt = PickSampleFormat(*encoderCodec, wide);
    enc->time_base = AVRational{1, kOutputRate};
    if (row.rates == nullptr) {
        if (wide) enc->bits_per_raw_sample = 24;
    } else {
        enc->bit_rate = 1000LL * BitRateForLevel(request_.availability, request_.quality);
    }
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(enc, encoderCodec, nullptr);
    if (ret < 0) {
        return Fail(FailureKind::EncoderSetup,
                    Printf("The %s encoder refused 44,100 Hz stereo: %s", row.encoder, AvError(ret)));
    }
    w.frameSize = enc->frame_size > 0 ? enc->frame_size : kVariableFrameSize;
    w.smallLastFrame =
        enc->frame_size <= 0 || (encoderCodec->capabilities &
                                 (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) != 0;
    return true;
}

// The resampler: any rate to 44,100 Hz, mono spread to both channels at full level (the library's
// own mix would lower it by 3 dB), and the encoder's sample format. Also the FIFO and the frame
// that carry converted samples to the encoder.
bool Transcoder::OpenResampler() {
    const std::string& source = request_.source;
    TranscodeWriter& w = *writer;
    const AVCodecContext* dec = reader->decoder.get();
    AVCodecContext* enc = w.encoder.get();
    const int channels = dec->ch_layout.nb_channels;
    AVChannelLayout inLayout{};
    if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&inLayout, channels);
    } else {
        av_channel_layout_copy(&inLayout, &dec->ch_layout);
    }
    SwrContext* resampler = nullptr;
    int ret = swr_alloc_set_opts2(&resampler, &enc->ch_layout, enc->sample_fmt, kOutputRate, &inLayout,
                                  dec->sample_fmt, dec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    w.resampler.reset(resampler);
    if (ret >= 0 && channels == 1) {
        static constexpr double kSpread[kOutputChannels] = {1.0, 1.0};
        ret = swr_set_matrix(resampler, kSpread, 1);
    }
    if (ret >= 0) ret = swr_init(resampler);
    if (ret < 0)
        return Fail(FailureKind::EncoderSetup,
                    Printf("Couldn't set up the conversion of %s: %s", source, AvError(ret)));
    w.fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, kOutputChannels, w.frameSize));
    AVFrame* frame = w.frame.get();
    frame->nb_samples = w.frameSize;
    frame->format = enc->sample_fmt;
    frame->sample_rate = kOutputRate;
    if (w.fifo == nullptr || av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0) {
        return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    }
    return true;
}

// The target file, its one stream and the container's header.
bool Transcoder::OpenTarget() {
    const std::string& source = request_.source;
    const std::string& target = request_.target;
    TranscodeWriter& w = *writer;
    AVFormatContext* output = w.output.get();
    if (IsSameFile(source, target)) {
        return Fail(FailureKind::TargetOpen,
                    Printf("Couldn't open %s for write: it is the file being exported", target));
    }
    if (const Failure opened = w.file.Open(target); !opened.Ok()) {
        return Fail(FailureKind::TargetOpen, Printf("Couldn't open %s for write: %s", target, opened.text));
    }
    output->pb = OpenTargetIo(w.file);
    if (output->pb == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    int ret = 0;
    AVStream* outStream = avformat_new_stream(output, nullptr);
    if (outStream == nullptr) return Fail(FailureKind::EncoderSetup, AvError(AVERROR(ENOMEM)));
    ret = avcodec_parameters_from_context(outStream->codecpar, w.encoder.get());
    if (ret < 0) return Fail(FailureKind::EncoderSetup, AvError(ret));
    outStream->time_base = w.encoder->time_base;
    streamIndex = outStream->index;
    // Tags in each container's own terms (Vorbis comments in FLAC, iTunes atoms in .m4a, ID3v2 in
    // MP3); an ADTS stream has no header of its own, so AAC gets an ID3v2 tag before it, which
    // players and tag readers look for there.
    const AudioTags& tags = request_.tags;
    for (const auto& [key, value] : {std::pair{"title", &tags.title}, std::pair{"composer", &tags.composer},
                                     std::pair{"copyright", &tags.copyright}}) {
        if (!value->empty()) av_dict_set(&output->metadata, key, value->c_str(), 0);
    }
    AVDictionary* options = nullptr;
    if (request_.format == ExportFormat::Aac) av_dict_set(&options, "write_id3v2", "1", 0);
    // Setting the muxer up names the library itself as the encoder; the program's own name is put
    // in its place after that and before the header that carries it is written.
    ret = avformat_init_output(output, &options);
    av_dict_free(&options);
    if (ret >= 0) {
        av_dict_set(&output->metadata, "encoder", EncoderTagText().c_str(), 0);
        // The .m4a muxer writes its tool's name from a key of its own, at the end of the file.
        if (request_.format == ExportFormat::Alac)
            av_dict_set(&output->metadata, "encoding_tool", EncoderTagText().c_str(), 0);
        ret = avformat_write_header(output, nullptr);
    }
    if (ret < 0) {
        if (output->pb->error < 0) {
            return Fail(FailureKind::Write,
                        Printf("Couldn't write %s: %s", target, AvError(output->pb->error)));
        }
        return Fail(FailureKind::EncoderSetup, Printf("Couldn't start the %s file: %s",
                                                      ExportFormatName(request_.format), AvError(ret)));
    }
    return true;
}

bool Transcoder::Step(double mediaSeconds) {
    if (reader == nullptr || writer == nullptr) return false;
    Pipeline pipeline(*this);
    TranscodeReader& r = *reader;
    AVPacket* packet = r.packet.get();
    bool haveFirst = false;
    int64_t first = 0;
    for (;;) {
        const int ret = av_read_frame(r.input.get(), packet);
        if (ret == AVERROR_EOF) {
            if (!pipeline.Finish()) return Fail(failure.kind, std::move(failure.text));
            writer.reset();
            reader.reset();
            return false;
        }
        // A failing read ends the export: trying again would only fail again.
        if (ret < 0) {
            pipeline.ReadFailed(ret);
            return Fail(failure.kind, std::move(failure.text));
        }
        if (packet->stream_index != r.stream) {
            av_packet_unref(packet);
            continue;
        }
        // A file that ends in part of a frame: the part is dropped, as the decoder would refuse it.
        if (r.blockAlign > 0) packet->size -= packet->size % r.blockAlign;
        if (packet->size == 0) {
            av_packet_unref(packet);
            continue;
        }
        const int64_t timestamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const int sent = avcodec_send_packet(r.decoder.get(), packet);
        av_packet_unref(packet);
        if (sent < 0) {
            pipeline.ReadFailed(sent);
            return Fail(failure.kind, std::move(failure.text));
        }
        if (!pipeline.DrainDecoder()) return Fail(failure.kind, std::move(failure.text));
        if (timestamp == AV_NOPTS_VALUE) continue;
        position = static_cast<float>(timestamp * av_q2d(r.timeBase));
        if (!haveFirst) {
            first = timestamp;
            haveFirst = true;
        } else if ((timestamp - first) * av_q2d(r.timeBase) > mediaSeconds) {
            return true;
        }
    }
}
