#include "view/note_labels.h"

#include <algorithm>
#include <cmath>

float LookAheadAt(int32_t fallSpeed) {
    return kLookAheadSeconds / kFallSpeeds[std::clamp(fallSpeed, 0, kFallSpeedCount - 1)];
}

int32_t StepFallSpeed(int32_t fallSpeed, int steps) {
    return std::clamp(std::clamp(fallSpeed, 0, kFallSpeedCount - 1) + steps, 0, kFallSpeedCount - 1);
}

namespace {

// The first `count` characters of the name, on one line or one a line.
KeyLabel Set(const KeyName& name, int count, LabelShape shape, float size) {
    KeyLabel label;
    label.shape = shape;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (shape == LabelShape::Column && i > 0) label.text[n++] = '\n';
        label.text[n++] = name.text[i];
    }
    label.text[n] = '\0';
    const float characters = static_cast<float>(shape == LabelShape::Line ? count : 1);
    const float lines = static_cast<float>(shape == LabelShape::Line ? 1 : count);
    label.width = characters * kLabelAdvance * size;
    label.height = lines * kLabelLineHeight * size;
    return label;
}

}  // namespace

KeyLabel FitKeyLabel(const KeyName& name, float size, float width, float height) {
    if (name.length <= 0 || !(size > 0)) return {};
    struct Try {
        int count;
        LabelShape shape;
    };
    const Try tries[4] = {{name.length, LabelShape::Line},
                          {name.pitchLength, LabelShape::Line},
                          {name.length, LabelShape::Column},
                          {name.pitchLength, LabelShape::Column}};
    for (const Try& t : tries) {
        KeyLabel label = Set(name, t.count, t.shape, size);
        if (label.width <= width && label.height <= height) return label;
    }
    return {};
}

float LabelSizeFor(float whiteKeyWidth) {
    if (!(whiteKeyWidth > 0)) return 12.0f;
    return std::clamp(std::floor(whiteKeyWidth * 0.55f), 12.0f, 16.0f);
}
