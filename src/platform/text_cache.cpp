// Contents: starting and releasing; fonts; wrapping and trimming; layout and rendering; ageing.
#include "platform/text_cache.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/font_files.h"
#include "platform/music_font.h"

namespace platform {

bool TextCache::Start(SDL_Renderer* renderer) {
    renderer_ = renderer;
    started_ = TTF_Init() == 0;  // reference-counted by SDL_ttf
    return started_;
}

void TextCache::Release() {
    for (auto& [key, block] : blocks_) Destroy(block);
    blocks_.clear();
    for (const FontSlot& slot : fonts_) {
        if (slot.font != nullptr) TTF_CloseFont(slot.font);
    }
    fonts_.clear();
    facesFound_.clear();
    if (started_) TTF_Quit();
    started_ = false;
    renderer_ = nullptr;
}

void TextCache::StartFrame() {
    ++frameNumber_;
    if ((frameNumber_ & 63) == 0) EvictOld();
}

TTF_Font* TextCache::Font(const TextFormat& format) {
    if (!started_ || !(format.size >= 1.0f) || format.size > 4096.0f) return nullptr;
    const int pixelSize = static_cast<int>(std::lround(format.size));
    const bool bold = format.weight >= 600;
    for (const FontSlot& slot : fonts_) {
        if (slot.pixelSize == pixelSize && slot.music == format.music &&
            (format.music || slot.bold == bold) && slot.file.empty())
            return slot.font;
    }
    if (format.music) {
        // Opened once a size; a missing font is said once and not looked for again at that size.
        const std::string path = MusicFontFile();
        TTF_Font* font = path.empty() ? nullptr : TTF_OpenFont(path.c_str(), pixelSize);
        if (font == nullptr && !path.empty())
            std::fprintf(stderr, "text: cannot open the music font %s: %s\n", path.c_str(), TTF_GetError());
        fonts_.push_back({pixelSize, false, font, std::string(), 0, true});
        return font;
    }
    const FontFiles& files = SystemFontFiles();
    const std::string& path = bold ? files.bold : files.regular;
    TTF_Font* font = TTF_OpenFontIndex(path.c_str(), pixelSize, bold ? files.boldIndex : files.regularIndex);
    if (font == nullptr) {
        std::fprintf(stderr, "text: cannot open the font %s: %s\n", path.c_str(), TTF_GetError());
    } else if (bold && files.boldIsSynthetic) {
        TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    }
    fonts_.push_back({pixelSize, bold, font, std::string(), 0, false});
    return font;
}

namespace {

// The characters of UTF-8 text; a malformed sequence yields U+FFFD and is stepped over by a byte.
std::u32string CodePoints(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int length = b < 0x80           ? 1
                           : (b >> 5) == 0x6  ? 2
                           : (b >> 4) == 0xE  ? 3
                           : (b >> 3) == 0x1E ? 4
                                              : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out.push_back(U'\uFFFD');
            ++i;
        } else {
            out.push_back(c);
            i += static_cast<size_t>(length);
        }
    }
    return out;
}

}  // namespace

int TextCache::Width(const std::string& text, const TextFormat& format) {
    TTF_Font* font = Font(format);
    if (font == nullptr || text.empty()) return 0;
    if (!format.music) font = FontCovering(font, text, format);
    int w = 0, h = 0;
    if (font == nullptr || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0) return 0;
    return w;
}

