#include "view/notes_view.h"

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/frame_timer.h"
#include "core/key_name.h"
#include "core/time_format.h"

namespace {

// Palette entries the view draws with.
enum : int {
    PalIconNormal = 4,
    PalIconHover = 6,
    PalOctaveShade = 16,
    PalNotesArea = 17,
    PalCLine = 18,
    PalBarLine = 19,
};

constexpr int32_t kBlackPattern[12] = {0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1};  // from A

// The keys inside an octave image, C to B and C# to A#.
constexpr float kWhiteKeyStride = 87.0f;
constexpr RectF kBlackSources[5] = {
    {52, 0, 100, kBlackKeyImageLength},  {153, 0, 201, kBlackKeyImageLength},
    {312, 0, 360, kBlackKeyImageLength}, {408, 0, 456, kBlackKeyImageLength},
    {499, 0, 547, kBlackKeyImageLength},
};

// The 32 transparent rows above and below a sprite's core: a note's rectangle is widened by them
// so that the core spans exactly the note's time.
constexpr float kSpriteMargin = 32.0f;

// A flat bar's dark edge is drawn only around a bar this many rows tall or more: on a shorter one
// it would hide the note's colour.
constexpr float kLeastEdgedRows = 5.0f;

// The notes of a part that the view can reach: none when the song has no such part.
int32_t PartNotes(const SongData& song, int part) {
    return part >= 0 && part < kMaxParts && song.parts[part].notes != nullptr
               ? std::max(song.parts[part].noteCount, 0)
               : 0;
}

// The parts the view draws: the hands' two, or every voice.
int DrawnParts(const SongData& song) {
    return std::clamp(song.partCount, 0, kMaxParts);
}

// How bright a key's spark is at `time` while `n` lights it: it fades with the song's time, not
// with the frames drawn, so every frame rate shows the same spark at the same moment.
float SparkLevel(const NoteRecord& n, float time) {
    const float length = n.end - n.start;
    if (length < kSparkFadeMinLength) return 1.0f;
    return std::clamp(1.0f - (time - n.start) / length, kSparkFloor, 1.0f);
}

// The names' inks: dark on the bright lit white keys and note bodies; white over a dark shadow on
// the lit black keys, whose colour darkens towards the key's edges and its far end.
constexpr ColourF kDarkInk{0.06f, 0.06f, 0.08f, 1.0f};
constexpr ColourF kLightInk{1.0f, 1.0f, 1.0f, 1.0f};
constexpr ColourF kShadowInk{0.0f, 0.0f, 0.0f, 0.8f};

// A name in its box: its lines centred across the box and the block centred down it.
void DrawLabel(platform::RenderTarget& target, const KeyLabel& label, float size, const RectF& box,
               bool light) {
    const platform::TextFormat format{size, 700, platform::TextAlign::Centre, true, false, false};
    // A label is a few characters, so the string stays in its own small buffer: nothing is
    // allocated for it.
    const std::string text(label.text);
    if (light)
        target.DrawText(text, format, {box.left + 1, box.top + 1, box.right + 1, box.bottom + 1}, kShadowInk);
    target.DrawText(text, format, box, light ? kLightInk : kDarkInk);
}

// A keyboard fitted to a song shows this many white keys beside its lowest and highest key, so
// that a key at either end has its neighbours and its spark stays inside the view; and at least
// two octaves, so that a song of a few keys does not get a few giant ones.
constexpr int kFitMargin = 2;
constexpr int kFitLeastWhites = 15;
constexpr int kWhiteKeys = 52;

// The white keys from A0 up to the key, less one: the key's own index among the white keys, or
// for a black key that of the white key below it.
int WhiteIndex(int key) {
    int n = -1;
    for (int k = kLowestKey; k <= key; ++k) {
        if (kBlackPattern[(k - kLowestKey) % 12] == 0) ++n;
    }
    return n;
}

// The gap between a name and the ends of its key or note, in design units.
float LabelPadding(float size) {
    return std::round(size * 0.25f);
}

}  // namespace

