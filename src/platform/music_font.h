// The music font sheet music is engraved with: the Emmentaler face that Debian's lilypond-fonts
// package installs, at the optical size drawn for a staff of 20 points, which suits every size a
// page or the window shows.
#pragma once

#include <string>

namespace platform {

// The font file, or "" when the package is not installed. $DORVIK_MUSIC_FONT, when set, names it
// instead (a test that must run without the package). The newest installed version is taken.
[[nodiscard]] std::string MusicFontFile();

}  // namespace platform
