// The Ogg Vorbis encoder: turns the rendered WAV into an Ogg Vorbis file on the calling thread (an
// export job runs it on a thread of its own), reporting progress through a callback that may also
// stop it, and returning a Failure.
//
// Index:
//   EncoderMessage, EncoderCallback   the progress protocol
//   EncoderSettings, EncoderTags       what is encoded and the comment fields it carries
//   EncodeWavToOgg                     one file, start to end
//   OggSettingsForLevel, OggTagsForSong the settings and tags of an export
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "export/export_format.h"

// Sent to the progress callback, always in this order: one Started, any number of Progress, and
// then exactly one of Finished or Failed, which is the encoder's last word.
enum class EncoderMessage : uint32_t {
    Started,   // value 0: before anything is opened
    Progress,  // value: percentage of the source consumed, 0-100
    Finished,  // value 0: the target is complete
    Failed,    // value: the FailureKind, as an integer
};

// context is the pointer given with the callback.
using EncoderCallback = int (*)(void* context, EncoderMessage message, int32_t value);

// Seven 32-bit words, as the driver fills them.
struct EncoderSettings {
    int32_t channels = 2;                // channels of the encoded stream; only 2 is supported
    int32_t mode = 0;                    // 0: quality-based variable bit rate, the only mode supported
    int32_t bitRates[4] = {0, 0, 0, 0};  // for bit-rate managed modes; unused in mode 0
    float quality = 0.5f;                // Vorbis quality; above 1.0 is lowered to 1.0
};

// The comment fields: 15 slots of 32 bytes, each a zero-terminated UTF-8 string, empty when not
// set. Every field goes into the file, empty or not.
inline constexpr int kTagSlots = 15;
inline constexpr size_t kTagSlotBytes = 32;
enum TagSlot : int {
    TagTitle = 0,
    TagVersion = 1,
    TagAlbum = 2,
    TagTrackNumber = 3,
    TagArtist = 4,
    TagPerformer = 5,
    TagCopyright = 6,
    TagLicense = 7,
    TagOrganisation = 8,
    TagDescription = 9,
    TagGenre = 10,
    TagDate = 11,
    TagLocation = 12,
    TagContact = 13,
    TagIsrc = 14,
};
using EncoderTags = std::array<std::array<char, kTagSlotBytes>, kTagSlots>;

// Stores `text` in a slot, cut to at most 31 bytes at a character boundary so the field stays
// valid UTF-8.
void SetTag(EncoderTags& tags, TagSlot slot, const std::string& text);

// Comment fields beyond the slots, of any length, written after them in this order.
using OggComments = std::vector<std::pair<std::string, std::string>>;

// Encodes the WAV at sourcePath into an Ogg Vorbis file at targetPath. The source is read through
// the program's WAV reader: any chunk layout, integer samples of 8 to 32 bits or floats, mono or
// stereo; exactly the data chunk is encoded, whole frames only. Mono is spread to both channels.
// The target is replaced only once the new file is complete.
//
// On failure the target is as it was, EncoderMessage::Failed is sent with the kind, and the
// Failure says why. A callback that answers a message with non-zero stops the encoding: it ends
// as Cancelled. The callback may be null.
[[nodiscard]] Failure EncodeWavToOgg(const std::string& sourcePath, const std::string& targetPath,
                                     const EncoderSettings& settings, const EncoderTags& tags,
                                     EncoderCallback callback, void* context, const OggComments& extra = {});

// The settings of an export at a quality level: stereo, quality-based, the level's Vorbis quality.
[[nodiscard]] EncoderSettings OggSettingsForLevel(int level);

// The tags of an export: DESCRIPTION carries the song's display name, TITLE and COPYRIGHT the
// song's own tags; every other slot is empty.
[[nodiscard]] EncoderTags OggTagsForSong(const std::string& displayName, const AudioTags& song = {});

// What has no slot: the composer, when known, and the program as the ENCODER.
[[nodiscard]] OggComments OggExtraComments(const AudioTags& song);