void NotesView::Build(ImageLookup lookup) {
    for (int i = 0; i < NotesImageCount; ++i) bitmaps[i] = Bitmap::LoadPng(kNotesImageIds[i], device, lookup);
    for (int c = 0; c < kVoiceColours; ++c)
        for (int slot = 0; slot < res::VoiceImageSlots; ++slot)
            voiceBitmaps[c][slot] = Bitmap::LoadPng(res::VoiceImageId(c + 2, slot), device, lookup);
    lookAhead = LookAheadAt(options.fallSpeed);
    currentTime = -1.0f;
    indexBuilt = false;
    song = nullptr;
    std::copy(std::begin(kBlackPattern), std::end(kBlackPattern), blackPattern);
    LayoutKeyboard();
}

void NotesView::SetSong(const SongData* s, bool aside) {
    // A build aside reads the song before; it ends before that song may go or change.
    if (pendingIndex.valid()) pendingIndex.wait();
    pendingIndex = {};
    song = s;
    FindSongKeys();
    ClearLitKeys();
    int64_t notes = 0;
    if (song != nullptr)
        for (int p = 0; p < DrawnParts(*song); ++p) notes += PartNotes(*song, p);
    BuildKeyIndex(aside && notes >= kIndexAsideNotes);
}

void NotesView::Update(float songTime) {
    if (pendingIndex.valid() && pendingIndex.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        keyIndex = std::move(*pendingIndex.get());
        indexBuilt = true;
    }
    currentTime = songTime;
    lookAhead = LookAheadAt(options.fallSpeed);
    // The keyboard is there from the first frame, so that the window never opens on a black void.
    LayoutKeyboard();
    UpdateKeys();
    UpdateBars();
    GatherShownBars();
}

void NotesView::Draw(const SongView& view) const {
    const bool showSong = view.songReady && view.song != nullptr && view.song == song;
    if (showSong) DrawGrid();
    DrawKeys(showSong);
    if (!view.songLoaded && device != nullptr && !options.chordName.empty()) {
        // Large enough to read from the piano stool.
        platform::TextFormat format = device->textMedium;
        format.size = 64.0f;
        format.weight = 700;
        if (platform::RenderTarget* target = Target(); target != nullptr) {
            const float middle = top + notesHeight * 0.5f;
            target->DrawText(options.chordName, format, {left, middle - 45.0f, left + width, middle + 45.0f},
                             Brush(PalText));
        }
    } else if (!view.songLoaded && device != nullptr) {
        device->DrawTextMedium(
            view.songReading ? "Reading the MIDI file…" : "Load a MIDI file, or drop one here", left,
            top + notesHeight * 0.5f - 15.0f, static_cast<int>(width), 30, Brush(PalText));
    }
}

void NotesView::ClearLitKeys() {
    for (KeyRecord& k : keys) {
        k.intensity = 0;
        k.noteIndex = 0;
        k.part = 0;
        k.colour = 0;
    }
}

int NotesView::PartColour(int part) const {
    // A piano song keeps its hands' colours whatever its parts say.
    if (song == nullptr || song->reading != ReadingVoices) return part;
    const SongPart& p = song->parts[part];
    return p.channel == kPercussionChannel ? -1 : res::WrapNoteColour(p.colour);
}

void NotesView::FindSongKeys() {
    lowestSongKey = 0;
    highestSongKey = -1;
    if (song == nullptr) return;
    int lowest = kHighestKey + 1, highest = kLowestKey - 1;
    for (int p = 0; p < DrawnParts(*song); ++p) {
        if (PartColour(p) < 0) continue;  // percussion is not drawn, so it needs no keys
        const SongPart& part = song->parts[p];
        const int count = PartNotes(*song, p);
        if (count == 0) continue;
        // The part's range, kept since it was read, saves walking a huge song's notes; a part
        // with keys off the keyboard is walked, since only the keys drawn count.
        if (part.lowKey >= kLowestKey && part.highKey <= kHighestKey && part.lowKey <= part.highKey) {
            lowest = std::min(lowest, static_cast<int>(part.lowKey));
            highest = std::max(highest, static_cast<int>(part.highKey));
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const int key = song->parts[p].notes[i].key;
            if (key < kLowestKey || key > kHighestKey) continue;
            lowest = std::min(lowest, key);
            highest = std::max(highest, key);
        }
    }
    if (lowest <= highest) {
        lowestSongKey = lowest;
        highestSongKey = highest;
    }
}

