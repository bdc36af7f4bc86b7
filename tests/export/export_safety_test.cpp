// What every export promises about the files around it: the target is replaced only by a complete
// file, whatever route names it and however the export ends; a source that is no WAV with audio
// is refused before anything is written.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "../audio/wav_bytes.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "export/transcoder.h"
#include "export_fixture.h"

using namespace export_test;

namespace {

constexpr ExportFormat kAllFormats[] = {ExportFormat::Wav,  ExportFormat::Ogg, ExportFormat::Flac,
                                        ExportFormat::Alac, ExportFormat::Aac, ExportFormat::Mp3};
const std::vector<uint8_t> kOld = {'o', 'l', 'd', '\n'};

// One export in this process, as the window runs it: a job on a thread of its own.
Failure Export(ExportFormat format, const std::string& source, const std::string& target) {
    FormatAvailability availability{};
    ProbeEncoders(availability);
    ExportRequest request;
    request.source = source;
    request.target = target;
    request.format = format;
    request.availability = AvailabilityOf(availability, format);
    ExportJob job;
    (void)job.Start(std::move(request));
    return job.Result();
}

// Names in the folder that only an unfinished export would leave.
std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".dorvik-") != std::string::npos) found.push_back(name);
    }
    return found;
}

mode_t KindOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

TEST(ExportSafety, OutputPaths) {
    ScratchFolder dir;
    const std::vector<uint8_t> song = MakeWav(2, 44100, 22050);
    WriteFile(dir / "in.wav", song);
    std::filesystem::create_directory(dir / "sub");
    for (ExportFormat format : kAllFormats) {
        const std::string ext = ExportFormatExtension(format);
        SCOPED_TRACE(ExportFormatName(format));
        WriteFile(dir / ("kept" + ext), kOld);
        ::chmod((dir / ("kept" + ext)).c_str(), 0600);
        WriteFile(dir / ("real" + ext), kOld);
        ::symlink((dir / ("real" + ext)).c_str(), (dir / ("link" + ext)).c_str());
        ::link((dir / "in.wav").c_str(), (dir / ("hard" + ext)).c_str());
        ::symlink((dir / "in.wav").c_str(), (dir / ("soft" + ext)).c_str());
        const bool device = ::mknod((dir / ("null" + ext)).c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        ::mkfifo((dir / ("fifo" + ext)).c_str(), 0644);
        std::filesystem::create_directory(dir / ("folder" + ext));
        const FailureKind sameFile =
            format == ExportFormat::Wav ? FailureKind::None : FailureKind::TargetOpen;

        struct Case {
            const char* name;
            std::string target;
            FailureKind code;
            std::string replaced;  // the file that must now hold the export; "" when none
            mode_t kind;           // what the target must still be afterwards
        };
        const Case cases[] = {
            {"replaces a 0600 file", dir / ("kept" + ext), FailureKind::None, dir / ("kept" + ext), S_IFREG},
            {"255-byte name", dir / (std::string(255 - ext.size(), 'n') + ext), FailureKind::None,
             dir / (std::string(255 - ext.size(), 'n') + ext), S_IFREG},
            {"through a link", dir / ("link" + ext), FailureKind::None, dir / ("real" + ext), S_IFLNK},
            {"the source by a hard link", dir / ("hard" + ext), sameFile, "", S_IFREG},
            {"the source by a link", dir / ("soft" + ext), sameFile, "", S_IFLNK},
            {"the source by ..", dir / ("sub/../hard" + ext), sameFile, "", S_IFREG},
            {"a device", dir / ("null" + ext), FailureKind::None, "", S_IFCHR},
            {"a pipe nobody reads", dir / ("fifo" + ext), FailureKind::TargetOpen, "", S_IFIFO},
            {"a folder", dir / ("folder" + ext), FailureKind::TargetOpen, "", S_IFDIR},
        };
        for (const Case& c : cases) {
            if (c.kind == S_IFCHR && !device) continue;  // no device nodes without the right to make them
            SCOPED_TRACE(c.name);
            const Failure r = Export(format, dir / "in.wav", c.target);
            EXPECT_EQ(r.kind, c.code) << r.text;
            EXPECT_EQ(r.Ok(), r.text.empty()) << r.text;
            EXPECT_EQ(KindOf(c.target), c.kind);
            if (!c.replaced.empty()) {
                const std::vector<uint8_t> now = ReadFile(c.replaced);
                if (format == ExportFormat::Wav) {
                    EXPECT_EQ(now, song);
                } else {
                    EXPECT_NE(ProbeStream(c.replaced, "codec_name"), "");
                }
            }
        }
        struct stat info {};
        ::stat((dir / ("kept" + ext)).c_str(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "the replaced file's mode";
        EXPECT_EQ(ReadFile(dir / "in.wav"), song) << "the source";
        EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
    }
}

// Waits until the child has opened a file in `folder` other than the source, or has ended.
void AwaitOutputOpened(pid_t child, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(child) + "/fd";
    for (int i = 0; i < 5000; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
            const std::string to = std::filesystem::read_symlink(entry.path(), error).string();
            if (to.rfind(folder, 0) == 0 && to.find("in.wav") == std::string::npos) return;
        }
        if (error) return;  // the child is gone
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(ExportSafety, InterruptedExportsLeaveTheOldFile) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 20 * 44100));
    for (ExportFormat format : kAllFormats) {
        const std::string out = dir / (std::string("out") + ExportFormatExtension(format));
        SCOPED_TRACE(ExportFormatName(format));
        for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
            SCOPED_TRACE(signal);
            WriteFile(out, kOld);
            const pid_t child = ::fork();
            if (child == 0) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                const std::string source = dir / "in.wav";
                ::execl(DORVIK_MIDI_BINARY, "dorvik-midi", "export", source.c_str(), "-o", out.c_str(),
                        static_cast<char*>(nullptr));
                ::_exit(127);
            }
            AwaitOutputOpened(child, dir.path());
            ::kill(child, signal);
            int status = 0;
            ::waitpid(child, &status, 0);
            // Either the signal ended the export and the old file stands, or the export had
            // already put the new file in place (the signal may still end the process after
            // that) and the new file is whole: never anything in between.
            if (WIFSIGNALED(status)) {
                EXPECT_EQ(WTERMSIG(status), signal);
                if (ReadFile(out) != kOld) {
                    EXPECT_GT(DecodeStereo(out).size(), 20u * 44100);
                }
            } else {
                EXPECT_EQ(WEXITSTATUS(status), 0);
                EXPECT_GT(DecodeStereo(out).size(), 20u * 44100);
            }
            // SIGKILL runs no clean-up: in the instant between the link and the rename it leaves
            // the name, which the next export into the folder (the one just below) removes.
            if (signal != SIGKILL) {
                EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
            }
        }
        // A disk that fills up part-way.
        WriteFile(out, kOld);
        Failure r;
        {
            FileSizeLimit limit(20000);
            r = Export(format, dir / "in.wav", out);
        }
        EXPECT_FALSE(r.Ok());
        EXPECT_NE(r.text.find("File too large"), std::string::npos) << r.text;
        EXPECT_EQ(ReadFile(out), kOld);
        EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
    }
}

