// A layout as a MusicXML 3.1 score (partwise): one part, one staff per layout staff, the voices of
// a staff numbered after those of the staves above it, as notation programs expect.
#pragma once

#include <string>

#include "notation/measure_layout.h"

[[nodiscard]] std::string MusicXmlOf(const ScoreLayout& layout, const std::string& title);
