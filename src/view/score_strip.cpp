// Contents: the strip's size; the song and its notation; engraving into systems; the place of a
// tick and of a point; drawing.
#include "view/score_strip.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "midi/note_timeline.h"
#include "notation/score_song.h"

namespace {

// A grand staff's band is 29 staff spaces tall (7 above, two staves of 4 with 8 between, 6 below);
// a single staff's is 17.
constexpr float kSpacesAbove = 7.0f, kSpacesBelow = 6.0f, kStaffSpaces = 4.0f, kStaffGapSpaces = 8.0f;
constexpr float kLargestSpace = 9.0f;   // past this the music is big enough: the band is centred
constexpr float kSmallestSpace = 3.0f;  // under this a head is a smudge; the band is cut instead
constexpr int kSteadyFramesBeforeEngraving = 8;
// The most of the falling notes' height that staves of several parts may cover: they keep the rest.
constexpr float kMostStaffShare = 0.5f;

float BandSpaces(size_t staves) {
    const auto n = static_cast<float>(std::max<size_t>(staves, 1));
    return kSpacesAbove + kSpacesBelow + n * kStaffSpaces + (n - 1) * kStaffGapSpaces;
}

constexpr ColourF kPaper{0.957f, 0.945f, 0.918f, 1.0f};
constexpr ColourF kInk{0.08f, 0.08f, 0.10f, 1.0f};
constexpr ColourF kBarNumber{0.35f, 0.35f, 0.40f, 1.0f};
constexpr ColourF kCursor{0.10f, 0.45f, 0.95f, 0.55f};
constexpr ColourF kLoopBand{0.2f, 0.6f, 1.0f, 0.18f};
constexpr ColourF kLoopEdge{0.2f, 0.55f, 0.95f, 0.8f};
// The hands' colours as their keys are lit (the first hand's amber, the second's green), deepened
// to stand out on paper; voices in a blue.
constexpr ColourF kLitHand[2] = {{0.85f, 0.55f, 0.0f, 1.0f}, {0.36f, 0.60f, 0.0f, 1.0f}};
constexpr ColourF kLitVoice{0.12f, 0.37f, 0.78f, 1.0f};

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// A part's name beside its staff: as the music's size, but never too small to read.
float NameSize(float space) {
    return std::max(9.0f, 1.6f * space);
}

uint64_t Mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
    return h;
}

// Lines narrower than a unit would fall between pixels and vanish: each is drawn at least one
// unit wide, and a straight one on the middle of a pixel row or column.
float Snap(float v) {
    return std::floor(v) + 0.5f;
}

}  // namespace

float ScoreStripHeight(float notesHeight, size_t staves) {
    const float grand = std::clamp(std::round(notesHeight * 0.36f), 0.0f, BandSpaces(2) * kLargestSpace);
    if (staves <= 2) return grand;
    // More staves at the grand staff's size, as far as the share allows; smaller past it.
    const float wanted = grand * BandSpaces(staves) / BandSpaces(2);
    return std::clamp(std::round(std::min(wanted, notesHeight * kMostStaffShare)), 0.0f,
                      BandSpaces(staves) * kLargestSpace);
}

void ScoreStrip::SetSong(const SongData* song, const TempoMap* tempo, const uint8_t* midi, size_t size) {
    uint64_t stamp = 0;
    if (song != nullptr && tempo != nullptr) {
        stamp = Mix(Mix(reinterpret_cast<uintptr_t>(song), reinterpret_cast<uintptr_t>(tempo)),
                    static_cast<uint64_t>(song->reading));
        for (int p = 0; p < song->partCount; ++p) {
            stamp = Mix(stamp, static_cast<uint64_t>(song->parts[p].noteCount));
            stamp = Mix(stamp, reinterpret_cast<uintptr_t>(song->parts[p].notes));
        }
        stamp |= 1;  // never 0, which means no song
    }
    if (stamp == songStamp_) return;
    songStamp_ = stamp;
    song_ = stamp != 0 ? song : nullptr;
    tempo_ = stamp != 0 ? tempo : nullptr;
    // The signatures are read when the strip is first laid out: a walk of every event of the file,
    // which a hidden strip never needs.
    midi_ = stamp != 0 ? midi : nullptr;
    midiSize_ = midi_ != nullptr ? size : 0;
    metersRead_ = false;
    meters_ = SongMeters{};
    Forget();
}

