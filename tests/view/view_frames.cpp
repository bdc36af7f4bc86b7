// view_frames: draws the notes view and the time bar off-screen, for screenshots and timing.
//
//   view_frames shot SONG.mid [--wav RENDER.wav] [--size WxH] [--names] [--flats] [--fit]
//                    [--speed STEP] [--play PART] [--letters] [--await] [--marks] [--chart]
//                    [--transpose N] OUT_PREFIX SECONDS...
//       one PNG per song time, OUT_PREFIX-<seconds>.png; the second before each moment is drawn
//       frame by frame first, so lit keys and their sparks are as they would be in playback.
//       --names also names the falling notes, --flats spells the black keys as flats, --fit fits
//       the keyboard to the song, and --speed sets the falling speed step (0 slowest, 2 usual).
//       Playing along: --play PART draws that part (1 or 2) as the player's; --letters shows the
//       computer keyboard's letters; --await marks what the song waits for at each time; --marks
//       plays the part up to each time as a scripted player would (a spread of early, late and
//       missed notes and a wrong key now and then) and shows follow mode's marks; --chart draws
//       the history of such passes, a day apart, over the notes; --transpose N moves the song's
//       notes N semitones, as they sound; with --await the frame is where the song holds after
//       each time
//   view_frames cost [--frames F] [--window] SONG.mid
//       F frames of the song from a quarter of its length on, at 1536 x 832; prints the time of
//       one frame of the notes view and time bar and of one frame that only clears, and their ratio.
//       --window: both drawn and presented in a window of that size (needs a display), the
//       clear-only frames changing colour so that each is presented whole
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "midi/play_follow.h"
#include "midi/play_wait.h"
#include "midi/qwerty_keyboard.h"
#include "platform/window.h"
#include "tests/view/scene.h"
#include "view/note_marks.h"
#include "view/progress_chart.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: view_frames shot SONG.mid [--wav RENDER.wav] [--size WxH] [--names] [--flats]\n"
                 "                         [--fit] [--speed STEP] [--play PART] [--letters] [--await]\n"
                 "                         [--marks] [--chart] [--loop FROM TO] [--transpose N]\n"
                 "                         OUT_PREFIX SECONDS...\n"
                 "       view_frames cost [--frames F] [--window] SONG.mid\n");
    return 2;
}

uint32_t Le(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// The per-column extremes of a 16-bit PCM WAV, as the overview reader keeps them.
bool ReadOverview(const std::string& path, SessionState& s) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    int channels = 0, bits = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = Le(&bytes[at + 4], 4);
        const size_t body = at + 8;
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            channels = static_cast<int>(Le(&bytes[body + 2], 2));
            bits = static_cast<int>(Le(&bytes[body + 14], 2));
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            data = &bytes[body];
            dataSize = std::min<size_t>(size, bytes.size() - body);
        }
        at = body + size + (size & 1);
    }
    if (data == nullptr || bits != 16 || channels < 1) return false;
    const size_t frames = dataSize / (2 * static_cast<size_t>(channels));
    if (frames == 0) return false;
    for (int c = 0; c < kOverviewColumns; ++c) {
        const size_t from = frames * static_cast<size_t>(c) / kOverviewColumns;
        const size_t to = std::max(from + 1, frames * static_cast<size_t>(c + 1) / kOverviewColumns);
        int16_t lo[2] = {32767, 32767}, hi[2] = {-32768, -32768};
        for (size_t f = from; f < to && f < frames; ++f) {
            for (int ch = 0; ch < 2; ++ch) {
                const int channel = std::min(ch, channels - 1);
                const auto v = static_cast<int16_t>(Le(data + (f * channels + channel) * 2, 2));
                lo[ch] = std::min(lo[ch], v);
                hi[ch] = std::max(hi[ch], v);
            }
        }
        s.overview.overviewMinLeft[c] = lo[0];
        s.overview.overviewMaxLeft[c] = hi[0];
        s.overview.overviewMinRight[c] = lo[1];
        s.overview.overviewMaxRight[c] = hi[1];
    }
    return true;
}