void NotesView::ChooseShownKeys() {
    firstWhite = 0;
    whiteCount = kWhiteKeys;
    if (!options.fitSong || song == nullptr || highestSongKey < lowestSongKey) return;
    const int lowest = std::clamp(ShownKey(lowestSongKey), kLowestKey, kHighestKey);
    const int highest = std::clamp(ShownKey(highestSongKey), kLowestKey, kHighestKey);
    int lo = WhiteIndex(lowest) - kFitMargin;
    const bool highestIsBlack = blackPattern[(highest - kLowestKey) % 12] != 0;
    int hi = WhiteIndex(highest) + (highestIsBlack ? 1 : 0) + kFitMargin;
    if (hi - lo + 1 < kFitLeastWhites) {
        const int grow = kFitLeastWhites - (hi - lo + 1);
        lo -= grow / 2;
        hi += grow - grow / 2;
    }
    if (lo < 0) {
        hi -= lo;
        lo = 0;
    }
    if (hi > kWhiteKeys - 1) {
        lo = std::max(0, lo - (hi - (kWhiteKeys - 1)));
        hi = kWhiteKeys - 1;
    }
    firstWhite = lo;
    whiteCount = hi - lo + 1;
}

void NotesView::LayoutKeyboard() {
    topTime = currentTime + lookAhead;
    layoutWidth = width;

    // A keyboard fitted to the song is the whole keyboard drawn wider and moved left, so that its
    // shown keys fill the view; the keys outside lie beyond the view's edges.
    ChooseShownKeys();
    const float w = width / static_cast<float>(whiteCount);
    whiteKeyWidth = w;
    keyboardHeight = width * 0.125f;
    if (options.keysInProportion) {
        // The whole keyboard's proportions (an eighth of its width, 6.5 white keys) kept for wider
        // keys, and at least a sixth of the view, so that keys under a tall frame still read as
        // keys; but never more than a third: the notes need the room above.
        const float proportional = std::max(w * kWhiteKeys * 0.125f, height / 6.0f);
        keyboardHeight = std::max(keyboardHeight, std::min(proportional, height / 3.0f));
    }
    notesHeight = height - keyboardHeight;
    const float shift = firstWhite > 0 ? -static_cast<float>(firstWhite) * w : 0.0f;
    const float o = 7.0f * w;
    float g = 2.0f * w - o + shift;  // the first, partial octave starts five white keys left of A0
    float x = shift;
    int white = 5;  // A
    int black = 4;  // A#
    for (int k = 0; k < kKeyCount; ++k) {
        KeyRecord& r = keys[k];
        r.isBlack = blackPattern[k % 12];
        r.rect.top = height - keyboardHeight;
        if (r.isBlack == 0) {
            r.rect.left = x;
            r.rect.right = x + w - 1.0f;
            r.rect.bottom = height - 1.0f;
            x += w;
            const float i = static_cast<float>(white % 7);
            r.source = {kWhiteKeyStride * i, 0, kWhiteKeyStride * i + 86.0f, kOctaveImageHeight};
            ++white;
        } else {
            r.rect.bottom = r.rect.top + keyboardHeight * kBlackKeyImageLength / kOctaveImageHeight;
            if (black % 5 == 0) g += o;  // a new octave starts at C#
            r.source = kBlackSources[black % 5];
            r.rect.left = r.source.left * 7.0f * w / kOctaveImageWidth + g;
            r.rect.right = (r.source.right - r.source.left) * o / kOctaveImageWidth + r.rect.left;
            ++black;
        }
        const float kw = r.rect.right - r.rect.left;
        r.sparkRect = {r.rect.left - kw, r.rect.top - kw, r.rect.right + kw, r.rect.top + kw};
    }
}