void ScoreStrip::SetParts(const std::vector<int32_t>& parts) {
    if (parts == choice_.parts) return;
    choice_.parts = parts;
    // Both hands are shown whatever part is chosen: nothing to lay out again.
    if (song_ != nullptr && song_->reading != ReadingHands) Forget();
}

size_t ScoreStrip::StavesAsked() const {
    if (song_ == nullptr) return 1;
    const int32_t parts = song_->PartsInUse();
    if (song_->reading == ReadingHands && parts >= 2) return 2;
    std::vector<int32_t> shown;
    for (int32_t p : choice_.parts) {
        if (p >= 0 && p < parts && std::find(shown.begin(), shown.end(), p) == shown.end())
            shown.push_back(p);
    }
    return std::max<size_t>(shown.size(), 1);
}

void ScoreStrip::Forget() {
    laidOut_ = false;
    layout_ = ScoreLayout{};
    systems_.clear();
    writtenTick_.clear();
    engravedWidth_ = engravedHeight_ = -1;
    shownSystem_ = -1;
}

void ScoreStrip::LayOut() {
    laidOut_ = true;
    if (song_ == nullptr || tempo_ == nullptr) return;
    if (!metersRead_ && midi_ != nullptr) meters_ = ReadSongMeters(midi_, midiSize_);
    metersRead_ = true;
    score_ = ScoreSongFrom(*song_, *tempo_, meters_);
    layout_ = LayOutScore(score_, choice_);
    // The tick each head's written onset stands for: the line meets a head when its note is due.
    writtenTick_.assign(score_.notes.size(), -1);
    const int64_t division = layout_.division > 0 ? layout_.division : 480;
    for (const ScoreMeasure& m : layout_.measures) {
        for (const StaffMeasure& st : m.staves) {
            for (const ScoreVoice& v : st.voices) {
                for (const ScoreEvent& e : v.events) {
                    const int64_t tick =
                        m.startTick + static_cast<int64_t>(e.start) * division / kUnitsPerQuarter;
                    for (const ScoreHead& h : e.heads) {
                        if (h.note >= 0 && static_cast<size_t>(h.note) < writtenTick_.size() &&
                            writtenTick_[static_cast<size_t>(h.note)] < 0 && !h.tieStop)
                            writtenTick_[static_cast<size_t>(h.note)] = tick;
                    }
                }
            }
        }
    }
}

