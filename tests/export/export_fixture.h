// Shared material for the export tests: generated WAV files, scratch folders, targets that
// cannot be written, and ffprobe/ffmpeg as the judges of what an exporter wrote.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace export_test {

// A WAV with the canonical 44-byte header. The samples are a tone plus pseudo-random noise, so
// that lossy encoders have to spend the bit rate they are given; with two or more channels each
// channel differs.
inline std::vector<uint8_t> MakeWav(int channels, uint32_t rate, uint32_t frames, int bits = 16) {
    const uint32_t bytesPerSample = static_cast<uint32_t>(bits / 8);
    const uint32_t dataBytes = frames * static_cast<uint32_t>(channels) * bytesPerSample;
    // Written through an index into a vector of the final size: g++ 12 misreads a run of
    // push_backs as an overflow.
    std::vector<uint8_t> out(44 + dataBytes);
    size_t at = 0;
    auto put = [&out, &at](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out[at++] = static_cast<uint8_t>(value >> (8 * i));
    };
    auto tag = [&out, &at](const char* t) {
        for (int i = 0; i < 4; ++i) out[at++] = static_cast<uint8_t>(t[i]);
    };
    tag("RIFF");
    put(36 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);
    put(static_cast<uint32_t>(channels), 2);
    put(rate, 4);
    put(rate * static_cast<uint32_t>(channels) * bytesPerSample, 4);
    put(static_cast<uint32_t>(channels) * bytesPerSample, 2);
    put(static_cast<uint32_t>(bits), 2);
    tag("data");
    put(dataBytes, 4);
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const int tone = (i * static_cast<uint32_t>(440 + 110 * c) * 64 / rate) % 64 < 32 ? 6000 : -6000;
            const int sample = tone + static_cast<int>(noise >> 19) - 4096;
            if (bits == 16) {
                put(static_cast<uint32_t>(static_cast<uint16_t>(sample)), 2);
            } else {
                put(static_cast<uint32_t>(128 + sample / 256), 1);
            }
        }
    }
    return out;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/dorvik-export-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A folder in which no file can be created: a read-only folder of our own when the test runs as
// a user the permissions hold for, else (as root) /sys. Empty when neither works.
inline std::string ReadOnlyFolder(const ScratchFolder& scratch) {
    const std::string folder = scratch / "read-only";
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0555);
    for (const std::string& candidate : {folder, std::string("/sys")}) {
        const std::string probe = candidate + "/probe";
        FILE* f = std::fopen(probe.c_str(), "wb");
        if (f == nullptr) return candidate;
        std::fclose(f);
        std::remove(probe.c_str());
    }
    return "";
}

// Lowers the largest file this process may write, so that a write past `bytes` fails as on a full
// disk (EFBIG), leaving a real partial file behind unless the exporter removes it.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

// Standard output of a shell command; empty when it fails to start.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

inline std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

// One field of the first audio stream as ffprobe reports it ("" when absent).
inline std::string ProbeStream(const std::string& path, const std::string& field) {
    std::string value = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
                                   " -of default=noprint_wrappers=1:nokey=1 " + Quote(path));
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

// The file decoded by ffmpeg to 16-bit stereo at its own rate: interleaved samples.
inline std::vector<int16_t> DecodeStereo(const std::string& path) {
    const std::string raw = RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s16le -ac 2 -");
    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                          static_cast<uint8_t>(raw[2 * i + 1]) << 8);
    }
    return samples;
}

// Frames of an Ogg Vorbis file as the reference decoder counts them. (FFmpeg's Vorbis decoder
// drops the first 128 frames of a very short stream.)
inline long OggFrames(const std::string& path) {
    return static_cast<long>(RunCommand("oggdec -Q -R -o - " + Quote(path)).size() / 4);
}

}  // namespace export_test
