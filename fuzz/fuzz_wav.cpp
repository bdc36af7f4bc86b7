// Feeds arbitrary bytes to the WAV reader, then rewinds, seeks and reads the way the player does.
// Besides the sanitizers' checks it asserts what the player relies on: a read never hands out more
// than was asked or more than was left, and the format record matches its extra size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/wav_reader.h"

namespace {

void ReadSome(WavReader& r, std::vector<uint8_t>& buf, uint32_t wanted) {
    // A bounded number of reads: a data chunk may claim 4 GiB over a file of a few bytes.
    for (int i = 0; i < 16; ++i) {
        const uint32_t left = r.dataChunk.size;
        const uint32_t got = r.Read(buf.data(), wanted);
        if (got > wanted || got > left) std::abort();
        if (r.dataChunk.size != left - (wanted < left ? wanted : left)) std::abort();
        if (got == 0) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last four bytes, when there are enough, steer the seeks; the reader sees all the bytes.
    uint32_t steer = 0;
    if (size >= 4) std::memcpy(&steer, data + size - 4, 4);

    WavReader r;
    if (r.OpenMemory(data, size) != kWavOk) std::abort();
    if (r.format && r.format->Bytes() != 18u + r.format->header.extraSize) std::abort();

    std::vector<uint8_t> buf(4096);
    ReadSome(r, buf, 1 + steer % 4096);
    if (r.RewindData() != kWavOk) std::abort();
    if (r.dataChunk.size != r.dataSize) std::abort();
    ReadSome(r, buf, 4096);
    if (r.SeekFrame(steer >> 8) != kWavOk) std::abort();
    if (r.dataChunk.size > r.dataSize) std::abort();
    ReadSome(r, buf, 777);
    r.Close();
    return 0;
}
