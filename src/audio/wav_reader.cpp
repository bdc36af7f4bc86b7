#include "audio/wav_reader.h"

#include <fstream>
#include <sstream>

#include "core/file_access.h"

namespace {

constexpr uint32_t kFmt = riff::FourCC("fmt ");
constexpr uint32_t kData = riff::FourCC("data");
constexpr uint32_t kWave = riff::FourCC("WAVE");

}  // namespace

int32_t WavReader::Open(const std::string& path) {
    if (path.empty()) return kWavInvalidArgument;
    // Opening a pipe would wait for a writer for ever; only regular files are read.
    if (NotARegularFile(path)) {
        Close();
        return kWavOk;
    }
    auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!file->is_open()) {
        // The file is gone or unreadable: no handle, so rewinds and seeks report kWavNotOpen.
        Close();
        return kWavOk;
    }
    return Parse(std::move(file));
}

int32_t WavReader::OpenMemory(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr && size != 0) return kWavInvalidArgument;
    // The reader keeps its own copy, so the caller's block may go at once.
    std::string copy = size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(bytes), size);
    return Parse(std::make_unique<std::istringstream>(std::move(copy), std::ios::binary));
}

int32_t WavReader::Parse(std::unique_ptr<std::istream> stream) {
    Close();
    dataSize = 0;
    handle = std::move(stream);
    if (!ReadFormat()) {
        format.reset();
        riffChunk = {};
    }
    // A file without a "data" chunk is a WAV with no data, not the data of an earlier file.
    dataChunk = {};
    if (RewindData() != kWavOk) return kWavOk;
    dataSize = dataChunk.size;
    return kWavOk;
}

// The outer "RIFF"/"WAVE" chunk and the "fmt " chunk inside it. Leaves `format` set only when all
// of it was read.
bool WavReader::ReadFormat() {
    std::istream& in = *handle;
    if (!riff::Descend(in, riffChunk) || riffChunk.id != riff::kRiff || riffChunk.formType != kWave)
        return false;
    riff::ChunkInfo fmt;
    if (!riff::FindChunk(in, riffChunk, kFmt, fmt) || fmt.size < 16) return false;
    uint8_t b[kFmtFieldBytes];
    if (!in.read(reinterpret_cast<char*>(b), kFmtFieldBytes)) return false;
    auto record = std::make_unique<WaveFormatRecord>();
    WavFormat& h = record->header;
    h = ParseFmtFields(b);
    // PCM needs nothing past the 16 bytes; a PCM chunk of 18 bytes carries an extra-size word that
    // is simply stepped over with the chunk. Other formats bring their extra bytes along.
    if (h.formatTag != kWaveFormatPcm) {
        uint8_t e[2];
        if (!in.read(reinterpret_cast<char*>(e), 2)) return false;
        h.extraSize = LoadLe16(e);
        record->extra.resize(h.extraSize);
        if (h.extraSize != 0 && !in.read(reinterpret_cast<char*>(record->extra.data()), h.extraSize))
            return false;
    }
    if (!riff::Ascend(in, fmt)) return false;
    format = std::move(record);
    return true;
}

int32_t WavReader::RewindData() {
    if (!handle) return kWavNotOpen;
    if (!riff::SeekTo(*handle, uint64_t(riffChunk.dataOffset) + 4) ||
        !riff::FindChunk(*handle, riffChunk, kData, dataChunk)) {
        dataChunk.size = 0;  // nowhere to read from: nothing is left to read
        return kWavOk;
    }
    // A size that claims more than the file holds (a render cut short, a damaged header) is cut
    // to what is there, so that playback lasts as long as the sound does.
    std::istream& in = *handle;
    const std::streampos start = in.tellg();
    if (start >= 0 && in.seekg(0, std::ios::end)) {
        const std::streamoff left = in.tellg() - start;
        if (left >= 0 && uint64_t(left) < dataChunk.size) dataChunk.size = uint32_t(left);
    }
    in.clear();
    in.seekg(start);
    return kWavOk;
}

int32_t WavReader::SeekFrame(uint32_t frame) {
    if (!handle) return kWavNotOpen;
    // Without a format there is no frame size; such a file has nothing to play anyway.
    const uint32_t blockAlign = format ? format->header.blockAlign : 0;
    uint64_t bytes = uint64_t(frame) * blockAlign;
    // From the start of the data, with its size cut to what the file holds, as a rewind leaves it.
    RewindData();
    // A frame beyond the data stands at its end, so the count of bytes left can never wrap round
    // and let the reads run on into whatever follows the data.
    if (bytes > dataChunk.size) bytes = dataChunk.size;
    if (!riff::SeekTo(*handle, uint64_t(dataChunk.dataOffset) + bytes)) return kWavOk;
    dataChunk.size -= uint32_t(bytes);
    return kWavOk;
}

uint32_t WavReader::Read(uint8_t* destination, uint32_t bytes) {
    if (!handle || destination == nullptr) return 0;
    const uint32_t n = bytes < dataChunk.size ? bytes : dataChunk.size;
    dataChunk.size -= n;
    if (n == 0) return 0;
    handle->read(reinterpret_cast<char*>(destination), n);
    if (uint32_t(handle->gcount()) != n) return 0;
    return n;
}

void WavReader::Close() {
    handle.reset();
    format.reset();
}
