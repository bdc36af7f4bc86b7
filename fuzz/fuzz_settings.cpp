// Feeds arbitrary bytes to the settings parser and to the parser of what is remembered of a song.
// Besides the sanitizers' checks, the results must hold together: a value never spans lines, the
// display name holds no folder and is never longer than the path, the volume is a percent and a
// remembered loop lies forwards inside the longest song, whatever the file says.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/file_access.h"
#include "settings/settings.h"
#include "settings/song_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader refuses files above 1 MiB, so larger inputs test nothing the program would see.
    if (size > (size_t{1} << 20)) return 0;
    Settings settings;
    ParseSettingsText(settings, reinterpret_cast<const char*>(data), size);

    const std::string& path = settings.soundFontPath;
    const std::string name = FileTitleFromPath(path);
    if (name.size() > path.size()) std::abort();
    if (std::memchr(path.data(), '\n', path.size()) != nullptr) std::abort();
    if (name.find('/') != std::string::npos) std::abort();
    if (settings.volumePercent < 0 || settings.volumePercent > kFullVolume) std::abort();

    SongMemory memory;
    ParseSongMemory(memory, reinterpret_cast<const char*>(data), size);
    if (memory.loopStart >= 0 && !(memory.loopEnd > memory.loopStart && memory.loopEnd <= 3600.0))
        std::abort();
    return 0;
}
