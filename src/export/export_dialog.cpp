#include "export/export_dialog.h"

#include "export/export_format.h"
#include "platform/dialogs.h"
#include "resources/strings.h"

namespace {

constexpr ExportFileType kFileTypes[] = {
    {FormatWav, res::IdsWav, "*.wav"},   {FormatFlac, res::IdsFlac, "*.flac"},
    {FormatAlac, res::IdsAlac, "*.m4a"}, {FormatAac, res::IdsAac, "*.aac"},
    {FormatMp3, res::IdsMp3, "*.mp3"},   {FormatOgg, res::IdsOggVorbis, "*.ogg"},
};

// The first offered row whose quality can be chosen.
constexpr int kFirstTypeWithQuality = 3;

}  // namespace

std::vector<ExportFileType> OfferedFileTypes(const std::array<uint16_t, ExportFormatCount>& availability) {
    std::vector<ExportFileType> rows;
    for (const ExportFileType& row : kFileTypes) {
        if (availability[row.format] != 0) rows.push_back(row);
    }
    return rows;
}

bool OnTypeChange(int typeIndex) {
    return typeIndex >= kFirstTypeWithQuality;
}

bool ShowExportDialog(SessionState& state) {
    if (state.dialogs == nullptr) return false;
    platform::SaveRequest request;
    for (const ExportFileType& row : OfferedFileTypes(state.exportFormatFlags)) {
        request.types.push_back({res::LoadString(row.nameId), row.pattern});
    }
    request.initialType = 0;
    request.choiceLabel = res::LoadString(res::IdsQuality);
    request.choiceOptions = {res::LoadString(res::IdsStandard), res::LoadString(res::IdsHigh),
                             res::LoadString(res::IdsMaximum)};
    request.initialChoice = QualityStandard;
    request.fileName = state.midiName;
    request.defaultExtension = "wav";
    request.onTypeChange = OnTypeChange;

    platform::SaveAnswer answer;
    if (!state.dialogs->SaveFile(request, answer) || answer.path.empty()) return false;
    state.exportPath = answer.path;
    int quality = answer.choice;
    if (quality < QualityStandard || quality > QualityMaximum) quality = QualityStandard;
    state.exportQuality = static_cast<int16_t>(quality);
    state.exportFormat = ChooseExportFormat(state.exportPath, state.exportFormat);
    return true;
}