TEST(ExportSafety, BadSourcesAreRefused) {
    ScratchFolder dir;
    WriteFile(dir / "picture.png",
              {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    WriteFile(dir / "noise.wav", noise);
    WriteFile(dir / "song.mid", {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                 96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0});
    WriteFile(dir / "header-only.wav", MakeWav(2, 44100, 0));
    std::vector<uint8_t> promised = MakeWav(2, 44100, 1000);
    promised.resize(44);  // the header claims 1,000 frames; none are there
    WriteFile(dir / "promised.wav", promised);
    WriteFile(dir / "half-frame-only.wav",
              wavtest::Riff({wavtest::Chunk("fmt ", wavtest::FmtBody(1, 2, 44100, 16)),
                             wavtest::Chunk("data", {1, 2})}));
    // A LIST chunk, before the samples, that claims gigabytes the file does not have; one of its
    // tags claims 1.8 GB too, which the demuxer would allocate before reading.
    WriteFile(dir / "list-past-end.wav",
              wavtest::Riff({wavtest::Chunk("fmt ", wavtest::FmtBody(1, 2, 44100, 16)),
                             wavtest::Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0, 0, 0, 0x70},
                                            0x7A000005),
                             wavtest::Chunk("data", wavtest::Bytes(64))}));
    WriteFile(dir / "take:list-after-data.wav",
              wavtest::Riff({wavtest::Chunk("fmt ", wavtest::FmtBody(1, 2, 44100, 16)),
                             wavtest::Chunk("data", wavtest::Bytes(64)),
                             wavtest::Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0, 0, 0, 0x70},
                                            0x7A000005)}));
    ::mkfifo((dir / "fifo.wav").c_str(), 0644);
    std::filesystem::create_directory(dir / "folder.wav");
    const std::string sources[] = {dir / "picture.png",       dir / "noise.wav",
                                   dir / "song.mid",          dir / "header-only.wav",
                                   dir / "promised.wav",      dir / "half-frame-only.wav",
                                   dir / "list-past-end.wav", dir / "fifo.wav",
                                   dir / "folder.wav",        "/dev/zero"};
    for (ExportFormat format : kAllFormats) {
        const std::string out = dir / (std::string("out") + ExportFormatExtension(format));
        WriteFile(out, kOld);
        for (const std::string& source : sources) {
            SCOPED_TRACE(std::string(ExportFormatName(format)) + " from " + source);
            const Failure r = Export(format, source, out);
            EXPECT_FALSE(r.Ok());
            EXPECT_NE(r.text, "");
            EXPECT_EQ(ReadFile(out), kOld);
        }
    }
    // The same claims after the samples, in a file whose name is not a protocol: the samples are
    // all that is read.
    for (ExportFormat format : kAllFormats) {
        SCOPED_TRACE(std::string(ExportFormatName(format)) + " from a WAV with a LIST after its samples");
        const Failure r = Export(format, dir / "take:list-after-data.wav",
                                 dir / (std::string("after") + ExportFormatExtension(format)));
        EXPECT_TRUE(r.Ok()) << r.text;
    }
    EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1024 * 1024) << "kB at the peak: a chunk's claimed size was allocated";
}

