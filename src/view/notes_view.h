// The notes view: an 88-key keyboard drawn from bitmaps along the panel's bottom edge and, above
// it, the song's notes falling towards their keys. A note enters at the top of the notes area
// `lookAhead` seconds before it starts, reaches the keyboard when it starts and vanishes when it
// ends; while it sounds, its key is drawn lit in the part's colour with a fading spark and, as the
// options say, the note's name. The falling speed sets `lookAhead`; whatever it is, a note meets
// the keyboard at its start, as the sound does. Fitted to the song, the keyboard shows only the
// song's keys and a few beside them, each drawn wider.
//
// Behind the notes: the bar lines with their numbers, a checkerboard of octave columns that
// alternates from bar to bar, and a thin line at every C. Each part has a colour: a piano song's
// part 0 is drawn in yellow and orange, part 1 in green; a song read by voices gives its voices the
// hands' two colours and then colours of their own, and draws no percussion. A key lights in the
// colour of the part that plays it. Velocity only sets the brightness of a note's glow and of its
// key's spark.
//
// The view also draws two controls of the controller's: the view-toggle button in its top right
// corner and, in full view, the overlay with three transport buttons and the progress bar.
//
// Each frame is two steps. Update advances what moves with the song to the frame's song time:
// which keys are lit, how far their sparks have faded (by song seconds, so a video at any frame
// rate and a window that drops frames fade alike) and where the bar lines are. Draw then only
// draws; it changes nothing. A new song is announced by SetSong, a jump in time by ClearLitKeys.
//
// The notes are found through the song's key index, key by key, so a frame's work is bounded by
// the view's size rather than by the notes of the song: a key whose notes crowd closer than a few
// rows apart is drawn as runs, notes falling within a few rows of each other merged into one bar,
// so that a key column costs at most one bar for every few rows however dense the song.
//
// Nothing is allocated while drawing: the per-frame state lives in the fixed arrays below and in
// the list of shown notes, which Update fills and which keeps its room from frame to frame.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <vector>

#include "core/song_data.h"
#include "view/bitmap.h"
#include "view/key_index.h"
#include "view/note_density.h"
#include "view/note_labels.h"
#include "view/panel.h"

struct SongData;

inline constexpr int kKeyCount = 88;  // MIDI keys 21 (A0) to 108 (C8)
inline constexpr int kLowestKey = 21;
inline constexpr int kHighestKey = 108;

// Size of the octave images: 7 white keys 87 pixels apart; black keys 341 pixels long.
inline constexpr float kOctaveImageWidth = 609.0f;
inline constexpr float kOctaveImageHeight = 492.0f;
inline constexpr float kBlackKeyImageLength = 341.0f;

// The images of the view, in the order of the view's own table.
enum NotesImage : int {
    ImgBodyPart1Black,
    ImgGlowPart1Black,
    ImgBodyPart1White,
    ImgGlowPart1White,
    ImgGlowPart0Black,
    ImgBodyPart0White,
    ImgGlowPart0White,
    ImgKeysLowEnd,
    ImgLitBlackPart1,
    ImgLitBlackPart0,
    ImgLitWhitePart1,
    ImgLitWhitePart0,
    ImgKeysTopC,
    ImgBodyPart0Black,
    ImgKeysOctave,
    ImgSparkDisc,
    ImgSparkGlow,
    NotesImageCount,
};
inline constexpr ImageId kNotesImageIds[NotesImageCount] = {
    ImageBodyPart1Black, ImageGlowPart1Black, ImageBodyPart1White, ImageGlowPart1White, ImageGlowPart0Black,
    ImageBodyPart0White, ImageGlowPart0White, ImageKeysLowEnd,     ImageLitBlackPart1,  ImageLitBlackPart0,
    ImageLitWhitePart1,  ImageLitWhitePart0,  ImageKeysTopC,       ImageBodyPart0Black, ImageKeysOctave,
    ImageSparkDisc,      ImageSparkGlow};

struct KeyRecord {
    int32_t isBlack;    // copied from blackPattern at every layout
    RectF source;       // the key inside a 609 x 492 octave image
    RectF rect;         // where the key is drawn
    RectF sparkRect;    // where the spark of a lit key is drawn
    float intensity;    // > 0 while lit: the lighting note's velocity, at least 1; 0 when dark
    float level;        // spark brightness: 1 at the lighting note's start, fading over its length
    int32_t noteIndex;  // index of the lighting note within its part
    int32_t part;       // part of the lighting note
    int32_t colour;     // note colour of that part: the key is lit in it
};

