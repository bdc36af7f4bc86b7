#include "cli/score_pages.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/music_font.h"

namespace cli {
namespace {

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct FontFaceFree {
    void operator()(cairo_font_face_t* f) const { cairo_font_face_destroy(f); }
};

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// The FreeType face lives as long as cairo holds its font face: cairo may keep that in its cache
// past our last use, so the face is freed by cairo's own callback, not by us.
const cairo_user_data_key_t kFaceKey{};

void DoneFace(void* face) {
    FT_Done_Face(static_cast<FT_Face>(face));
}

void DrawTie(cairo_t* c, const TieMark& t, float space) {
    const double length = std::hypot(t.x2 - t.x1, t.y2 - t.y1);
    const double bow = std::min<double>(2.0 * space, 0.2 * length + 0.4 * space) * (t.up ? -1 : 1);
    const double thick = 0.25 * space * (t.up ? -1 : 1);
    const double ax = t.x1 + (t.x2 - t.x1) / 4, bx = t.x1 + 3 * (t.x2 - t.x1) / 4;
    cairo_move_to(c, t.x1, t.y1);
    cairo_curve_to(c, ax, t.y1 + bow + thick, bx, t.y2 + bow + thick, t.x2, t.y2);
    cairo_curve_to(c, bx, t.y2 + bow, ax, t.y1 + bow, t.x1, t.y1);
    cairo_close_path(c);
    cairo_fill(c);
}

// An octave line: its label in italic figures, then dashes to its end and, where the passage
// ends, a hook towards the staff.
void DrawOctave(cairo_t* c, const OctaveMark& o) {
    cairo_select_font_face(c, "serif", CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(c, o.size);
    const char* label = OctaveLabel(o.octaves);
    cairo_text_extents_t e;
    cairo_text_extents(c, label, &e);
    cairo_move_to(c, o.x1, o.y + 0.35 * o.size);
    cairo_show_text(c, label);
    const double from = o.x1 + e.x_advance + 0.3 * o.size;
    if (o.x2 <= from) return;
    const double dashes[] = {0.4 * o.size, 0.3 * o.size};
    cairo_set_dash(c, dashes, 2, 0);
    cairo_set_line_width(c, 0.07 * o.size);
    cairo_move_to(c, from, o.y);
    cairo_line_to(c, o.x2, o.y);
    if (o.hook) cairo_line_to(c, o.x2, o.y + (o.octaves > 0 ? 0.6 : -0.6) * o.size);
    cairo_stroke(c);
    cairo_set_dash(c, nullptr, 0, 0);
}

}  // namespace

Failure DrawScorePages(const Engraving& engraving, PageFormat format, std::string& bytes) {
    const std::string fontFile = platform::MusicFontFile();
    if (fontFile.empty()) {
        return Failure::Because(FailureKind::SourceOpen,
                                "no music font: install the lilypond-fonts package (./setup.sh does)");
    }
    static FT_Library library = [] {
        FT_Library l = nullptr;
        return FT_Init_FreeType(&l) == 0 ? l : nullptr;
    }();
    FT_Face face = nullptr;
    if (library == nullptr || FT_New_Face(library, fontFile.c_str(), 0, &face) != 0) {
        return Failure::Because(FailureKind::SourceFormat, fontFile + ": not a font this program can read");
    }
    std::unique_ptr<cairo_font_face_t, FontFaceFree> music(cairo_ft_font_face_create_for_ft_face(face, 0));
    if (cairo_font_face_set_user_data(music.get(), &kFaceKey, face, DoneFace) != CAIRO_STATUS_SUCCESS) {
        FT_Done_Face(face);
        return Failure::Because(FailureKind::SourceFormat, fontFile + ": cannot be used");
    }
    unsigned long glyphIndex[static_cast<size_t>(Glyph::Count)];
    for (size_t g = 0; g < static_cast<size_t>(Glyph::Count); ++g) {
        glyphIndex[g] = FT_Get_Name_Index(face, const_cast<char*>(GlyphName(static_cast<Glyph>(g))));
        if (glyphIndex[g] == 0) {
            return Failure::Because(FailureKind::SourceFormat, fontFile + ": the music font has no glyph " +
                                                                   GlyphName(static_cast<Glyph>(g)));
        }
    }

    bytes.clear();
    const double width = engraving.pages.empty() ? 595 : engraving.pages.front().width;
    const double height = engraving.pages.empty() ? 842 : engraving.pages.front().height;
    constexpr double kPngScale = 2.0;
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        format == PageFormat::Pdf ? cairo_pdf_surface_create_for_stream(Append, &bytes, width, height)
        : format == PageFormat::Svg
            ? cairo_svg_surface_create_for_stream(Append, &bytes, width, height)
            : cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width * kPngScale),
                                         static_cast<int>(height * kPngScale)));
    std::unique_ptr<cairo_t, ContextFree> context(cairo_create(surface.get()));
    cairo_t* c = context.get();
    if (format == PageFormat::Png) cairo_scale(c, kPngScale, kPngScale);
    const float space = 5.0f;
    for (const EngravedPage& page : engraving.pages) {
        if (format == PageFormat::Pdf) cairo_pdf_surface_set_size(surface.get(), page.width, page.height);
        cairo_set_source_rgb(c, 1, 1, 1);
        cairo_paint(c);
        cairo_set_source_rgb(c, 0, 0, 0);
        cairo_set_line_cap(c, CAIRO_LINE_CAP_BUTT);
        for (const LineMark& l : page.lines) {
            cairo_set_line_width(c, l.width);
            cairo_move_to(c, l.x1, l.y1);
            cairo_line_to(c, l.x2, l.y2);
            cairo_stroke(c);
        }
        for (const BeamMark& b : page.beams) {
            cairo_move_to(c, b.x1, b.y1 - b.thickness / 2);
            cairo_line_to(c, b.x2, b.y2 - b.thickness / 2);
            cairo_line_to(c, b.x2, b.y2 + b.thickness / 2);
            cairo_line_to(c, b.x1, b.y1 + b.thickness / 2);
            cairo_close_path(c);
            cairo_fill(c);
        }
        for (const TieMark& t : page.ties) DrawTie(c, t, space);
        cairo_set_font_face(c, music.get());
        for (const GlyphMark& g : page.glyphs) {
            cairo_set_font_size(c, g.size);
            const cairo_glyph_t glyph{glyphIndex[static_cast<size_t>(g.glyph)], g.x, g.y};
            cairo_show_glyphs(c, &glyph, 1);
        }
        for (const TextMark& t : page.texts) {
            cairo_select_font_face(c, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                                   t.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(c, t.size);
            double x = t.x;
            if (t.centred) {
                cairo_text_extents_t e;
                cairo_text_extents(c, t.text.c_str(), &e);
                x -= e.x_advance / 2;
            }
            cairo_move_to(c, x, t.y);
            cairo_show_text(c, t.text.c_str());
        }
        for (const OctaveMark& o : page.octaves) DrawOctave(c, o);
        if (format == PageFormat::Png) break;  // a picture holds the first page
        cairo_show_page(c);
    }
    if (format == PageFormat::Png) cairo_surface_write_to_png_stream(surface.get(), Append, &bytes);
    context.reset();
    cairo_surface_finish(surface.get());
    const cairo_status_t status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        return Failure::Because(FailureKind::Write,
                                std::string("cannot draw the score: ") + cairo_status_to_string(status));
    }
    return Failure::None();
}

}  // namespace cli