void NotesView::BuildKeyIndex(bool aside) {
    std::bitset<kMaxParts> drawn;
    if (song != nullptr) {
        for (int p = 0; p < DrawnParts(*song); ++p) {
            const int colour = PartColour(p);
            if (colour >= 0 && colour < res::kNoteColourCount) drawn.set(static_cast<size_t>(p));
        }
    }
    density.Build(song, drawn);
    shownBars.clear();
    shownBars.reserve(static_cast<size_t>(kKeyCount) * 64);
    storeGathered = {};
    if (aside) {
        // The thread only reads the song, which stays as it is until the index is taken or
        // waited for (SetSong); the index is its own until then.
        keyIndex.Clear();
        indexBuilt = false;
        pendingIndex = std::async(std::launch::async, [s = song, drawn] {
            auto index = std::make_unique<KeyIndex>();
            index->Build(s, drawn);
            return index;
        });
        return;
    }
    keyIndex.Build(song, drawn);
    indexBuilt = true;
}

void NotesView::UpdateBars() {
    barCount = 0;
    firstBar = 0;
    if (song == nullptr) return;
    const int lines = std::clamp(song->barLineCount, 0, kMaxBarLines);
    for (int i = 0; i < lines; ++i) {
        const float t = song->barLines[i];
        if (t < currentTime) ++firstBar;
        if (!(currentTime <= t && t <= topTime)) continue;
        barY[barCount++] = notesHeight - (t - currentTime) * notesHeight / lookAhead;
    }
}

void NotesView::DrawGrid() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr) return;

    ColourF shade = Brush(PalOctaveShade);
    if (options.seeThroughGrid) {
        shade.a = 0.35f;
    } else {
        target->FillRect({0, 0, right - 1.0f, bottom}, Brush(PalNotesArea));
    }
    // Nothing that moves is drawn under the score strip: it would only be hidden, and have the
    // strip's music drawn again around it every frame.
    const float hidden = options.coveredTop;
    for (int i = 0; i < barCount; ++i) {
        if (barY[i] >= hidden) target->DrawLine(0, barY[i], width, barY[i], Brush(PalBarLine), 1.0f);
    }

    const float o = keys[15].rect.left - keys[3].rect.left;  // C1 to C2
    const float xc = keys[3].rect.left;                      // C1
    float segmentBottom = notesHeight;
    int bar = firstBar;
    for (int i = 0; i <= barCount; ++i) {
        const float segmentTop = i < barCount ? barY[i] : -1.0f;
        for (int j = 0; j < 5; ++j) {
            float x = 2.0f * static_cast<float>(j) * o + xc;
            if (bar % 2 != 0) x -= o;
            const float r = std::min(x + o - 1.0f, layoutWidth - 1.0f);
            const float l = std::max(0.0f, x);
            const float shadeTop = std::max(segmentTop + 1.0f, hidden);
            if (layoutWidth > l && r > l && segmentBottom - 1.0f > shadeTop) {
                target->FillRect({l, shadeTop, r, segmentBottom - 1.0f}, shade);
            }
        }
        if (i < barCount && device != nullptr && segmentTop >= hidden) {
            char text[100];
            std::snprintf(text, sizeof text, "%2d", bar + 1);
            if (options.barNumberSize > 0) {
                platform::TextFormat format = device->textSmall;
                format.size = options.barNumberSize;
                format.align = platform::TextAlign::Leading;
                const float size = options.barNumberSize;
                target->DrawText(text, format,
                                 {size * 0.5f, segmentTop, size * 3.5f, segmentTop + size * 1.5f},
                                 Brush(PalText));
            } else {
                device->DrawTextSmall(text, 10, static_cast<int>(segmentTop), 50, 20, Brush(PalText));
            }
        }
        ++bar;
        segmentBottom = segmentTop;
    }

    for (int j = 0; j < 8; ++j) {
        const float x = xc + static_cast<float>(j) * o;
        if (x < 0 || x > layoutWidth) continue;  // a C outside a keyboard fitted to the song
        target->DrawLine(x, notesHeight, x, hidden, Brush(PalCLine), 1.0f);
    }
}