void ScoreStrip::Engrave() {
    engravedWidth_ = width;
    engravedHeight_ = height;
    systems_.clear();
    shownSystem_ = -1;
    if (layout_.measures.empty() || !(width > 0) || !(height > 0)) return;
    // The staves drawn smaller to fit, down to the smallest size that reads; past that the first
    // staves that fit are engraved and the others left out.
    size_t staves = std::max<size_t>(layout_.staves.size(), 1);
    while (staves > 1 && height / BandSpaces(staves) < kSmallestSpace) --staves;
    ScoreLayout fitted;
    if (staves < layout_.staves.size()) {
        fitted = layout_;
        fitted.staves.resize(staves);
        for (ScoreMeasure& m : fitted.measures) m.staves.resize(staves);
    }
    const ScoreLayout& shown = staves < layout_.staves.size() ? fitted : layout_;
    const float bandSpaces = BandSpaces(staves);
    space_ = std::clamp(height / bandSpaces, kSmallestSpace, kLargestSpace);
    bandHeight_ = bandSpaces * space_;
    staffNames_ = StaffNames(shown);
    EngraveOptions options;
    options.onePage = true;
    options.staffSpace = space_;
    options.margin = 1.5f * space_;
    options.pageWidth = width;
    // A system at a time is seen: each names its parts.
    options.namesOnEverySystem = true;
    options.nameSize = NameSize(space_);
    const Engraving engraving = EngraveScore(shown, std::string(), options);
    if (engraving.pages.empty()) return;
    const EngravedPage& page = engraving.pages.front();

    // Systems by their bars' places: a new system starts where the bars' staff top moves down.
    // Each anchor has a rank beside it (0 a head, 1 a bar's start, 2 its end), the systems' one
    // after the other.
    std::vector<std::vector<uint8_t>> allRanks;
    std::vector<uint8_t> ranks;
    for (const MeasurePlace& place : engraving.places) {
        if (systems_.empty() || place.top != systems_.back().staffTop) {
            if (!systems_.empty()) allRanks.push_back(std::move(ranks));
            ranks.clear();
            System s;
            s.staffTop = place.top;
            s.staffBottom = place.bottom;
            s.bandTop = place.top - kSpacesAbove * space_;
            systems_.push_back(std::move(s));
        }
        System& s = systems_.back();
        const ScoreMeasure& m = layout_.measures[static_cast<size_t>(place.measure)];
        const int64_t division = layout_.division > 0 ? layout_.division : 480;
        s.measures.push_back(place.measure);
        s.barX.push_back(place.x1);
        if (s.measures.size() == 1) s.startTick = m.startTick;
        s.endTick = m.startTick + static_cast<int64_t>(m.length) * division / kUnitsPerQuarter;
        // A bar's start where its music begins, and its end on its right line: both give way to a
        // head at the same tick.
        s.anchorTicks.push_back(m.startTick);
        s.anchorX.push_back(place.x1 + 1.2f * space_);
        ranks.push_back(1);
        s.anchorTicks.push_back(s.endTick);
        s.anchorX.push_back(place.x2);
        ranks.push_back(2);
    }
    allRanks.push_back(std::move(ranks));
    // Each mark goes to the band it lies in.
    const auto systemOf = [&](float y) {
        const float first = systems_.front().bandTop;
        const int i = static_cast<int>(std::floor((y - first) / bandHeight_));
        return static_cast<size_t>(std::clamp(i, 0, static_cast<int>(systems_.size()) - 1));
    };
    const float headHalf = 0.65f * space_;
    for (const GlyphMark& g : page.glyphs) {
        const size_t i = systemOf(g.y);
        System& s = systems_[i];
        s.glyphs.push_back(g);
        if (g.note >= 0 && static_cast<size_t>(g.note) < writtenTick_.size() &&
            writtenTick_[static_cast<size_t>(g.note)] >= 0) {
            s.anchorTicks.push_back(writtenTick_[static_cast<size_t>(g.note)]);
            s.anchorX.push_back(g.x + headHalf);
            allRanks[i].push_back(0);
        }
    }
    for (const LineMark& l : page.lines) systems_[systemOf((l.y1 + l.y2) / 2)].lines.push_back(l);
    for (const BeamMark& b : page.beams) systems_[systemOf(b.y1)].beams.push_back(b);
    for (const TieMark& t : page.ties) systems_[systemOf(t.y1)].ties.push_back(t);
    for (const OctaveMark& o : page.octaves) systems_[systemOf(o.y)].octaves.push_back(o);

    // Each bar's glyphs together, so that a bar can be drawn as a group of its own.
    for (System& s : systems_) {
        std::stable_sort(s.glyphs.begin(), s.glyphs.end(),
                         [](const GlyphMark& a, const GlyphMark& b) { return a.x < b.x; });
        s.barGlyphs.assign(1, 0);
        size_t g = 0;
        for (size_t bar = 1; bar < s.barX.size(); ++bar) {
            while (g < s.glyphs.size() && s.glyphs[g].x < s.barX[bar]) ++g;
            s.barGlyphs.push_back(g);
        }
        s.barGlyphs.push_back(s.glyphs.size());
    }
    // The anchors in time order; at one tick the best ranked and leftmost place, and never a step
    // back to the left.
    for (size_t k = 0; k < systems_.size(); ++k) {
        System& s = systems_[k];
        const std::vector<uint8_t>& rank = allRanks[k];
        std::vector<size_t> order(s.anchorTicks.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (s.anchorTicks[a] != s.anchorTicks[b]) return s.anchorTicks[a] < s.anchorTicks[b];
            return rank[a] != rank[b] ? rank[a] < rank[b] : s.anchorX[a] < s.anchorX[b];
        });
        std::vector<int64_t> ticks;
        std::vector<float> xs;
        for (size_t i : order) {
            if (!ticks.empty() && ticks.back() == s.anchorTicks[i]) continue;
            ticks.push_back(s.anchorTicks[i]);
            xs.push_back(xs.empty() ? s.anchorX[i] : std::max(xs.back(), s.anchorX[i]));
        }
        s.anchorTicks = std::move(ticks);
        s.anchorX = std::move(xs);
    }
}

