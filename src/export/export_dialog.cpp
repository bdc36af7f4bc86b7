#include "export/export_dialog.h"

#include <cstdio>
#include <iterator>

#include "export/export_format.h"
#include "resources/strings.h"

namespace {

constexpr ExportFileType kFileTypes[] = {
    {ExportFormat::Wav, res::IdsWav, "*.wav"},   {ExportFormat::Flac, res::IdsFlac, "*.flac"},
    {ExportFormat::Alac, res::IdsAlac, "*.m4a"}, {ExportFormat::Aac, res::IdsAac, "*.aac"},
    {ExportFormat::Mp3, res::IdsMp3, "*.mp3"},   {ExportFormat::Ogg, res::IdsOggVorbis, "*.ogg"},
};

// The first offered row whose quality can be chosen.
constexpr int kFirstTypeWithQuality = 3;

// The quality choice both dialogs carry, starting at `initial`.
void AddQualityChoice(platform::SaveRequest& request, QualityLevel initial) {
    request.choiceLabel = res::LoadString(res::IdsQuality);
    request.choiceOptions = {res::LoadString(res::IdsStandard), res::LoadString(res::IdsHigh),
                             res::LoadString(res::IdsMaximum)};
    request.initialChoice = initial;
}

}  // namespace

std::vector<ExportFileType> OfferedFileTypes(const FormatAvailability& availability) {
    std::vector<ExportFileType> rows;
    for (const ExportFileType& row : kFileTypes) {
        if (AvailabilityOf(availability, row.format) != 0) rows.push_back(row);
    }
    return rows;
}

bool OnTypeChange(int typeIndex) {
    return typeIndex >= kFirstTypeWithQuality;
}

platform::SaveRequest ExportSaveRequest(const FormatAvailability& availability, const std::string& fileName,
                                        QualityLevel initialQuality) {
    platform::SaveRequest request;
    for (const ExportFileType& row : OfferedFileTypes(availability)) {
        request.types.push_back({res::LoadString(row.nameId), row.pattern});
    }
    request.initialType = 0;
    AddQualityChoice(request, initialQuality);
    request.fileName = fileName;
    request.defaultExtension = "wav";
    request.onTypeChange = OnTypeChange;
    return request;
}

ExportChoice ExportChoiceOf(const platform::SaveAnswer& answer, ExportFormat lastFormat) {
    ExportChoice choice;
    choice.format = ChooseExportFormat(answer.path, lastFormat);
    choice.path = answer.path;
    choice.quality = QualityFromChoice(answer.choice);
    return choice;
}

namespace {

struct VideoSize {
    int width, height;
    const char* label;
};
constexpr VideoSize kVideoSizes[] = {
    {1920, 1080, "1920x1080"},          {1280, 720, "1280x720"},
    {3840, 2160, "3840x2160 (4K)"},     {1080, 1920, "1080x1920 (portrait)"},
    {1080, 1080, "1080x1080 (square)"},
};
constexpr int kPresetCount = static_cast<int>(std::size(kVideoSizes));
constexpr int kRates[] = {60, 30};

// The index of `last`'s size in the size choice: a preset's, or the custom option after them.
int SizeIndex(const VideoChoices& last) {
    for (int i = 0; i < kPresetCount; ++i) {
        if (kVideoSizes[i].width == last.width && kVideoSizes[i].height == last.height) return i;
    }
    return kPresetCount;
}

// The answer's index for more-choice `which`, or -1 when it has none in [0, count).
int Picked(const platform::SaveAnswer& answer, size_t which, int count) {
    if (which >= answer.moreChoices.size()) return -1;
    const int index = answer.moreChoices[which];
    return index >= 0 && index < count ? index : -1;
}

enum MoreChoice : size_t { kSizeChoice, kRateChoice, kViewChoice, kScoreChoice };

}  // namespace

platform::SaveRequest VideoSaveRequest(const std::string& fileName, const VideoChoices& last) {
    platform::SaveRequest request;
    request.types.push_back({"MP4 video (*.mp4)", "*.mp4"});
    AddQualityChoice(request, QualityFromChoice(last.quality));
    request.fileName = fileName;
    request.defaultExtension = "mp4";

    platform::SaveRequest::Choice size{"Size", {}, SizeIndex(last)};
    for (const VideoSize& preset : kVideoSizes) size.options.emplace_back(preset.label);
    if (size.initial == kPresetCount) {
        char custom[48];
        std::snprintf(custom, sizeof custom, "Custom (%dx%d)", last.width, last.height);
        size.options.emplace_back(custom);
    }
    request.moreChoices.push_back(std::move(size));
    request.moreChoices.push_back({"Frame rate", {"60 fps", "30 fps"}, last.fps == 30 ? 1 : 0});
    request.moreChoices.push_back({"View", {"Full view", "Whole window"}, last.wholeWindow ? 1 : 0});
    request.moreChoices.push_back({"Score", {"No score", "Score above the notes"}, last.score ? 1 : 0});
    return request;
}

VideoChoices VideoChoicesOf(const platform::SaveAnswer& answer, const VideoChoices& last) {
    VideoChoices chosen = last;
    chosen.quality = QualityFromChoice(answer.choice);
    if (const int size = Picked(answer, kSizeChoice, kPresetCount); size >= 0) {
        chosen.width = kVideoSizes[size].width;
        chosen.height = kVideoSizes[size].height;
    }
    if (const int rate = Picked(answer, kRateChoice, 2); rate >= 0) chosen.fps = kRates[rate];
    if (const int view = Picked(answer, kViewChoice, 2); view >= 0) chosen.wholeWindow = view == 1;
    if (const int score = Picked(answer, kScoreChoice, 2); score >= 0) chosen.score = score == 1;
    return chosen;
}

VideoSettings VideoSettingsOf(const VideoChoices& choices) {
    return VideoSettings{choices.width, choices.height, choices.fps, QualityFromChoice(choices.quality)};
}

VideoView VideoViewOf(const VideoChoices& choices) {
    return choices.wholeWindow ? VideoView::Window : VideoView::Full;
}

VideoChoices VideoChoicesFor(const VideoSettings& settings, VideoView view, bool score) {
    VideoChoices choices;
    choices.width = settings.width;
    choices.height = settings.height;
    choices.fps = settings.fps;
    choices.quality = settings.quality;
    choices.wholeWindow = view == VideoView::Window;
    choices.score = score;
    return choices;
}