void NotesView::UpdateKeys() {
    // A key whose note has ended goes dark, even when the note is no longer in the window (a frame
    // more than a second late), so that it does not stay lit until the next jump in time.
    for (KeyRecord& k : keys) {
        if (!(k.intensity > 0)) continue;
        if (song == nullptr || k.part < 0 || k.part >= kMaxParts || k.noteIndex < 0 ||
            k.noteIndex >= PartNotes(*song, k.part) ||
            currentTime > song->parts[k.part].notes[k.noteIndex].end) {
            k.intensity = 0;
            k.noteIndex = 0;
        }
    }
    if (song != nullptr && indexBuilt) {
        for (int key = 0; key < kIndexedKeys; ++key) {
            const int shown = ShownKey(key);
            if (shown < kLowestKey || shown > kHighestKey || keys[shown - kLowestKey].intensity > 0) continue;
            // A free key lights with the first of its sounding notes in the order the parts and
            // their notes were read, whichever of them starts first.
            const KeyNote* first = nullptr;
            const size_t to = keyIndex.FirstStartingAfter(key, currentTime, true);
            for (size_t i = keyIndex.FirstSoundingAt(key, currentTime); i < to;) {
                const size_t next = keyIndex.SkipEnded(key, i, currentTime);
                if (next != i) {
                    i = next;
                    continue;
                }
                const KeyNote& n = keyIndex.At(i++);
                if (!(currentTime < n.end)) continue;
                if (first == nullptr || n.ref < first->ref) first = &n;
            }
            if (first != nullptr) {
                const KeyNoteAt at = keyIndex.Locate(first->ref);
                LightKey(at.part, at.index);
            }
        }
    } else if (song != nullptr && pendingIndex.valid()) {
        // Until the index is done, from the parts' own notes, as far back as the bars are looked
        // for: each key by the first of its sounding notes in the order the parts and their notes
        // were read, as above.
        const float from = currentTime - lookAhead;
        for (int p = 0; p < DrawnParts(*song); ++p) {
            const NoteRecord* begin = song->parts[p].notes;
            const NoteRecord* end = begin + PartNotes(*song, p);
            const NoteRecord* n =
                std::partition_point(begin, end, [from](const NoteRecord& r) { return r.start < from; });
            for (; n != end && n->start < currentTime; ++n)
                if (currentTime < n->end) LightKey(p, static_cast<int>(n - begin));
        }
    }
    for (KeyRecord& k : keys) {
        if (k.intensity > 0 && song != nullptr)
            k.level = SparkLevel(song->parts[k.part].notes[k.noteIndex], currentTime);
    }
}

void NotesView::LightKey(int part, int index) {
    if (song == nullptr || song->noteTracks < 1) return;
    const int colour = PartColour(part);
    if (colour < 0 || colour >= res::kNoteColourCount) return;
    const NoteRecord& n = song->parts[part].notes[index];
    const int shown = ShownKey(n.key);
    if (shown < kLowestKey || shown > kHighestKey) return;
    KeyRecord& r = keys[shown - kLowestKey];
    // A key keeps the first note that lit it until that note ends. Whether it is free is told by
    // its intensity, not by its note index: note 0 is a note like any other.
    if (!(r.intensity > 0) && n.start < currentTime && currentTime < n.end) {
        r.intensity = std::max(1.0f, static_cast<float>(n.velocity));
        r.part = part;
        r.colour = colour;
        r.noteIndex = index;
    }
}

bool NotesView::LightsItsKey(int part, int index) const {
    const NoteRecord& n = song->parts[part].notes[index];
    const int shown = ShownKey(n.key);
    if (shown < kLowestKey || shown > kHighestKey) return false;
    const KeyRecord& k = keys[shown - kLowestKey];
    return k.intensity > 0 && k.part == part && k.noteIndex == index;
}

