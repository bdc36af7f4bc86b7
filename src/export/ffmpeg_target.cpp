#include "export/ffmpeg_target.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/atomic_file.h"

namespace {

// The muxer writes and seeks through these, on the target's file.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WriteTarget(void* opaque, const uint8_t* data, int size) {
#else
int WriteTarget(void* opaque, uint8_t* data, int size) {
#endif
    const int fd = static_cast<platform::AtomicFile*>(opaque)->Fd();
    size_t left = static_cast<size_t>(size);
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        data += n;
        left -= static_cast<size_t>(n);
    }
    return size;
}

int64_t SeekTarget(void* opaque, int64_t offset, int whence) {
    const int fd = static_cast<platform::AtomicFile*>(opaque)->Fd();
    if ((whence & AVSEEK_SIZE) != 0) {
        struct stat info {};
        return ::fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

}  // namespace

void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

AVIOContext* OpenTargetIo(platform::AtomicFile& file) {
    constexpr int kIoBufferBytes = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, kIoBufferBytes, 1, &file, nullptr, WriteTarget, SeekTarget);
    if (io == nullptr) av_free(buffer);
    return io;
}

void FreeTargetIo(AVIOContext*& io) {
    if (io == nullptr) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
}

std::string Printf(const char* format, const std::string& a, const std::string& b) {
    const int length = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, a.c_str(), b.c_str());
    return text;
}

void OutputFree::operator()(AVFormatContext* c) const {
    FreeTargetIo(c->pb);
    avformat_free_context(c);
}
void CodecFree::operator()(AVCodecContext* c) const {
    avcodec_free_context(&c);
}
void FrameFree::operator()(AVFrame* f) const {
    av_frame_free(&f);
}
void PacketFree::operator()(AVPacket* p) const {
    av_packet_free(&p);
}
