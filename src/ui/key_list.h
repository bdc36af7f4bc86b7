// Every key the window answers to, with what it does, in the order the key overlay lists them: the
// one list the overlay draws and the controls' tips take their keys from.
#pragma once

#include <cstddef>

#include "view/help_overlay.h"

// The keys; `count` is set to how many there are.
[[nodiscard]] const KeyHelp* WindowKeys(size_t& count);