int ScoreStrip::SystemAtTick(double tick) const {
    if (systems_.empty()) return -1;
    const auto after =
        std::upper_bound(systems_.begin(), systems_.end(), tick,
                         [](double t, const System& s) { return t < static_cast<double>(s.startTick); });
    return after == systems_.begin() ? 0 : static_cast<int>(after - systems_.begin()) - 1;
}

float ScoreStrip::XAtTick(const System& s, double tick) const {
    const std::vector<int64_t>& t = s.anchorTicks;
    if (t.empty()) return 0;
    if (tick <= static_cast<double>(t.front())) return s.anchorX.front();
    if (tick >= static_cast<double>(t.back())) return s.anchorX.back();
    const size_t i =
        static_cast<size_t>(std::upper_bound(t.begin(), t.end(), tick,
                                             [](double v, int64_t a) { return v < static_cast<double>(a); }) -
                            t.begin());
    const double t0 = static_cast<double>(t[i - 1]), t1 = static_cast<double>(t[i]);
    const double share = (tick - t0) / (t1 - t0);
    return s.anchorX[i - 1] + static_cast<float>(share) * (s.anchorX[i] - s.anchorX[i - 1]);
}

float ScoreStrip::OnsetX(const System& s, double tick) {
    const std::vector<int64_t>& t = s.anchorTicks;
    if (t.empty()) return 0;
    const auto after = std::upper_bound(t.begin(), t.end(), tick,
                                        [](double v, int64_t a) { return v < static_cast<double>(a); });
    return s.anchorX[after == t.begin() ? 0 : static_cast<size_t>(after - t.begin()) - 1];
}

float ScoreStrip::CursorX(double seconds) const {
    if (tempo_ == nullptr || systems_.empty()) return -1;
    const double tick = tempo_->TicksAt(std::max(seconds, 0.0));
    return left + OnsetX(systems_[static_cast<size_t>(SystemAtTick(tick))], tick);
}

double ScoreStrip::SecondsAt(float x, float y) const {
    if (tempo_ == nullptr || shownSystem_ < 0 || static_cast<size_t>(shownSystem_) >= systems_.size())
        return -1;
    if (x < left || x >= right || y < top || y >= bottom) return -1;
    const System& s = systems_[static_cast<size_t>(shownSystem_)];
    const float ex = x - left;
    if (s.anchorX.empty() || ex < s.barX.front() || ex > s.anchorX.back()) return -1;
    // The anchors' places read backwards: a click on a head is the moment its note is due.
    const auto at = std::lower_bound(s.anchorX.begin(), s.anchorX.end(), ex);
    size_t i = static_cast<size_t>(at - s.anchorX.begin());
    double tick;
    if (i == 0) {
        tick = static_cast<double>(s.anchorTicks.front());
    } else if (i >= s.anchorX.size()) {
        tick = static_cast<double>(s.anchorTicks.back());
    } else {
        const float x0 = s.anchorX[i - 1], x1 = s.anchorX[i];
        const double share = x1 > x0 ? static_cast<double>((ex - x0) / (x1 - x0)) : 1.0;
        tick = static_cast<double>(s.anchorTicks[i - 1]) +
               share * static_cast<double>(s.anchorTicks[i] - s.anchorTicks[i - 1]);
    }
    return tempo_->Seconds(static_cast<int64_t>(std::llround(tick)));
}

