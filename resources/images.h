// The program's PNG images, embedded into the binaries at build time and found by number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace res {

struct EmbeddedFile {
    const uint8_t* data = nullptr;  // null when there is no image of that number
    size_t size = 0;
};

// The image with the given resource number (105 is the window icon).
EmbeddedFile FindImage(int id);

// Colours of the notes view. Colours 0 and 1 are the two hands', drawn with their own images (125 to
// 141); every further colour has five images of its own, numbered upwards from 200 past the string
// table's and the hands' numbers. A song read by voices gives its voices the colours in order.
inline constexpr int kNoteColourCount = 20;
inline constexpr int kFirstVoiceImage = 200;

enum VoiceImageSlot : int {
    VoiceBodyWhite,     // note body over a white key
    VoiceBodyBlack,     // note body over a black key, a deeper shade
    VoiceGlow,          // glow around either body
    VoiceLitWhiteKeys,  // octave with its white keys lit and its black keys plain
    VoiceLitBlackKeys,  // the octave's top 341 rows with its black keys lit (only they are cut from it)
    VoiceImageSlots,
};

// The number of one image of colour 2 .. kNoteColourCount - 1.
constexpr int VoiceImageId(int colour, int slot) {
    return kFirstVoiceImage + (colour - 2) * VoiceImageSlots + slot;
}

// The colour a part's colour index is drawn in: past the last colour the set starts again, so that
// the voices of a large band keep changing colour from one to the next.
constexpr int WrapNoteColour(int index) {
    return index < 0 ? 0 : index % kNoteColourCount;
}

// The note body of a colour over a white key: the colour as the notes view shows it most.
constexpr int NoteBodyImage(int colour) {
    return colour == 0 ? 131 : colour == 1 ? 127 : VoiceImageId(colour, VoiceBodyWhite);
}

}  // namespace res