// Sources the transcoder always read, now read by the Ogg Vorbis encoder too; and a half frame at
// the end of the data, which every format drops.
TEST(ExportSafety, EveryFormatReadsTheSameSources) {
    using namespace wavtest;
    constexpr uint32_t kFrames = 8192;
    // A 441 Hz square wave at half of full scale, in the given sample encoding.
    const auto samples = [](int bits, bool isFloat, uint32_t frames) {
        Bytes b;
        for (uint32_t i = 0; i < frames; ++i) {
            const double v = (i / 50) % 2 == 0 ? 0.5 : -0.5;
            for (int c = 0; c < 2; ++c) {
                if (isFloat) {
                    const float f = static_cast<float>(v);
                    uint32_t u;
                    std::memcpy(&u, &f, 4);
                    PutU32(b, u);
                } else if (bits == 8) {
                    b.push_back(static_cast<uint8_t>(128 + v * 128));
                } else {
                    const auto s = static_cast<int32_t>(v * std::ldexp(1.0, bits - 1));
                    for (int k = 0; k < bits / 8; ++k) b.push_back(static_cast<uint8_t>(s >> (8 * k)));
                }
            }
        }
        return b;
    };
    Bytes fmt18 = FmtBody(1, 2, 44100, 16);
    PutU16(fmt18, 0);
    Bytes extensible = FmtBody(0xFFFE, 2, 44100, 24);
    PutU16(extensible, 22);
    PutU16(extensible, 24);
    PutU32(extensible, 3);
    const uint8_t pcmGuid[] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    extensible.insert(extensible.end(), std::begin(pcmGuid), std::end(pcmGuid));
    Bytes floats = FmtBody(3, 2, 44100, 32);
    PutU16(floats, 0);
    Bytes halfFrame = samples(16, false, kFrames);
    halfFrame.insert(halfFrame.end(), {7, 7});
    const Bytes list = Chunk("LIST", Bytes(4000, 0x5A));
    struct Case {
        const char* name;
        Bytes file;
        bool everyFormat;  // checked for every format, not only Ogg Vorbis
    };
    const Case cases[] = {
        {"LIST chunk first",
         Riff({list, Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", samples(16, false, kFrames))}),
         false},
        {"18-byte fmt", Riff({Chunk("fmt ", fmt18), Chunk("data", samples(16, false, kFrames))}), false},
        {"extensible 24-bit", Riff({Chunk("fmt ", extensible), Chunk("data", samples(24, false, kFrames))}),
         false},
        {"8-bit", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 8)), Chunk("data", samples(8, false, kFrames))}),
         false},
        {"float", Riff({Chunk("fmt ", floats), Chunk("data", samples(32, true, kFrames))}), false},
        {"metadata after the data",
         Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", samples(16, false, kFrames)), list}),
         false},
        {"half a frame at the end", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", halfFrame)}),
         true},
    };
    ScratchFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wavtest::WriteFile(dir / "in.wav", c.file);
        for (ExportFormat format : kAllFormats) {
            if (format == ExportFormat::Wav || (!c.everyFormat && format != ExportFormat::Ogg)) continue;
            SCOPED_TRACE(ExportFormatName(format));
            const std::string out = dir / (std::string("out") + ExportFormatExtension(format));
            const Failure r = Export(format, dir / "in.wav", out);
            ASSERT_TRUE(r.Ok()) << r.text;
            if (format != ExportFormat::Ogg) continue;
            EXPECT_EQ(OggFrames(out), static_cast<long>(kFrames));
            // Scaled as the transcoder's library scales: a wave at half of full scale stays there.
            const std::vector<int16_t> decoded = DecodeStereo(out);
            double power = 0;
            for (int16_t s : decoded) power += static_cast<double>(s) * s;
            EXPECT_NEAR(std::sqrt(power / static_cast<double>(decoded.size())), 16384, 16384 * 0.1);
        }
    }
}

}  // namespace
