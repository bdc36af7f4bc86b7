// An engraved score drawn with cairo: PDF pages, or the one page of an SVG file or a PNG picture
// (at two pixels to the point), the music's symbols taken from the music font by their glyph names.
#pragma once

#include <string>

#include "core/failure.h"
#include "notation/page_engraving.h"

namespace cli {

enum class PageFormat { Pdf, Svg, Png };

// Draws `engraving` into `bytes`. Fails when the music font is missing or cannot be read.
Failure DrawScorePages(const Engraving& engraving, PageFormat format, std::string& bytes);

}  // namespace cli