// What a scripted player does to show the play-along marks.
struct Learning {
    int part = -1;  // the part played, from 0; -1 for none
    bool await = false;
    bool marks = false;
    bool chart = false;
    double loopStart = -1.0, loopEnd = -1.0;  // a loop shown set, in song seconds
};

// The real moment's error of the scripted player's n-th note, in seconds; NaN for a note it
// leaves unstruck. A fixed pattern of five, so every screenshot is the same and a few seconds
// show every judgement: on time, late, early, missed (unless the spread is narrow), on time.
double ScriptedError(size_t n, double spread) {
    static constexpr double kPattern[5] = {0.0, 0.12, -0.11, 0.03, 0.02};
    if (n % 5 == 3 && spread > 0.5) return std::nan("");
    return kPattern[n % 5] * spread;
}

// Plays the part from the start to `until` as the scripted player: the marks follow mode gives.
PlayScore PlayAlong(const SongData& song, const PlayedParts& parts, double until, double spread,
                    NoteMarks* marks) {
    FollowScorer score;
    score.Load(song, parts);
    const std::vector<PlayNote>& notes = score.Notes();
    size_t next = 0;
    for (double t = 0.0; t <= until; t += 0.005) {
        for (; next < notes.size() && (std::isnan(ScriptedError(next, spread)) ||
                                       notes[next].start + ScriptedError(next, spread) <= t);
             ++next) {
            const double error = ScriptedError(next, spread);
            if (std::isnan(error)) continue;
            const JudgedKey k = score.KeyDown(notes[next].key, t, 70 + static_cast<int>(next % 5) * 8);
            score.KeyUp(notes[next].key);
            if (marks != nullptr && k.note >= 0)
                marks->Add(notes[static_cast<size_t>(k.note)].start, notes[next].key, k.judgement);
            if (next % 7 == 5) {
                (void)score.KeyDown(notes[next].key + 1, t, 60);  // a neighbour struck by mistake
                score.KeyUp(notes[next].key + 1);
                if (marks != nullptr)
                    marks->Add(static_cast<float>(t), notes[next].key + 1, Judgement::Wrong);
            }
        }
        const size_t missedBefore = static_cast<size_t>(score.Pass().missed);
        (void)score.Advance(t, t);
        if (marks != nullptr && static_cast<size_t>(score.Pass().missed) > missedBefore) {
            for (size_t i = 0; i < notes.size() && notes[i].start < t; ++i)
                if (score.JudgementOf(i) == Judgement::Missed && !marks->Missed(notes[i].key, notes[i].start))
                    marks->Add(notes[i].start, notes[i].key, Judgement::Missed);
        }
    }
    return score.Pass();
}