void NotesView::DrawKeys(bool drawNotes) const {
    if (drawNotes) {
        // The notes that light keys are drawn last, over any other note on the same key: where two
        // voices double a key, the bar falling onto it is the one whose colour the key shows.
        for (const ShownBar& b : shownBars) {
            if (b.run) {
                DrawBar(b.part, BarRecord(b), false);
            } else if (!LightsItsKey(b.part, b.index)) {
                DrawNote(b.part, b.index);
            }
        }
        for (const KeyRecord& k : keys) {
            if (k.intensity > 0) DrawNote(k.part, k.noteIndex);
        }
        if (options.labels.onNotes) DrawNoteLabels();
    }

    const float w = whiteKeyWidth;
    const float o = 7.0f * w;
    const float x0 = firstWhite > 0 ? -static_cast<float>(firstWhite) * w : 0.0f;
    const float top = notesHeight;
    const float bottomEdge = keys[0].rect.bottom;
    // A keyboard fitted to the song reaches past the view's edges: its images are cut there, so
    // that nothing spills into the panels beside it.
    const bool fitted = whiteCount < kWhiteKeys;
    auto drawStretch = [&](const Bitmap& b, float l, float r) {
        if (!fitted) {
            b.Draw(l, top, r, bottomEdge, 1.0f);
            return;
        }
        const float cl = std::max(l, 0.0f), cr = std::min(r, width);
        if (!(cr > cl)) return;
        const float scale = b.ImageWidth() / (r - l);
        b.DrawPart({cl, top, cr, bottomEdge}, {(cl - l) * scale, 0, (cr - l) * scale, b.ImageHeight()}, 1.0f);
    };
    // Before the first layout with a song the keyboard has no height, and nothing is drawn.
    if (bottomEdge > top) {
        drawStretch(bitmaps[ImgKeysLowEnd], x0, x0 + 2.0f * w);
        for (int i = 0; i < 7; ++i) {
            const float l = x0 + 2.0f * w + static_cast<float>(i) * o;
            drawStretch(bitmaps[ImgKeysOctave], l, l + o);
        }
        drawStretch(bitmaps[ImgKeysTopC], x0 + 51.0f * w, x0 + 52.0f * w);
    }
    if (!drawNotes) {
        // Without a song the keyboard still shows what the player holds, played freely.
        DrawPlayerKeys();
        DrawScore();
        DrawKeyLetters();
        return;
    }

    // White keys first, then the black keys over them and over the white keys' sparks.
    const uint32_t* flat = options.flatNoteColours;
    platform::RenderTarget* target = Target();
    for (int black = 0; black < 2; ++black) {
        if (black == 1 && flat != nullptr && target != nullptr) {
            // A flat lit white key was filled under its black neighbours: they go back over it.
            for (const KeyRecord& k : keys) {
                if (k.isBlack != 0 && !(k.intensity > 0))
                    bitmaps[ImgKeysOctave].DrawPart(k.rect, k.source, 1.0f);
            }
        }
        for (const KeyRecord& k : keys) {
            if (k.isBlack != black || !(k.intensity > 0)) continue;
            const float a = k.intensity / 127.0f * k.level;
            if (flat != nullptr && target != nullptr && k.colour >= 0 && k.colour < res::kNoteColourCount) {
                // Lit in the colour its notes fall in, which the images do not have.
                target->FillRect({k.rect.left + 1.0f, k.rect.top, k.rect.right - 1.0f, k.rect.bottom},
                                 PaletteColour(flat[k.colour]));
            } else if (k.colour >= 2 && k.colour < res::kNoteColourCount) {
                voiceBitmaps[k.colour - 2][black == 0 ? res::VoiceLitWhiteKeys : res::VoiceLitBlackKeys]
                    .DrawPart(k.rect, k.source, 1.0f);
            } else {
                const int image = black == 0 ? (k.colour == 0 ? ImgLitWhitePart0 : ImgLitWhitePart1)
                                             : (k.colour == 0 ? ImgLitBlackPart0 : ImgLitBlackPart1);
                bitmaps[image].DrawPart(k.rect, k.source, 1.0f);
            }
            const RectF& s = k.sparkRect;
            bitmaps[ImgSparkGlow].Draw(s.left, s.top, s.right, s.bottom, a);
            bitmaps[ImgSparkDisc].Draw(s.left, s.top, s.right, s.bottom, a);
        }
    }
    DrawPlayerKeys();
    DrawAwaitedKeys();
    DrawScore();
    if (options.labels.onKeys) DrawKeyLabels();
    DrawKeyLetters();
    DrawNoteMarks();
    DrawProgress();
    DrawHandBox();
}

