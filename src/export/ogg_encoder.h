// The Ogg Vorbis encoder: turns the rendered WAV into an Ogg Vorbis file, normally on a thread of
// its own, reporting progress through a callback and failures through a text buffer and a code.
//
// Index:
//   EncoderMessage, EncoderCallback   the progress protocol
//   EncoderSettings, EncoderTags       what is encoded and the comment fields it carries
//   EncodeWavToOgg                     one file, start to end
//   EncoderJob, OggEncodeThread        the block the export driver hands to the encoder thread
//   OnEncoderProgress                  the driver's callback: the shared export progress word
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Sent to the progress callback, always in this order: one Started, any number of Progress, and
// then exactly one of Finished or Failed, which is the encoder's last word.
enum class EncoderMessage : uint32_t {
    Started,   // value 0: before anything is opened
    Progress,  // value: percentage of the source consumed, 0-100
    Finished,  // value 0: the target is complete
    Failed,    // value: the failure code (an ExportFailure); the text is written
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

// The error text buffer's size, terminator included.
inline constexpr size_t kEncoderErrorTextSize = 1000;

// Encodes the WAV at sourcePath into an Ogg Vorbis file at targetPath. The source is read through
// the program's WAV reader: any chunk layout, integer samples of 8 to 32 bits or floats, mono or
// stereo; exactly the data chunk is encoded, whole frames only. Mono is spread to both channels.
// The target is replaced only once the new file is complete.
//
// Returns 1 on success. On failure returns 0 after writing the reason into errorText (when not
// null, kEncoderErrorTextSize bytes), leaving the target as it was, and sending
// EncoderMessage::Failed with the code. The callback may be null.
int EncodeWavToOgg(char* errorText, const char* sourcePath, const char* targetPath,
                   const EncoderSettings& settings, const EncoderTags& tags, EncoderCallback callback,
                   void* context);

// Everything the encoder thread needs, owned by the job so the thread shares nothing with its
// starter but the callback and the error buffer.
struct EncoderJob {
    std::string sourcePath;
    std::string targetPath;
    EncoderSettings settings;
    EncoderTags tags{};
    EncoderCallback callback = nullptr;
    void* callbackContext = nullptr;
    char* errorText = nullptr;  // kEncoderErrorTextSize bytes, for the encoder's sole use while it runs
    int result = 0;             // EncodeWavToOgg's result; read it once the thread has ended
};

// Fills a job the way an export does: stereo, quality-based, the quality of `level`, every tag
// empty but DESCRIPTION, which carries the song's display name, and OnEncoderProgress as the
// callback.
void FillEncoderJob(EncoderJob& job, const std::string& sourcePath, const std::string& targetPath,
                    const std::string& displayName, int level, char* errorText);

// The encoder thread's body: encodes the job and stores the result in it.
int OggEncodeThread(EncoderJob& job);

// The export driver's callback: writes the shared export progress word. Started -> 0,
// Progress -> the value, Finished and Failed -> 100; other messages change nothing. Returns 0.
int OnEncoderProgress(void* context, EncoderMessage message, int32_t value);