// The full view's toggle and overlay: what they show and what a press on them asks for. The
// controller keeps it and hands it to the view every frame.
struct ViewControls {
    bool fullView = false;         // only the notes view is shown, over the whole window
    bool toggleRequested = false;  // the view toggle was pressed; performed on release
    bool overlayActive = false;    // the mouse moved in full view: draw the overlay
    float idleSeconds = 0;         // since the last input; the overlay hides a second after it
    float sceneWidth = 0;          // the design size the overlay is centred in
    float sceneHeight = 0;
    RectF overlayButtons[3];  // back to start, play/pause, stop
    RectF overlayProgress;    // the progress bar under them; a press there seeks
    // Chosen by a press on the overlay's buttons, asked for on release.
    PanelIntent pendingIntent = PanelIntent::None;
};

// The spark of a lit key fades from 1 at its note's start to this at the note's end and stays
// there; a note shorter than kSparkFadeMinLength keeps its spark at full brightness.
inline constexpr float kSparkFloor = 0.1f;
inline constexpr float kSparkFadeMinLength = 0.1f;

// A song with this many notes or more has its key index built aside when the caller allows it:
// below it the index takes no longer than a frame or two.
inline constexpr int64_t kIndexAsideNotes = 1'000'000;

// The voice colours' own images, after the hands' two colours: res::VoiceImageId(colour, slot).
inline constexpr int kVoiceColours = res::kNoteColourCount - 2;

struct NotesView : public Panel {
  public:
    Bitmap bitmaps[NotesImageCount];
    Bitmap voiceBitmaps[kVoiceColours][res::VoiceImageSlots];
    int32_t barCount = 0;           // bar lines inside the window this frame
    float barY[kMaxBarLines] = {};  // y of each, in order of bar time: room for every bar of a song
    int32_t firstBar = 0;       // bar lines before this frame's song time: the lowest shown is firstBar + 1
    float notesHeight = 0;      // view height - keyboard height
    float layoutWidth = 0;      // view width of the last layout
    float lookAhead = 0;        // seconds of song above the keyboard: kLookAheadSeconds at the usual speed
    float topTime = 0;          // song time at the notes area's top edge
    float currentTime = -1.0f;  // this frame's song time
    float keyboardHeight = 0;   // view width x 0.125
    int32_t blackPattern[12] = {};  // 1 for a black key, indexed by (key - 21) mod 12
    KeyRecord keys[kKeyCount] = {};
    KeyIndex keyIndex;  // the drawn parts' notes by key, built by SetSong
    // The drawn parts' notes counted along the song, built by SetSong at once (even for a huge
    // song): the time bar's overview where the song has no waveform yet.
    NoteDensity density;
    bool indexBuilt = false;
    // The key index of a huge song, being built on a thread of its own (SetSong with `aside`);
    // taken by the first Update after it is done. Until then the song's notes are gathered from
    // its own store, again only when the time or the view has moved since (storeGathered).
    std::future<std::unique_ptr<KeyIndex>> pendingIndex;
    struct StoreGathered {
        float time = -1.0f;
        float top = -1.0f;
        float width = -1.0f;
        float height = -1.0f;
        int transpose = 0;
        bool made = false;
        bool operator==(const StoreGathered&) const = default;
    } storeGathered;
    // What this frame shows above the keyboard, in the order it is drawn (by part, then by the
    // order the part's notes were read): single notes, and the runs of crowded keys. Filled by
    // Update.
    struct ShownBar {
        int32_t part;
        int32_t index;  // the note, or a run's first note
        float start;    // a run's span; unused for a single note
        float end;
        bool run;
    };
    std::vector<ShownBar> shownBars;
    const SongData* song = nullptr;  // the song of SetSong: the one the index is built for
    NotesViewOptions options;        // of SetOptions: the names and the falling speed
    int32_t lowestSongKey = 0;       // the lowest and highest key the song's drawn notes play;
    int32_t highestSongKey = -1;     // highest < lowest when they play none
    int32_t firstWhite = 0;          // the white keys the keyboard shows: from A0 (0) to C8 (51)
    int32_t whiteCount = 52;
    float whiteKeyWidth = 0;  // view width / whiteCount