TTF_Font* TextCache::FontCovering(TTF_Font* font, const std::string& text, const TextFormat& format) {
    std::u32string missing;
    bool plain = true;
    for (const unsigned char c : text) plain = plain && c < 0x80;
    if (plain) return font;  // every face the interface may use has ASCII
    for (const char32_t c : CodePoints(text)) {
        if (c < 0x20 || c > 0x10FFFF || TTF_GlyphIsProvided32(font, static_cast<Uint32>(c)) != 0) continue;
        if (missing.find(c) == std::u32string::npos) missing.push_back(c);
    }
    if (missing.empty()) return font;
    const bool bold = format.weight >= 600;
    auto known = std::find_if(facesFound_.begin(), facesFound_.end(),
                              [&](const FaceFound& f) { return f.bold == bold && f.missing == missing; });
    if (known == facesFound_.end()) {
        facesFound_.push_back({missing, bold, FaceCovering(missing, bold)});
        known = facesFound_.end() - 1;
    }
    const std::optional<FontFace> face = known->face;
    if (!face) return font;  // drawn with boxes for what no installed face has
    const int pixelSize = static_cast<int>(std::lround(format.size));
    for (const FontSlot& slot : fonts_) {
        if (slot.pixelSize == pixelSize && slot.bold == bold && !slot.music && slot.file == face->file &&
            slot.index == face->index)
            return slot.font != nullptr ? slot.font : font;
    }
    TTF_Font* other = TTF_OpenFontIndex(face->file.c_str(), pixelSize, face->index);
    if (other != nullptr && bold && TTF_GetFontStyle(other) == TTF_STYLE_NORMAL) {
        // Faces for these scripts seldom come in bold; emboldened, a bold label stays bold.
        const std::string style = TTF_FontFaceStyleName(other) != nullptr ? TTF_FontFaceStyleName(other) : "";
        if (style.find("Bold") == std::string::npos) TTF_SetFontStyle(other, TTF_STYLE_BOLD);
    }
    fonts_.push_back({pixelSize, bold, other, face->file, face->index, false});
    return other != nullptr ? other : font;
}

namespace {

// Byte length of the UTF-8 sequence that starts at s[i]; continuation bytes are skipped so that
// a cut never splits a character, even in malformed text.
size_t NextBoundary(const std::string& s, size_t i) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

int TextWidth(TTF_Font* font, const std::string& text) {
    int w = 0, h = 0;
    if (text.empty() || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0) return 0;
    return w;
}

bool Fits(TTF_Font* font, const std::string& text, float width) {
    return static_cast<float>(TextWidth(font, text)) <= width;
}

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026

// The longest start of `line` (the whole line at most) that, with trailing blanks removed and "…"
// added, fits in `width`; "…" alone when no character fits, and nothing when not even that does.
std::string TrimWithEllipsis(TTF_Font* font, const std::string& line, float width) {
    std::vector<size_t> cuts;  // byte offsets of character boundaries, ascending, the end included
    for (size_t i = 0; i < line.size(); i = NextBoundary(line, i)) cuts.push_back(i);
    cuts.push_back(line.size());
    auto candidate = [&](size_t cut) {
        std::string s = line.substr(0, cut);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
        return s + kEllipsis;
    };
    // Widths grow with the number of characters kept, so the longest fitting start is found by
    // bisection over the boundaries.
    size_t lo = 0, hi = cuts.size();  // cuts[0] == 0 keeps nothing; the answer lies in [lo, hi)
    if (!Fits(font, candidate(0), width)) return std::string();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (Fits(font, candidate(cuts[mid]), width)) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return candidate(cuts[lo]);
}

// Greedy wrapping of one paragraph at blanks. A word wider than the whole line is broken between
// characters rather than left to overflow.
void WrapParagraph(TTF_Font* font, const std::string& paragraph, float width,
                   std::vector<std::string>& lines) {
    std::string line;
    size_t i = 0;
    while (i < paragraph.size()) {
        size_t wordEnd = paragraph.find(' ', i);
        if (wordEnd == std::string::npos) wordEnd = paragraph.size();
        const std::string word = paragraph.substr(i, wordEnd - i);
        std::string joined = line.empty() ? word : line + " " + word;
        if (Fits(font, joined, width)) {
            line = std::move(joined);
        } else {
            if (!line.empty()) lines.push_back(std::move(line));
            line.clear();
            if (Fits(font, word, width)) {
                line = word;
            } else {
                for (size_t c = 0; c < word.size();) {
                    const size_t next = NextBoundary(word, c);
                    std::string longer = line + word.substr(c, next - c);
                    if (!line.empty() && !Fits(font, longer, width)) {
                        lines.push_back(std::move(line));
                        line = word.substr(c, next - c);
                    } else {
                        line = std::move(longer);
                    }
                    c = next;
                }
            }
        }
        i = wordEnd + 1;
    }
    lines.push_back(std::move(line));
}

}  // namespace

