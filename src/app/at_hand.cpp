// The window's aids beside its panels: the keys of this room, the legend's requests, the song's
// neighbours, the notes a toggle leaves, and the drawing of the words, the note, the overlay and
// the two song buttons over the panels.
#include "app/at_hand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "core/hand_name.h"
#include "core/song_folder.h"
#include "midi/lyrics.h"
#include "midi/play_along.h"
#include "platform/dialogs.h"
#include "platform/graphics.h"
#include "platform/window.h"
#include "ui/control_panel.h"
#include "view/help_overlay.h"
#include "view/notes_view.h"

namespace {

// From this size of file on, its words are read on a thread of their own.
constexpr size_t kWordsAsideBytes = size_t{1} << 20;

constexpr float kSongButtonSize = 18.0f;
// The view toggle's box at the notes view's top right, as the notes view draws it.
constexpr float kToggleInset = 30.0f;
constexpr int kViewToggleTip = 2;
// A control that cannot be used now, as the panel dims its own.
constexpr ColourF kDimmed = {0.22f, 0.26f, 0.32f, 1.0f};
constexpr int kIconColour = 10;  // light grey: there to be pressed
constexpr int kIconHover = 9;    // white

// A control not laid out this frame (an empty rectangle) holds no point.
bool Inside(const RectF& r, PointI p) {
    return r.right > r.left && r.ContainsClosed(static_cast<float>(p.x), static_cast<float>(p.y));
}

RectF ViewToggleBox(const NotesView& notes) {
    return {notes.right - kToggleInset, notes.top + 10.0f, notes.right - 10.0f, notes.top + kToggleInset};
}

// How the notes call part `part` of the song: a hand by its name, a voice by its number (the key
// that reaches it) and its instrument, as the legend lists it.
std::string PartName(const PlayerController& c, int part) {
    const SongData* song = c.shared.song.get();
    if (song != nullptr && song->reading == ReadingHands) return HandName(part);
    std::string name = "Voice " + std::to_string(part + 1);
    if (c.controlPanel != nullptr && part < static_cast<int>(c.controlPanel->legend.rows.size()))
        name += " (" + c.controlPanel->legend.rows[static_cast<size_t>(part)].text + ")";
    return name;
}

ToggleState TogglesOf(const PlayerController& c) {
    ToggleState t;
    t.namesOnNotes = c.viewOptions.labels.onNotes;
    t.namesOnKeys = c.viewOptions.labels.onKeys;
    t.flats = c.viewOptions.labels.flats;
    t.fitSong = c.viewOptions.fitSong;
    t.fallSpeed = c.viewOptions.fallSpeed;
    t.metronome = c.shared.practice.metronome;
    t.choice = c.shared.practice.choice;
    t.playingAlong = c.shared.playAlong.On();
    return t;
}

// In a few words, what changed between two frames' toggles; "" for nothing a note is kept for.
std::string NoteForChange(const ToggleState& was, const ToggleState& now, const PlayerController& c) {
    if (was.playingAlong != now.playingAlong) {
        if (!now.playingAlong) return "Playing along ended";
        std::string parts;
        for (int p = 0; p < kMaxParts; ++p) {
            if (now.choice.parts[static_cast<size_t>(p)] != PartSound::Muted) continue;
            parts += (parts.empty() ? "" : ", ") + PartName(c, p);
        }
        return "You play " + (parts.empty() ? std::string("along") : parts) + " (Tab ends it)";
    }
    if (was.namesOnNotes != now.namesOnNotes) return ToggleNote("Names on the notes", now.namesOnNotes);
    if (was.namesOnKeys != now.namesOnKeys) return ToggleNote("Names on the keys", now.namesOnKeys);
    if (was.flats != now.flats) return now.flats ? "Names with flats" : "Names with sharps";
    if (was.fitSong != now.fitSong) return now.fitSong ? "Keyboard fitted to the song" : "The whole keyboard";
    if (was.fallSpeed != now.fallSpeed) {
        char text[40];
        std::snprintf(text, sizeof text, "Notes fall at %gx", static_cast<double>(now.fallSpeed));
        return text;
    }
    if (was.metronome != now.metronome) return ToggleNote("Metronome", now.metronome);
    if (was.choice.drumsMuted != now.choice.drumsMuted)
        return now.choice.drumsMuted ? "Drums muted" : "Drums heard";
    // One part changed, or (a solo, a part left to the player) several: the one that left the
    // others' state is the one the user acted on.
    int changed = -1;
    for (int p = 0; p < kMaxParts; ++p) {
        const auto i = static_cast<size_t>(p);
        if (was.choice.parts[i] == now.choice.parts[i]) continue;
        if (changed < 0 || now.choice.parts[i] != PartSound::Heard) changed = p;
    }
    if (changed < 0) return "";
    const PartSound sound = now.choice.parts[static_cast<size_t>(changed)];
    const char* how = sound == PartSound::Muted ? " muted" : sound == PartSound::Solo ? " alone" : " heard";
    return PartName(c, changed) + how;
}

void DrawArrow(platform::RenderTarget& target, const RectF& box, bool forward, ColourF colour) {
    // A small triangle pointing back or on, drawn in lines as the transport's are.
    const float h = box.bottom - box.top;
    const float w = 8.0f;
    const float x0 = (box.left + box.right - w) * 0.5f;
    for (int k = 0; k < static_cast<int>(w); ++k) {
        const float x = x0 + static_cast<float>(k);
        const float half = (forward ? w - static_cast<float>(k) : static_cast<float>(k) + 1) * 0.5f;
        const float mid = box.top + h * 0.5f;
        target.DrawLine(x, mid - half, x, mid + half, colour, 1);
    }
}

// The two song buttons under the song's name, at its row's ends, and their tips.
void DrawSongButtons(PlayerController& c) {
    AtHand& a = c.atHand;
    ControlPanel* panel = c.controlPanel.get();
    a.songButtons = {};
    if (panel == nullptr || c.controls.fullView || panel->right <= panel->left) return;
    const float top = panel->top + panel->midiLabel.offsetY + 1;
    a.songButtons[SongBefore] = {panel->left + 10, top, panel->left + 10 + kSongButtonSize,
                                 top + kSongButtonSize};
    a.songButtons[SongAfter] = {panel->right - 10 - kSongButtonSize, top, panel->right - 10,
                                top + kSongButtonSize};
    const bool usable = c.shared.session.HasSong() && !c.shared.midiPath.empty();
    a.songButtonUsable = {usable, usable};
    platform::RenderTarget* target = panel->Target();
    for (int i = 0; i < 2 && target != nullptr; ++i) {
        const RectF& r = a.songButtons[static_cast<size_t>(i)];
        const bool over = Inside(r, c.mousePoint);
        const ColourF colour = !usable ? kDimmed
                               : over  ? panel->Brush(kIconHover)
                                       : panel->Brush(kIconColour);
        // The name under the buttons is centred and cut at the column's width: its ends give way.
        target->FillRect(r, panel->Brush(panel->background));
        target->DrawRect(r, colour, 1);
        DrawArrow(*target, r, i == SongAfter, colour);
    }
}

// The tip of the song buttons and of the view toggle: what they do and their key once the mouse
// rests, why not at once when they cannot act.
void DrawOwnTips(PlayerController& c) {
    AtHand& a = c.atHand;
    int over = -1;
    for (int i = 0; i < 2; ++i)
        if (Inside(a.songButtons[static_cast<size_t>(i)], c.mousePoint)) over = i;
    if (c.notesView != nullptr && Inside(ViewToggleBox(*c.notesView), c.mousePoint)) over = kViewToggleTip;
    if (over != a.tipButton) {
        a.tipButton = over;
        a.tipFrames = 0;
    }
    ++a.tipFrames;
    if (over < 0 || c.input.mouseDownNow || c.device == nullptr || c.device->target == nullptr) return;
    std::string tip;
    if (over == kViewToggleTip) {
        tip = c.controls.fullView ? "Back to the panels (Esc)" : "Full view: the notes alone (Esc)";
    } else if (!a.songButtonUsable[static_cast<size_t>(over)]) {
        tip = "Load a MIDI file first: the songs beside it are in its folder";
    } else {
        tip = over == SongBefore ? "The song before this one in its folder (Page Up)"
                                 : "The next song in its folder (Page Down)";
    }
    const bool why = over != kViewToggleTip && !a.songButtonUsable[static_cast<size_t>(over)];
    if (!why && a.tipFrames < ControlPanel::kTipFrames) return;
    (void)DrawTooltip(*c.device->target, tip, c.mousePoint, {0, 0, c.designWidth, c.designHeight});
}

}  // namespace