void ScoreStrip::DrawGlyph(const GlyphMark& g, float dx, float dy, ColourF colour) const {
    platform::RenderTarget* target = Target();
    platform::TextFormat format;
    format.music = true;
    format.size = g.size;
    format.align = platform::TextAlign::Leading;
    format.centreVertically = false;
    const float x = g.x + dx, y = g.y + dy;
    target->DrawText(glyphText_[static_cast<size_t>(g.glyph)], format, {x, y, x + g.size, y + g.size},
                     colour);
}

void ScoreStrip::DrawLines(const System& s, float dx, float dy) const {
    platform::RenderTarget* target = Target();
    for (const LineMark& l : s.lines) {
        float x1 = l.x1 + dx, y1 = l.y1 + dy, x2 = l.x2 + dx, y2 = l.y2 + dy;
        if (y1 == y2) y1 = y2 = Snap(y1);
        if (x1 == x2) x1 = x2 = Snap(x1);
        target->DrawLine(x1, y1, x2, y2, kInk, std::max(1.0f, std::round(l.width)));
    }
    for (const BeamMark& b : s.beams)
        target->DrawLine(b.x1 + dx, b.y1 + dy, b.x2 + dx, b.y2 + dy, kInk, std::max(1.0f, b.thickness));
    // A tie as a few straight pieces along its curve: thin, and bowed away from the heads.
    constexpr int kPieces = 8;
    for (const TieMark& t : s.ties) {
        const float length = std::hypot(t.x2 - t.x1, t.y2 - t.y1);
        const float bow = std::min(1.6f * space_, 0.2f * length + 0.3f * space_) * (t.up ? -1.0f : 1.0f);
        float px = t.x1 + dx, py = t.y1 + dy;
        for (int i = 1; i <= kPieces; ++i) {
            const float u = static_cast<float>(i) / kPieces;
            const float x = t.x1 + (t.x2 - t.x1) * u + dx;
            const float y = t.y1 + (t.y2 - t.y1) * u + 4.0f * bow * u * (1 - u) + dy;
            target->DrawLine(px, py, x, y, kInk, std::max(1.0f, 0.2f * space_));
            px = x, py = y;
        }
    }
}

// An octave line: its label in bold, then dashes to its end, hooked towards the staff where the
// passage ends.
void ScoreStrip::DrawOctaves(const System& s, float dx, float dy) const {
    platform::RenderTarget* target = Target();
    for (const OctaveMark& o : s.octaves) {
        platform::TextFormat label;
        label.size = std::max(9.0f, o.size);
        label.weight = 700;
        label.align = platform::TextAlign::Leading;
        label.centreVertically = true;
        const char* text = OctaveLabel(o.octaves);
        float x = o.x1 + dx;
        const float y = o.y + dy;
        // A label over the staff gives way to a bar's number where they would meet.
        for (size_t bar = 0; o.octaves > 0 && bar < s.measures.size(); ++bar) {
            const RectF box = NumberBox(s, bar, dx, dy);
            if (layout_.measures[static_cast<size_t>(s.measures[bar])].number > 0 &&
                box.left < x + 3 * label.size && x < box.right && box.top < y + label.size / 2 &&
                y - label.size / 2 < box.bottom)
                x = box.right + 0.3f * space_;
        }
        target->DrawText(text, label, {x, y - label.size, x + 4 * label.size, y + label.size}, kInk);
        float width = target->TextWidth(text, label);
        if (!(width > 0))
            width = 0.6f * label.size * static_cast<float>(std::char_traits<char>::length(text));
        const float dash = 0.4f * label.size, gap = 0.3f * label.size, line = Snap(y);
        for (float a = x + width + gap; a < o.x2 + dx; a += dash + gap)
            target->DrawLine(a, line, std::min(a + dash, o.x2 + dx), line, kInk, 1.0f);
        if (o.hook) {
            const float hx = Snap(o.x2 + dx);
            target->DrawLine(hx, line, hx, line + (o.octaves > 0 ? 0.6f : -0.6f) * label.size, kInk, 1.0f);
        }
    }
}