void NotesView::DrawPlayerKeys() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || (options.playerKeys.none() && options.wrongKeys.none())) return;
    // The lower part of a key, where a finger is: clear of the part's own light above it.
    constexpr ColourF kPlayerKey{0.78f, 0.35f, 1.0f, 0.8f};
    constexpr ColourF kWrongKey{1.0f, 0.15f, 0.1f, 0.85f};
    for (int key = kLowestKey; key <= kHighestKey; ++key) {
        // Wrong keys are the song's: the player struck the one the transposition moves them to.
        const int songKey = key - options.transpose;
        const bool wrong =
            songKey >= 0 && songKey < 128 && options.wrongKeys.test(static_cast<size_t>(songKey));
        if (!wrong && !options.playerKeys.test(static_cast<size_t>(key))) continue;
        const RectF& r = keys[key - kLowestKey].rect;
        const float height = r.bottom - r.top;
        target->FillRect({r.left + 1, r.bottom - height * 0.35f, r.right - 1, r.bottom - 2},
                         wrong ? kWrongKey : kPlayerKey);
    }
}

const NoteRecord* NotesView::ShownNote(int part, int index) const {
    if (song == nullptr || song->noteTracks < 1 || part < 0 || part >= kMaxParts || index < 0 ||
        index >= PartNotes(*song, part)) {
        return nullptr;
    }
    const int colour = PartColour(part);
    if (colour < 0 || colour >= res::kNoteColourCount) return nullptr;
    const NoteRecord& n = song->parts[part].notes[index];
    if (n.start > n.end || n.start > topTime || n.start == n.end) return nullptr;
    const int shown = ShownKey(n.key);
    if (shown < kLowestKey || shown > kHighestKey) return nullptr;
    if (currentTime > n.end) return nullptr;
    const RectF& key = keys[shown - kLowestKey].rect;
    if (key.right <= 0 || key.left >= width) return nullptr;  // outside a keyboard fitted to the song
    return &n;
}

NoteRecord NotesView::BarRecord(const ShownBar& b) const {
    NoteRecord n = song->parts[b.part].notes[b.index];
    if (b.run) {
        n.start = b.start;
        n.end = b.end;
    }
    return n;
}

void NotesView::DrawNote(int part, int index) const {
    const NoteRecord* shown = ShownNote(part, index);
    if (shown != nullptr) DrawBar(part, *shown);
}

void NotesView::DrawBar(int part, const NoteRecord& n, bool glows) const {
    const int colour = PartColour(part);
    const KeyRecord& r = keys[ShownKey(n.key) - kLowestKey];

    const float h = notesHeight;
    auto y = [&](float t) { return (topTime - t) * h / lookAhead; };
    const RectF sprite{r.rect.left, y(n.end) - kSpriteMargin, r.rect.right, y(n.start) + kSpriteMargin};
    const float fade = PartOpacity(part);
    const float glow = (static_cast<float>(std::max(1, int{n.velocity})) * (1.0f / 256.0f) + 0.5f) * fade;
    const float hidden = options.coveredTop;  // under the score strip
    if (hidden > 0 && y(n.start) + kSpriteMargin <= hidden) return;

    if (options.flatNoteColours != nullptr) {
        platform::RenderTarget* target = Target();
        if (target == nullptr) return;
        // A dark edge parts a note from its neighbours and from the bar it follows on its key.
        ColourF c = PaletteColour(options.flatNoteColours[colour]);
        c.a = fade;
        RectF bar{r.rect.left + 1.0f, std::max(y(n.end), hidden), r.rect.right - 1.0f,
                  std::min(y(n.start), h)};
        // A note shorter than a row still shows, a row tall.
        if (bar.bottom - bar.top < 1.0f) bar.top = bar.bottom - 1.0f;
        target->FillRect(bar, c);
        ColourF edge = Brush(PalNotesArea);
        edge.a = fade;
        if (bar.bottom - bar.top >= kLeastEdgedRows) target->DrawRect(bar, edge, 2.0f);
        DrawNoteEdges(part, n, bar);
        return;
    }
    // Each sprite starts from the key's own width: the three-slice drawing widens its rectangle.
    auto drawSprite = [&](int image, float opacity) {
        RectF s = sprite;
        bitmaps[image].DrawNoteSprite(s, h, opacity, hidden);
    };
    if (!glows) {
        // Only the opaque body, copied rather than blended: the glows of a crowded key's runs
        // would lie over its neighbours' runs as a haze, at twice the column's pixels each.
        const Bitmap* body =
            colour >= 2
                ? &voiceBitmaps[colour - 2][r.isBlack == 0 ? res::VoiceBodyWhite : res::VoiceBodyBlack]
            : r.isBlack == 0 ? &bitmaps[colour == 0 ? ImgBodyPart0White : ImgBodyPart1White]
                             : &bitmaps[colour == 0 ? ImgBodyPart0Black : ImgBodyPart1Black];
        RectF s = sprite;
        body->DrawNoteSprite(s, h, fade, hidden);
    } else if (colour >= 2) {
        const Bitmap* images = voiceBitmaps[colour - 2];
        RectF s = sprite;
        images[res::VoiceGlow].DrawNoteSprite(s, h, glow, hidden);
        s = sprite;
        images[r.isBlack == 0 ? res::VoiceBodyWhite : res::VoiceBodyBlack].DrawNoteSprite(s, h, fade, hidden);
    } else if (r.isBlack == 0) {
        if (colour == 0) {
            drawSprite(ImgBodyPart0White, fade);
            drawSprite(ImgGlowPart0White, glow);
        } else {
            drawSprite(ImgGlowPart1White, glow);
            drawSprite(ImgBodyPart1White, fade);
        }
    } else {
        if (colour == 0) {
            drawSprite(ImgGlowPart0Black, glow);
            drawSprite(ImgBodyPart0Black, fade);
        } else {
            drawSprite(ImgGlowPart1Black, glow);
            drawSprite(ImgBodyPart1Black, fade);
        }
    }
    DrawNoteEdges(
        part, n,
        {r.rect.left + 1.0f, std::max(y(n.end), hidden), r.rect.right - 1.0f, std::min(y(n.start), h)});
}

