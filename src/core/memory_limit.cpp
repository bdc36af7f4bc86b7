#include "core/memory_limit.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int64_t kMB = int64_t{1} << 20;
constexpr int64_t kLeastDefault = 256 * kMB;

// 0: the default. Read by whichever thread loads a song.
std::atomic<int64_t> gLimit{0};

}  // namespace

int64_t DefaultSongMemoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 4 * kLeastDefault;
    return std::max(kLeastDefault, static_cast<int64_t>(pages) * pageSize / 4);
}

int64_t SongMemoryLimit() {
    const int64_t set = gLimit.load(std::memory_order_relaxed);
    return set > 0 ? set : DefaultSongMemoryLimit();
}

void SetSongMemoryLimit(int64_t bytes) {
    gLimit.store(std::max<int64_t>(bytes, 0), std::memory_order_relaxed);
}

bool ParseMemorySize(const std::string& text, int64_t& bytes) {
    const char* s = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(s, &end);
    if (end == s || !(value > 0) || !std::isfinite(value)) return false;
    while (*end == ' ') ++end;
    double unit = 1;
    switch (std::toupper(static_cast<unsigned char>(*end))) {
        case 'K':
            unit = 1024.0;
            break;
        case 'M':
            unit = 1024.0 * 1024.0;
            break;
        case 'G':
            unit = 1024.0 * 1024.0 * 1024.0;
            break;
        case 'T':
            unit = 1024.0 * 1024.0 * 1024.0 * 1024.0;
            break;
        case '\0':
            break;
        default:
            return false;
    }
    if (*end != '\0') {
        ++end;
        if (std::toupper(static_cast<unsigned char>(*end)) == 'B') ++end;
        if (*end != '\0') return false;
    }
    const double total = value * unit;
    // Past an exabyte is no machine's memory, and would not fit the count.
    if (!(total >= 1) || total > 1e18) return false;
    bytes = static_cast<int64_t>(total);
    return true;
}

std::string MemorySizeText(int64_t bytes) {
    char text[48];
    if (bytes >= 1024 * kMB) {
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1024.0 * kMB));
    } else {
        std::snprintf(text, sizeof text, "%lld MB", static_cast<long long>((bytes + kMB - 1) / kMB));
    }
    return text;
}