int Shot(int argc, char** argv) {
    std::string song, wav, prefix;
    int width = 1536, height = 832;
    std::vector<float> times;
    NotesViewOptions options;
    Learning learn;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--wav" && i + 1 < argc) {
            wav = argv[++i];
        } else if (a == "--names") {
            options.labels.onNotes = true;
        } else if (a == "--flats") {
            options.labels.flats = true;
        } else if (a == "--fit") {
            options.fitSong = true;
        } else if (a == "--speed" && i + 1 < argc) {
            options.fallSpeed = std::atoi(argv[++i]);
        } else if (a == "--play" && i + 1 < argc) {
            learn.part = std::atoi(argv[++i]) - 1;
        } else if (a == "--letters") {
            options.letterBase = QwertyKeyboard::kFirstBase;
        } else if (a == "--await") {
            learn.await = true;
        } else if (a == "--marks") {
            learn.marks = true;
        } else if (a == "--chart") {
            learn.chart = true;
        } else if (a == "--loop" && i + 2 < argc) {
            learn.loopStart = std::strtod(argv[i + 1], nullptr);
            learn.loopEnd = std::strtod(argv[i + 2], nullptr);
            i += 2;
        } else if (a == "--transpose" && i + 1 < argc) {
            options.transpose = std::atoi(argv[++i]);
        } else if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) return Usage();
        } else if (song.empty()) {
            song = a;
        } else if (prefix.empty()) {
            prefix = a;
        } else {
            times.push_back(std::strtof(a.c_str(), nullptr));
        }
    }
    if (song.empty() || prefix.empty() || times.empty()) return Usage();

    viewtest::Scene scene(width, height);
    if (scene.target == nullptr) {
        std::fprintf(stderr, "view_frames: %s\n", scene.error.c_str());
        return 1;
    }
    PlayedParts played;
    if (learn.part >= 0 && learn.part < kMaxParts) {
        played.set(static_cast<size_t>(learn.part));
        options.playedParts = played;
        options.quietParts = played;  // the song leaves the player's part to the player
    }
    scene.controller.viewOptions = options;
    auto data = std::make_unique<SongData>();
    if (!ReadMidiFile(*data, song)) {
        std::fprintf(stderr, "view_frames: cannot read %s (status %d)\n", song.c_str(), data->status);
        return 1;
    }
    const SongData& read = *data;
    scene.SetSong(std::move(data));
    NoteMarks marks;
    std::vector<PassRecord> chartHistory;
    if (learn.chart && played.any()) {
        // Six passes over three days, the player's spread narrowing as they practise.
        std::vector<PassRecord> history;
        const double spreads[6] = {1.6, 1.4, 1.1, 0.9, 0.6, 0.4};
        for (int i = 0; i < 6; ++i) {
            PlayScore pass = PlayAlong(read, played, read.duration, spreads[i], nullptr);
            history.push_back({PlayedPartsLabel(played), 1765000000 + (i / 2) * 86400 + i * 600, pass});
        }
        // Drawn by the view itself, under the last pass's score, as the window shows it.
        chartHistory = std::move(history);
        scene.controller.viewOptions.history = &chartHistory;
        scene.controller.viewOptions.historyParts = PlayedPartsLabel(played);
        scene.controller.viewOptions.scoreText = PassSummaryText(chartHistory.back().score);
    }
    scene.loopStart = learn.loopStart;
    scene.loopEnd = learn.loopEnd;
    if (!wav.empty() && !ReadOverview(wav, scene.controller.shared)) {
        std::fprintf(stderr, "view_frames: %s is not a 16-bit PCM WAV\n", wav.c_str());
        return 1;
    }
    scene.Frame(-1);  // the frame that finds the new song
    for (float t : times) {
        const float asked = t;
        scene.view->ClearLitKeys();
        NotesViewOptions& shown = scene.controller.viewOptions;
        if (learn.await && played.any()) {
            WaitMode wait;
            wait.Load(read, played);
            wait.Seek(t);
            // The song runs on from the time and holds at the first step the player has not struck.
            const WaitState& state = wait.Advance(t + 10.0, 10.0);
            shown.awaitedKeys = state.wanted;
            shown.awaitedOnset = state.holding ? static_cast<float>(state.stepOnset) : -1.0f;
            if (state.holding) t = static_cast<float>(state.songSeconds);
        }
        if (learn.marks && played.any()) {
            marks.Clear();
            (void)PlayAlong(read, played, t, 1.0, &marks);
            shown.marks = &marks;
        }
        for (float s = std::max(-1.0f, t - 1.0f); s < t; s += 1.0f / 60.0f) scene.Frame(s);
        scene.Frame(t);
        char name[64];
        std::snprintf(name, sizeof name, "-%05.1f.png", static_cast<double>(asked));
        if (!scene.target->SavePng(prefix + name)) return 1;
        std::printf("%s%s\n", prefix.c_str(), name);
    }
    return 0;
}