double AtHand::Now(PlayerController& c) {
    const FrameTimer& clock = c.transport.Clock();
    return clock.frequency > 0 ? static_cast<double>(clock.Now()) / static_cast<double>(clock.frequency)
                               : 0.0;
}

bool TakeHandyKey(PlayerController& c, const platform::InputMessage& message) {
    AtHand& a = c.atHand;
    if (a.help.OnKeyDown(message)) return true;
    const uint32_t key = message.keyCode;
    if (message.ctrl && (key == 'o' || key == 'O')) {
        // "Load MIDI", exactly as the button asks for it.
        if (!message.repeat && c.ControlPanelSnapshot().canStart) {
            PanelRequest request;
            request.intent = PanelIntent::ChooseMidi;
            c.HandlePanelRequest(request);
        }
        return true;
    }
    if (key == platform::kKeyPageUp || key == platform::kKeyPageDown) {
        if (!message.repeat) StepSong(c, key == platform::kKeyPageDown ? 1 : -1);
        return true;
    }
    // Alt with a digit: the parts past the ninth, which the plain digits cannot reach.
    if (message.alt && key >= '0' && key <= '9') {
        const int part = PartForKey(message);
        if (!message.repeat && part >= 0) (void)ActOnPart(c, part, PartAction::Mute);
        return true;
    }
    return false;
}