void ScoreStrip::DrawNames(const System& s, float dx, float dy) const {
    if (staffNames_.empty() || s.barX.empty()) return;
    platform::TextFormat name;
    name.size = NameSize(space_);
    name.align = platform::TextAlign::Leading;
    name.centreVertically = true;
    name.ellipsis = true;  // a name wider than its column is cut rather than run into the staff
    // The names' column ends where the staff lines begin.
    float right = s.barX.front();
    for (const LineMark& l : s.lines) {
        if (l.y1 == l.y2) right = std::min(right, l.x1);
    }
    right -= 0.4f * space_;
    for (size_t i = 0; i < staffNames_.size(); ++i) {
        const float middle =
            s.staffTop + dy + (static_cast<float>(i) * (kStaffSpaces + kStaffGapSpaces) + 2) * space_;
        Target()->DrawText(staffNames_[i], name,
                           {dx + 1.5f * space_, middle - name.size, dx + right, middle + name.size}, kInk);
    }
}

void ScoreStrip::DrawBar(const System& s, size_t bar, float dx, float dy) const {
    for (size_t g = s.barGlyphs[bar]; g < s.barGlyphs[bar + 1]; ++g) DrawGlyph(s.glyphs[g], dx, dy, kInk);
    // The bar's number over its bar line, as the loop keys count bars.
    const int32_t n = layout_.measures[static_cast<size_t>(s.measures[bar])].number;
    if (n <= 0) return;
    const platform::TextFormat number = NumberFormat();
    const RectF box = NumberBox(s, bar, dx, dy);
    Target()->DrawText(std::to_string(n), number, {box.left, box.top, box.left + 6 * number.size, box.bottom},
                       kBarNumber);
}

platform::TextFormat ScoreStrip::NumberFormat() const {
    platform::TextFormat number;
    number.size = std::max(9.0f, 1.7f * space_);
    number.align = platform::TextAlign::Leading;
    number.centreVertically = false;
    return number;
}

RectF ScoreStrip::NumberBox(const System& s, size_t bar, float dx, float dy) const {
    const float size = NumberFormat().size;
    const int32_t n = layout_.measures[static_cast<size_t>(s.measures[bar])].number;
    const float x = s.barX[bar] + dx + 0.2f * space_, y = s.staffTop + dy - 2.2f * space_ - size;
    return {x, y, x + 0.6f * size * static_cast<float>(std::to_string(n).size()), y + 1.5f * size};
}

