// The playback volume: the slider's and the keys' changes, and the volume kept in the settings.
// The volume scales only what the window plays (FillFromWave); renders and exports never hear it.
#include <algorithm>
#include <cmath>

#include "app/player_controller.h"
#include "audio/volume.h"
#include "settings/settings.h"

namespace {

// The keys' step: twenty presses from silence to full, fine enough near the loud end, where the
// curve is flat.
constexpr int kVolumeStep = 5;

}  // namespace

void PlayerController::SetVolume(float percent) {
    if (std::isnan(percent)) return;
    const int whole =
        static_cast<int>(std::lround(std::clamp(percent, 0.0f, static_cast<float>(kFullVolume))));
    shared.volumePercent = whole;
    playbackVolume.store(VolumeGain(static_cast<float>(whole)), std::memory_order_relaxed);
}

void PlayerController::SaveVolume() {
    volumeUnsaved = false;
    // A settings file that cannot be written loses nothing but the memory of the volume.
    const int percent = shared.volumePercent;
    (void)UpdateSettings([percent](Settings& settings) { settings.volumePercent = percent; });
}

void PlayerController::StepVolume(int steps) {
    if (steps == 0) return;
    // From a volume between two steps (set with the slider), the first press lands on the step
    // beside it rather than keeping the odd value.
    const int now = shared.volumePercent;
    const int below = (now + kVolumeStep - 1) / kVolumeStep - 1;  // the last step under `now`
    const int above = now / kVolumeStep + 1;                      // the first step over `now`
    const int step = steps > 0 ? above + steps - 1 : below + steps + 1;
    SetVolume(static_cast<float>(step * kVolumeStep));
}
