// Text laid out and rendered by SDL2_ttf, kept per render target. A format's size is the em size in
// pixels. Lines are the font's line skip apart; a block of n lines is (n - 1) line skips plus one
// font height tall. Each line is rendered once into a white-on-transparent texture of the target's
// renderer, so a frame of unchanged labels costs one lookup and one copy per line. Text with
// characters the interface's face lacks (Chinese or Japanese names) is laid out and drawn whole in
// an installed face that has them all, rather than as boxes; with none installed, boxes it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/font_files.h"
#include "platform/graphics.h"

struct SDL_Renderer;
struct SDL_Texture;
typedef struct _TTF_Font TTF_Font;

namespace platform {

class TextCache {
  public:
    struct Line {
        SDL_Texture* texture = nullptr;  // white on transparent; null for an empty line
        int width = 0;
        int height = 0;
    };
    struct Block {
        std::vector<Line> lines;
        std::vector<std::string> text;  // what each line reads
        int lineSkip = 0;
        int fontHeight = 0;
        int ascent = 0;  // from the top of a line to its baseline
        uint64_t lastUsedFrame = 0;
    };

    TextCache() = default;
    ~TextCache() { Release(); }
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    // Starts the font engine for text drawn by this renderer; false when that fails.
    bool Start(SDL_Renderer* renderer);
    // Frees the textures, the fonts and the font engine; called before the renderer is destroyed.
    void Release();

    // The lines of the text in the rectangle, wrapped and trimmed as the format says, rendered;
    // null when the format's font cannot be had. Valid until the next call.
    const Block* LayOut(const std::string& text, const TextFormat& format, const RectF& r);
    // How many pixels wide `text` is on one line at the format's size; 0 without a font.
    [[nodiscard]] int Width(const std::string& text, const TextFormat& format);
    void StartFrame();  // ages the blocks; those unused for a while are let go
    [[nodiscard]] size_t Count() const { return blocks_.size(); }

  private:
    struct FontSlot {
        int pixelSize;
        bool bold;
        TTF_Font* font;    // null when the face could not be opened; not retried
        std::string file;  // a face other than the interface's; empty for the interface's own
        int index;
        bool music;  // the music font
    };

    TTF_Font* Font(const TextFormat& format);
    // `font` when it has every character of `text`, else a face that has them all, if one does.
    TTF_Font* FontCovering(TTF_Font* font, const std::string& text, const TextFormat& format);
    void Render(Block& block, TTF_Font* font) const;
    void EvictOld();
    static void Destroy(Block& block);

    SDL_Renderer* renderer_ = nullptr;
    bool started_ = false;
    std::vector<FontSlot> fonts_;
    // The faces found for sets of missing characters (bold or not): a label laid out again at a
    // new width does not ask fontconfig again, which takes milliseconds.
    struct FaceFound {
        std::u32string missing;
        bool bold;
        std::optional<FontFace> face;
    };
    std::vector<FaceFound> facesFound_;
    std::unordered_map<std::string, Block> blocks_;
    std::string keyBuffer_;  // reused for every lookup so that a cached label allocates nothing
    uint64_t frameNumber_ = 0;
};

}  // namespace platform