int Cost(int argc, char** argv) {
    std::string song;
    int frames = 600;
    bool onWindow = false;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--window") {
            onWindow = true;
        } else if (song.empty()) {
            song = a;
        } else {
            return Usage();
        }
    }
    if (song.empty()) return Usage();
    constexpr int kWidth = 1536, kHeight = 832;
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::SdlRenderTarget> windowTarget;
    if (onWindow) {
        Made<platform::Window> madeWindow = platform::Window::Create("view_frames", 0, 0, kWidth, kHeight);
        std::string error = madeWindow.failure.text;
        window = std::move(madeWindow.value);
        if (window != nullptr) {
            window->Show();
            Made<platform::WindowRenderTarget> madeTarget =
                platform::WindowRenderTarget::Create(window->Handle(), kWidth, kHeight);
            error = madeTarget.failure.text;
            windowTarget = std::move(madeTarget.value);
        }
        if (windowTarget == nullptr) {
            std::fprintf(stderr, "view_frames: no window to draw in: %s\n", error.c_str());
            return 1;
        }
    }
    viewtest::Scene scene(kWidth, kHeight, true, std::move(windowTarget));
    if (scene.target == nullptr) {
        std::fprintf(stderr, "view_frames: %s\n", scene.error.c_str());
        return 1;
    }
    auto data = std::make_unique<SongData>();
    if (!ReadMidiFile(*data, song)) {
        std::fprintf(stderr, "view_frames: cannot read %s (status %d)\n", song.c_str(), data->status);
        return 1;
    }
    const float seconds = static_cast<float>(data->duration);
    long long notes = 0;
    for (int p = 0; p < std::clamp(data->partCount, 0, kMaxParts); ++p)
        notes += std::max(data->parts[p].noteCount, 0);
    scene.SetSong(std::move(data));
    // A loud, busy waveform: every column of the time bar is drawn at full height.
    SessionState& s = scene.controller.shared;
    for (int c = 0; c < kOverviewColumns; ++c) {
        const double a = 20000.0 * (0.6 + 0.4 * std::sin(c * 0.05)) * (0.5 + 0.5 * std::sin(c * 0.0031));
        s.overview.overviewMinLeft[c] = s.overview.overviewMinRight[c] = static_cast<int16_t>(-a);
        s.overview.overviewMaxLeft[c] = s.overview.overviewMaxRight[c] = static_cast<int16_t>(a * 0.9);
    }
    scene.Frame(-1);

    using Clock = std::chrono::steady_clock;
    // Batches of the two kinds of frame take turns, so that both see the same machine load.
    double full = 0, empty = 0;
    float t = seconds * 0.25f;
    constexpr int kBatch = 30;
    int counted = 0;
    size_t bars = 0;  // drawn over all the frames: what a frame's cost follows
    for (; counted < frames; counted += kBatch) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            scene.Frame(t);
            bars += scene.view->shownBars.size();
            t += 1.0f / 60.0f;
        }
        const auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) scene.EmptyFrame(onWindow);
        const auto t2 = Clock::now();
        full += std::chrono::duration<double, std::milli>(t1 - t0).count();
        empty += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    std::printf("song: %lld notes over %.1f s (%.1f notes per second); %.0f bars a frame\n", notes,
                static_cast<double>(seconds), static_cast<double>(notes) / static_cast<double>(seconds),
                static_cast<double>(bars) / counted);
    const char* where = onWindow ? ", drawn and presented in a window" : "";
    std::printf("full frame (notes view and time bar%s): %8.3f ms\n", where, full / counted);
    std::printf("clear-only frame (reference%s):         %8.3f ms\n", where, empty / counted);
    std::printf("ratio: %.2f\n", full / empty);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "shot") return Shot(argc - 2, argv + 2);
    if (command == "cost") return Cost(argc - 2, argv + 2);
    return Usage();
}
