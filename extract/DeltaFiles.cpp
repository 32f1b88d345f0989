#include "Extraction.h"

#include "Delta.h"
#include "Format.h"
#include "RixFiles.h"
#include "RixPath.h"

namespace {
bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string DeltaFailure(DeltaResult result, const std::string& installed, DWORD error) {
    switch (result) {
    case kDeltaOtherOldFile:
        return StrFormat("ﾌｧｲﾙ[%s]は差分の元のﾌｧｲﾙと異なります", installed.c_str());
    case kDeltaResultMismatch:
        return StrFormat("ﾌｧｲﾙ[%s]の差分から正しいﾌｧｲﾙを作成できませんでした", installed.c_str());
    case kDeltaWriteFailed:
        return StrFormat("ﾌｧｲﾙ[%s]の差分から作成したﾌｧｲﾙを書き込めませんでした (ｴﾗｰ=%lu)", installed.c_str(), error);
    default:
        return StrFormat("ﾌｧｲﾙ[%s]の差分が壊れています", installed.c_str());
    }
}
}  // namespace

BOOL CExtraction::MakeFromDeltas(std::vector<CExtractedFile>& files, std::string& why) {
    const std::string suffix = kDeltaSuffix;
    std::unique_ptr<CProgress> progress = m_person.StartProgress();
    progress->EnableCancel(FALSE);
    progress->SetCaption("差分の適用中");
    progress->SetRange(0, static_cast<int>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        CExtractedFile& delta = files[i];
        progress->SetPos(static_cast<int>(i));
        if (!EndsWith(delta.path, suffix))
            continue;
        const std::string made = delta.path.substr(0, delta.path.size() - suffix.size());
        const std::string installed = InstalledPath(made);
        std::string name = made;
        progress->SetMessage(RixSetPathParts(name, "", "", nullptr, nullptr));
        DWORD error = 0;
        CFileHandle file;
        const DeltaResult result = ApplyDelta(installed, delta.file, made, &error, &file);
        if (result != kDeltaApplied) {
            why = DeltaFailure(result, installed, error);
            return FALSE;
        }
        delta.file.reset();
        RixDeleteFile(delta.path);
        delta = CExtractedFile{made, std::move(file)};
    }
    return TRUE;
}
