#include "ui/window_help.h"

#include <algorithm>

#include "platform/window.h"
#include "ui/key_list.h"
#include "view/lyrics_view.h"

int PartForKey(const platform::InputMessage& key) {
    const uint32_t c = key.keyCode;
    if (c < '0' || c > '9') return -1;
    if (key.alt) return c == '0' ? 18 : static_cast<int>(c - '1') + 9;
    return c == '0' ? -1 : static_cast<int>(c - '1');
}

std::string ToggleNote(const std::string& what, bool on) {
    return what + (on ? " on" : " off");
}

bool WindowHelp::OnKeyDown(const platform::InputMessage& key) {
    note.Clear();
    if (key.repeat) return key.keyCode == platform::kKeyF1 || key.keyCode == '?';
    if (key.keyCode == platform::kKeyF1 || key.keyCode == '?') {
        keysShown = !keysShown;
        return true;
    }
    if (key.keyCode == platform::kKeyEscape && keysShown) {
        keysShown = false;
        return true;
    }
    return false;
}

void WindowHelp::Draw(platform::RenderTarget& target, const RectF& scene, const RectF& notes,
                      float keyboardTop, double songTime, double now) const {
    if (lyricsShown && !lyrics.Empty() && keyboardTop > notes.top + 60) {
        // A band as tall as the text needs, a little above the keyboard so the lit keys stay clear.
        const float height = std::min(34.0f, (keyboardTop - notes.top) * 0.12f);
        DrawLyrics(target, lyrics, songTime,
                   {notes.left, keyboardTop - 6 - height, notes.right, keyboardTop - 6});
    }
    DrawScreenNote(target, note, now, notes);
    if (keysShown) {
        size_t count = 0;
        const KeyHelp* keys = WindowKeys(count);
        DrawKeyOverlay(target, scene, keys, count);
    }
}
