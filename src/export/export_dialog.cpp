#include "export/export_dialog.h"

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

platform::SaveRequest VideoSaveRequest(const std::string& fileName) {
    platform::SaveRequest request;
    request.types.push_back({"MP4 video (*.mp4)", "*.mp4"});
    AddQualityChoice(request, QualityStandard);
    request.fileName = fileName;
    request.defaultExtension = "mp4";
    return request;
}

ExportChoice VideoChoiceOf(const platform::SaveAnswer& answer) {
    return ExportChoice{answer.path, ExportFormat::Mp4, QualityFromChoice(answer.choice)};
}