bool TakeHandyPress(PlayerController& c) {
    AtHand& a = c.atHand;
    a.help.note.Clear();
    if (a.help.keysShown) {
        a.help.keysShown = false;  // the press only closes the list; nothing under it acts
        return true;
    }
    for (int i = 0; i < 2; ++i) {
        if (!Inside(a.songButtons[static_cast<size_t>(i)], c.mousePoint)) continue;
        if (a.songButtonUsable[static_cast<size_t>(i)]) StepSong(c, i == SongAfter ? 1 : -1);
        return true;
    }
    // The view toggle and the full view's buttons act when the button comes up, by what the last
    // frame saw held down; a tap that goes down and up between two frames is kept here instead.
    if (c.notesView != nullptr && Inside(ViewToggleBox(*c.notesView), c.mousePoint))
        c.controls.toggleRequested = true;
    if (c.controls.fullView && c.controls.overlayActive && c.controls.pendingIntent == PanelIntent::None) {
        const SongView view = c.ViewOfSong();
        if (view.songLoaded && view.songReady && !view.busy) {
            const PanelIntent intents[3] = {
                PanelIntent::Rewind, view.play == PlayView::Playing ? PanelIntent::Pause : PanelIntent::Play,
                PanelIntent::Stop};
            for (int b = 0; b < 3; ++b)
                if (Inside(c.controls.overlayButtons[b], c.mousePoint)) c.controls.pendingIntent = intents[b];
        }
    }
    return false;
}

void TakeWheel(PlayerController& c, const platform::InputMessage& message) {
    if (c.controlPanel != nullptr && !c.controls.fullView)
        (void)c.controlPanel->legend.Wheel(c.mousePoint, message.wheel);
}

bool ActOnPart(PlayerController& c, int part, PartAction action) {
    const SongData* song = c.shared.song.get();
    if (song == nullptr || !c.shared.session.HasSong()) return false;
    PracticeChoice& choice = c.shared.practice.choice;
    bool changed = false;
    if (part == kDrumsPart) {
        // The drums have no notes to play along with and nothing to be alone with.
        if (song->percussionNotes <= 0 || action == PartAction::Solo || action == PartAction::Play)
            return false;
        choice.drumsMuted = !choice.drumsMuted;
        changed = true;
    } else if (part >= 0 && part < song->PartsInUse()) {
        switch (action) {
            case PartAction::Cycle:
                changed = choice.CyclePart(part);
                break;
            case PartAction::Mute:
                changed = choice.ToggleMute(part);
                break;
            case PartAction::Solo:
                changed = choice.ToggleSolo(part);
                break;
            case PartAction::Play:
                // Playing along may first offer the take for saving, a dialog that waits for the
                // frame's update and for the mouse button to be up.
                c.atHand.playPart = part;
                return true;
        }
    }
    if (changed) c.transport.ApplyPractice();
    return changed;
}

void KeepSongAmongRecent(PlayerController& c) {
    AtHand& a = c.atHand;
    // The desktop's list of recent files, which its own "Recent" places show too. Adding to it
    // may start the desktop's toolkit, which is no work for a frame being drawn: it is done once
    // the frame is, and for a huge song once its notes are drawn from their index, so that its
    // first frames are not held up by it.
    const bool notesShown =
        c.notesView == nullptr || (c.notesView->song == c.shared.song.get() && c.notesView->indexBuilt);
    if (c.shared.session.HasSong() && notesShown && !c.shared.midiPath.empty() &&
        c.shared.midiPath != a.recentAdded) {
        a.recentAdded = c.shared.midiPath;
        if (c.shared.dialogs != nullptr) c.shared.dialogs->AddRecentFile(a.recentAdded);
    }
    if (c.shared.dialogs != nullptr) c.shared.dialogs->Idle();
}