void NotesView::DrawNoteLabels() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || !(lookAhead > 0) || !(notesHeight > 0)) return;
    const float size = LabelSizeFor(whiteKeyWidth);
    const float pad = LabelPadding(size);
    const Accidentals spelling = options.labels.flats ? Accidentals::Flats : Accidentals::Sharps;
    const float h = notesHeight;
    for (const ShownBar& b : shownBars) {
        const NoteRecord note = BarRecord(b);
        const NoteRecord* n = &note;
        const KeyRecord& k = keys[ShownKey(n->key) - kLowestKey];
        const RectF& key = k.rect;
        // The name sits at the note's lower end, the one that meets the keyboard, and rides down
        // with it until it reaches the top of where its key's spark shows; there it stays on the
        // part still above, once the note sounds, until that is too short for it.
        const float top = std::max(options.coveredTop, (topTime - n->end) * h / lookAhead) + pad;
        const float bottom = std::min(k.sparkRect.top, (topTime - n->start) * h / lookAhead) - pad;
        const KeyLabel label =
            FitKeyLabel(NameOfKey(ShownKey(n->key), spelling), size, key.right - key.left, bottom - top);
        if (label.shape == LabelShape::None) continue;
        DrawLabel(*target, label, size, {key.left, bottom - label.height, key.right, bottom}, false);
    }
}

void NotesView::DrawKeyLabels() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || !(keyboardHeight > 0)) return;
    const float size = LabelSizeFor(whiteKeyWidth);
    const float pad = LabelPadding(size);
    const Accidentals spelling = options.labels.flats ? Accidentals::Flats : Accidentals::Sharps;
    // A white key's name sits below the ends of the black keys, where the key shows its whole width.
    const float blackEnd = notesHeight + keyboardHeight * kBlackKeyImageLength / kOctaveImageHeight;
    for (int k = 0; k < kKeyCount; ++k) {
        const KeyRecord& key = keys[k];
        if (!(key.intensity > 0)) continue;
        const RectF& r = key.rect;
        const float keyWidth = r.right - r.left;
        // A black key's name sits below its spark, which reaches one key width down from its top.
        const bool black = key.isBlack != 0;
        const float top = (black ? r.top + keyWidth : blackEnd) + pad;
        const float bottom = r.bottom - pad;
        const KeyLabel label = FitKeyLabel(NameOfKey(k + kLowestKey, spelling), size, keyWidth, bottom - top);
        if (label.shape == LabelShape::None) continue;
        DrawLabel(*target, label, size, {r.left, bottom - label.height, r.right, bottom}, black);
    }
}