void ScoreStrip::Draw(const SongView& view) {
    platform::RenderTarget* target = Target();
    if (target == nullptr || !(width > 0) || !(height > 0)) return;
    target->FillRect({left, top, right, bottom}, kPaper);
    if (song_ == nullptr) return;
    if (!laidOut_) LayOut();
    // A new size is engraved once it has held for a few frames: a window being resized would
    // otherwise engrave a long song again at every step of the drag.
    if (width != engravedWidth_ || height != engravedHeight_) {
        steadyFrames_ = width == pendingWidth_ && height == pendingHeight_ ? steadyFrames_ + 1 : 0;
        pendingWidth_ = width, pendingHeight_ = height;
        if (systems_.empty() || steadyFrames_ >= kSteadyFramesBeforeEngraving) Engrave();
    }
    if (systems_.empty()) return;
    if (glyphText_[0].empty()) {
        for (size_t g = 0; g < static_cast<size_t>(Glyph::Count); ++g)
            glyphText_[g] = Utf8(GlyphCharacter(static_cast<Glyph>(g)));
    }

    const double seconds = std::max<double>(view.songTime, 0.0);
    const double tick = tempo_->TicksAt(seconds);
    shownSystem_ = SystemAtTick(tick);
    const System& s = systems_[static_cast<size_t>(shownSystem_)];
    // The band centred in the strip when the strip is taller than the music needs.
    shownDy_ = top + std::max(0.0f, (height - bandHeight_) / 2) - s.bandTop;
    const float dx = left;
    const float staffTop = s.staffTop + shownDy_ - 2 * space_,
                staffBottom = s.staffBottom + shownDy_ + 2 * space_;

    // The loop behind the music, cut to this system.
    if (view.loopStart >= 0 && view.loopEnd > view.loopStart) {
        const double a = tempo_->TicksAt(view.loopStart), b = tempo_->TicksAt(view.loopEnd);
        if (b > static_cast<double>(s.startTick) && a < static_cast<double>(s.endTick)) {
            const float xa = a <= static_cast<double>(s.startTick) ? s.barX.front() : XAtTick(s, a);
            const float xb = XAtTick(s, b);
            target->FillRect({xa + dx, staffTop, xb + dx, staffBottom}, kLoopBand);
            if (a > static_cast<double>(s.startTick))
                target->DrawLine(xa + dx, staffTop, xa + dx, staffBottom, kLoopEdge, 2);
            if (b < static_cast<double>(s.endTick))
                target->DrawLine(xb + dx, staffTop, xb + dx, staffBottom, kLoopEdge, 2);
        }
    }

    // The line at the chord being played, under the music so that the chord's heads stay clear.
    if (view.songTime >= 0) {
        const float x = OnsetX(s, tick) + dx;
        target->DrawLine(x, staffTop, x, staffBottom, kCursor, std::max(2.0f, 0.4f * space_));
    }

    // What does not move is kept by the window while the same system stands there: its lines as
    // one group, and each bar's glyphs as another, so that what changes over one bar (a falling
    // note under the strip, a head lit) has the window draw that bar's glyphs again, not all.
    uint64_t key = Mix(Mix(songStamp_, static_cast<uint64_t>(shownSystem_)), 0x5C0E);
    key = Mix(key, static_cast<uint64_t>(std::lround(left * 8)) << 32 |
                       static_cast<uint64_t>(std::lround(top * 8)));
    key = Mix(key, static_cast<uint64_t>(std::lround(width * 8)) << 32 |
                       static_cast<uint64_t>(std::lround(height * 8)));
    if (target->BeginGroup(key)) {
        DrawLines(s, dx, shownDy_);
        DrawOctaves(s, dx, shownDy_);
        DrawNames(s, dx, shownDy_);
    }
    target->EndGroup();
    for (size_t bar = 0; bar < s.measures.size(); ++bar) {
        if (target->BeginGroup(Mix(key, bar + 1))) DrawBar(s, bar, dx, shownDy_);
        target->EndGroup();
    }

    if (view.songTime < 0) return;
    // The heads of the notes sounding now, over their black selves: a group of their own, kept
    // while the same heads are lit, so that the window lays out their text only when they change.
    lit_.clear();
    uint64_t litKey = Mix(key, 0x117);
    for (size_t i = 0; i < s.glyphs.size(); ++i) {
        const GlyphMark& g = s.glyphs[i];
        if (g.note < 0 || static_cast<size_t>(g.note) >= score_.notes.size()) continue;
        const ScoreNote& n = score_.notes[static_cast<size_t>(g.note)];
        if (!(static_cast<double>(n.start) <= tick && tick < static_cast<double>(n.end))) continue;
        lit_.push_back(i);
        const int colour = n.part >= 0 && n.part < song_->partCount ? song_->parts[n.part].colour : -1;
        litKey = Mix(Mix(litKey, i + 1), static_cast<uint64_t>(colour + 1));
    }
    if (lit_.empty()) return;
    if (target->BeginGroup(litKey)) {
        for (const size_t i : lit_) {
            const GlyphMark& g = s.glyphs[i];
            const ScoreNote& n = score_.notes[static_cast<size_t>(g.note)];
            const int colour = n.part >= 0 && n.part < song_->partCount ? song_->parts[n.part].colour : -1;
            DrawGlyph(g, dx, shownDy_, colour == 0 || colour == 1 ? kLitHand[colour] : kLitVoice);
        }
    }
    target->EndGroup();
}
