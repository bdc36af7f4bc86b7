// A layout as a MusicXML 3.1 score (partwise). Two hands are one part on a grand staff, the voices
// of a staff numbered after those of the staff above it, as notation programs expect; several
// voices of a song are a part each, named as the song names them, with its own clef and instrument.
#pragma once

#include <string>

#include "notation/measure_layout.h"

[[nodiscard]] std::string MusicXmlOf(const ScoreLayout& layout, const std::string& title);