const TextCache::Block* TextCache::LayOut(const std::string& text, const TextFormat& format, const RectF& r) {
    TTF_Font* font = renderer_ != nullptr ? Font(format) : nullptr;
    if (font == nullptr) return nullptr;
    // Everything that changes the lines' content is in the key; colour and position are not.
    keyBuffer_.clear();
    const bool widthMatters = format.wrap || format.ellipsis;
    const bool heightMatters = format.wrap && format.ellipsis;
    const float width = widthMatters ? r.right - r.left : 0.0f;
    const float height = heightMatters ? r.bottom - r.top : 0.0f;
    char head[64];
    std::snprintf(head, sizeof head, "%d|%d|%d|%d|%a|%a|", static_cast<int>(std::lround(format.size)),
                  format.music           ? 2
                  : format.weight >= 600 ? 1
                                         : 0,
                  format.wrap ? 1 : 0, format.ellipsis ? 1 : 0, static_cast<double>(width),
                  static_cast<double>(height));
    keyBuffer_ += head;
    keyBuffer_ += text;
    auto found = blocks_.find(keyBuffer_);
    if (found != blocks_.end()) {
        found->second.lastUsedFrame = frameNumber_;
        return &found->second;
    }

    if (!format.music) font = FontCovering(font, text, format);
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
        if (format.wrap && !format.music) {
            WrapParagraph(font, paragraph, width, lines);
        } else {
            lines.push_back(std::move(paragraph));
        }
        start = end + 1;
    }

    Block entry;
    entry.lineSkip = TTF_FontLineSkip(font);
    entry.fontHeight = TTF_FontHeight(font);
    entry.ascent = TTF_FontAscent(font);
    if (format.ellipsis && !format.music) {
        // Lines that do not fit below each other are dropped and the last one kept says so.
        size_t keep = lines.size();
        if (format.wrap && entry.lineSkip > 0) {
            const float spare = height - static_cast<float>(entry.fontHeight);
            // Capped before the conversion: a huge or infinite height must not overflow it.
            const float more = std::min(spare / static_cast<float>(entry.lineSkip), 1.0e6f);
            const size_t fit = more >= 0 ? static_cast<size_t>(more) + 1 : 1;
            keep = std::min(keep, fit);
        }
        const bool cut = keep < lines.size();
        lines.resize(keep);
        for (size_t i = 0; i < lines.size(); ++i) {
            const bool last = i + 1 == lines.size();
            if ((cut && last) || !Fits(font, lines[i], width)) {
                lines[i] = TrimWithEllipsis(font, lines[i], width);
            }
        }
    }

    entry.text = std::move(lines);
    Render(entry, font);
    entry.lastUsedFrame = frameNumber_;
    return &blocks_.emplace(keyBuffer_, std::move(entry)).first->second;
}

void TextCache::Render(Block& block, TTF_Font* font) const {
    for (const std::string& line : block.text) {
        Line rendered;
        rendered.height = block.fontHeight;
        if (!line.empty()) {
            if (SDL_Surface* surface =
                    TTF_RenderUTF8_Blended(font, line.c_str(), SDL_Color{255, 255, 255, 255})) {
                rendered.texture = SDL_CreateTextureFromSurface(renderer_, surface);
                rendered.width = surface->w;
                rendered.height = surface->h;
                SDL_FreeSurface(surface);
                if (rendered.texture != nullptr)
                    SDL_SetTextureBlendMode(rendered.texture, SDL_BLENDMODE_BLEND);
            }
        }
        block.lines.push_back(rendered);
    }
}

void TextCache::Destroy(Block& block) {
    for (Line& line : block.lines) {
        if (line.texture != nullptr) SDL_DestroyTexture(line.texture);
        line.texture = nullptr;
    }
}

void TextCache::EvictOld() {
    // Labels that change every frame (a running time) would otherwise pile up; two seconds
    // unused at 60 frames a second is old.
    constexpr size_t kKeepBelow = 256;
    constexpr uint64_t kOldAfterFrames = 120;
    if (blocks_.size() < kKeepBelow) return;
    for (auto it = blocks_.begin(); it != blocks_.end();) {
        if (it->second.lastUsedFrame + kOldAfterFrames < frameNumber_) {
            Destroy(it->second);
            it = blocks_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace platform