    // Once, after Init and CreateBrushes: the images, the constants and an empty layout.
    void Build(ImageLookup lookup = &res::FindImage);
    // A song has been rendered and is to be shown (null: none). Builds its key index and forgets
    // the lit keys of the one before. `s` must stay alive and unchanged until the next SetSong.
    // With `aside`, the index of a song of kIndexAsideNotes notes or more is built on a thread of
    // its own, so that the window keeps drawing meanwhile; the song then must not change until
    // indexBuilt is true or the next SetSong (which waits for that build).
    void SetSong(const SongData* s, bool aside = false);
    // Every frame before Update: the names to write and the falling speed. A change of speed moves
    // the notes at the next Update; which keys are lit does not change with it.
    void SetOptions(const NotesViewOptions& o) { options = o; }
    // Once per frame, after the rectangle is set: lays out the keyboard and advances the lit keys,
    // their sparks and the bar lines to `songTime`.
    void Update(float songTime);
    // Once per frame, after Update and the background. Draws the song in `view` only when it is
    // the song of SetSong.
    void Draw(const SongView& view) const;
    void ClearLitKeys();  // no key stays lit after a jump in time

    void LayoutKeyboard();
    // Which white keys the keyboard shows this frame: all 52, or the song's range as the options
    // say. FindSongKeys finds that range once per song.
    void ChooseShownKeys();
    void FindSongKeys();
    void BuildKeyIndex(bool aside);
    void UpdateKeys();
    // The notes and runs this frame shows, into shownBars: each key's notes in the window once.
    void GatherShownBars();
    // While a huge song's index is still being built: its runs gathered from the parts' own notes.
    void GatherFromStore(float join);
    void GatherRuns(int key, size_t from, size_t to, float join);
    void UpdateBars();
    void LightKey(int part, int index);
    void DrawGrid() const;
    void DrawKeys(bool drawNotes) const;
    void DrawPlayerKeys() const;  // the keys the player holds, over the keyboard
    void DrawScore() const;       // the player's last score, at the top
    // Playing along (in notes_learning.cpp): the keys the song waits for, the computer keyboard's
    // letters on the keys they play, follow mode's marks over the keys, and the edges that set
    // the player's own notes apart on the falling strip: theirs, awaited, or missed.
    void DrawAwaitedKeys() const;
    void DrawKeyLetters() const;
    void DrawNoteMarks() const;
    void DrawProgress() const;  // the history's chart, under the score
    void DrawHandBox() const;   // the box dragged over notes to change their hand
    void DrawNoteEdges(int part, const NoteRecord& n, const RectF& bar) const;
    // How much of a part's notes shows: all of a part the player plays or hears, less of one the
    // player does not (the rest of the song while playing along, a part muted).
    [[nodiscard]] float PartOpacity(int part) const;
    // The key a song's key is drawn on: moved by the transposition the song is heard at.
    [[nodiscard]] int ShownKey(int key) const { return key + options.transpose; }
    void DrawNote(int part, int index) const;
    // A bar falling onto a key: a note, or a run drawn as the note it starts with made as long.
    // Without `glows`, the body alone.
    void DrawBar(int part, const NoteRecord& n, bool glows = true) const;
    // The record a shown bar is drawn from.
    [[nodiscard]] NoteRecord BarRecord(const ShownBar& b) const;
    // The note's record when the view draws it at this frame's time: in a drawn part's colour, on
    // the keyboard, with a length, not yet over and inside the window. Null otherwise.
    [[nodiscard]] const NoteRecord* ShownNote(int part, int index) const;
    // The names, when the options ask for them: on the falling notes that have room, drawn over all
    // the notes so that no neighbour's glow covers one; and on the lit keys, over the keyboard.
    void DrawNoteLabels() const;
    void DrawKeyLabels() const;
    [[nodiscard]] bool LightsItsKey(int part, int index) const;  // the note is the one its key is lit by
    // The colour a part's notes and keys are drawn in: the hands' two for a piano song, the voice's
    // own for a song read by voices. Percussion, which is not drawn, gives -1.
    [[nodiscard]] int PartColour(int part) const;

    // Controller-level controls, drawn after all panels with this view's colours. They take the
    // mouse as the panels do: a press on the toggle or an overlay button is noted in `controls`,
    // and a press on the overlay's progress bar is returned as a seek.
    void DrawViewToggle(ViewControls& controls) const;
    PanelRequest DrawOverlay(ViewControls& controls, const SongView& view) const;
    void DrawOverlayBackdrop(const SongView& view, float x0, float top, float bottomEdge) const;
};