void RunHandyAction(PlayerController& c) {
    AtHand& a = c.atHand;
    if (a.playPart < 0 || c.input.mouseDownNow) return;
    const int part = a.playPart;
    a.playPart = -1;
    const SongData* song = c.shared.song.get();
    if (song == nullptr || !c.shared.session.HasSong() || part >= song->PartsInUse()) return;
    PracticeChoice& choice = c.shared.practice.choice;
    if (c.shared.playAlong.On()) {
        const PlayedParts played = choice.Mutes(song->PartsInUse()).parts;
        c.playAlong.End();
        // The part played alone already: its button ends playing along.
        if (played.count() == 1 && played.test(static_cast<size_t>(part))) return;
    }
    (void)choice.LeaveToPlayer(part);
    c.transport.ApplyPractice();
    c.playAlong.Toggle(false);
}

void StepSong(PlayerController& c, int step) {
    AtHand& a = c.atHand;
    if (!c.shared.session.HasSong() || c.shared.midiPath.empty()) {
        a.help.note.Show("Load a MIDI file first", AtHand::Now(c));
        return;
    }
    const std::string next = NeighbourSong(c.shared.midiPath, step);
    if (next.empty()) {
        a.help.note.Show(step > 0 ? "The last song in its folder" : "The first song in its folder",
                         AtHand::Now(c));
        return;
    }
    // As a dropped file: not while another load or an action is still under way.
    if (!c.DropFile(next)) a.help.note.Show("Still loading: try again in a moment", AtHand::Now(c));
}

void DrawAtHand(PlayerController& c) {
    AtHand& a = c.atHand;
    const ToggleState now = TogglesOf(c);
    if (c.shared.midiBytes != a.wordsOf || !a.seen) {
        // Another song: its words, and its kept choice taken without a note.
        a.wordsOf = c.shared.midiBytes;
        a.help.lyrics = SongLyrics{};
        a.wordsAside = {};  // the words of the song before, if they are still being read, are let go
        if (a.wordsOf && a.wordsOf->size() >= kWordsAsideBytes) {
            a.wordsAside = std::async(
                std::launch::async, [bytes = a.wordsOf] { return ReadLyrics(bytes->data(), bytes->size()); });
        } else if (a.wordsOf) {
            a.help.lyrics = ReadLyrics(a.wordsOf->data(), a.wordsOf->size());
        }
        a.last = now;
        a.seen = true;
    }
    if (a.wordsAside.valid() && a.wordsAside.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        a.help.lyrics = a.wordsAside.get();
    if (const std::string note = NoteForChange(a.last, now, c); !note.empty())
        a.help.note.Show(note, AtHand::Now(c));
    a.last = now;
    DrawSongButtons(c);
    // The panel's tip was drawn before the buttons, and may lie over them: it goes on top again.
    if (ControlPanel* panel = c.controlPanel.get();
        panel != nullptr && !panel->tip.empty() && !c.controls.fullView && panel->Target() != nullptr) {
        HelpColours colours;
        colours.fill = panel->Brush(panel->background);
        colours.text = panel->Brush(PalText);
        (void)DrawTooltip(*panel->Target(), panel->tip, c.mousePoint,
                          {0, panel->top, panel->right, panel->bottom}, colours);
    }
    platform::RenderTarget* target = c.device != nullptr ? c.device->target : nullptr;
    if (target == nullptr || c.notesView == nullptr) return;
    const NotesView& n = *c.notesView;
    const bool words = c.shared.session.HasSong();
    a.help.lyricsShown = words;
    a.help.Draw(*target, {0, 0, c.designWidth, c.designHeight}, {n.left, n.top, n.right, n.bottom},
                n.top + n.notesHeight, std::max(0.0f, c.shownTime), AtHand::Now(c));
    if (!a.help.keysShown) DrawOwnTips(c);
}

std::string DialogFolder(FolderKind kind) {
    const std::string folder = ReadSettings().Folder(kind);
    std::error_code error;
    return !folder.empty() && std::filesystem::is_directory(folder, error) ? folder : std::string();
}

void KeepDialogFolder(FolderKind kind, const std::string& chosen) {
    const std::string folder = std::filesystem::path(chosen).parent_path().string();
    if (folder.empty()) return;
    // Read afresh and changed alone, so that another window's settings stay as they are.
    (void)UpdateSettings([&](Settings& settings) { settings.Folder(kind) = folder; });
}
