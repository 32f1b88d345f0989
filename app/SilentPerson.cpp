#include "SilentPerson.h"

#include "DialogPerson.h"

namespace {
// A progress nobody sees: only its timing and the log's phases.
class CQuietProgress : public CProgress {
public:
    void SetCaption(const std::string&) override {}
    void SetRange(int, int) override {}
    int SetPos(int nPos) override {
        const int previous = m_nPos;
        m_nPos = nPos;
        return previous;
    }
    void SetMessage(const std::string&) override {}
    void EnableCancel(BOOL) override {}
    BOOL CheckCancel() override { return FALSE; }
    BOOL IsDue() override { return m_due.IsDue(); }
    HWND Owner() override { return nullptr; }

private:
    int m_nPos = 0;
    CDueClock m_due;
};

// The answer that never loses data: go on where going on is the administrator's consent to the run,
// fetch again what cannot be checked, keep what would be deleted, and stop where a person would have to act.
int FixedAnswer(CQuestion question, UINT type) {
    switch (question) {
    case CQuestion::kPieceNumbers:
    case CQuestion::kDownloadAgain:
        return IDYES;
    case CQuestion::kDownloadAgainChecked:  // kept only when it has the signed length and hash
    case CQuestion::kStrayGenerations:
    case CQuestion::kDeleteAllBackups:
    case CQuestion::kStartCad:
        return IDNO;
    case CQuestion::kOldVerFiles:
    case CQuestion::kFilesInUse:
        return IDCANCEL;
    case CQuestion::kNone:
        break;
    }
    const UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDNO : buttons == MB_OK ? IDOK : IDCANCEL;
}
}  // namespace

int CSilentPerson::Show(const std::string& text, const std::string& caption, UINT type, CQuestion question,
                        CCause cause) {
    const int answer = FixedAnswer(question, type);
    m_log.Write(LogLine(text, caption, ButtonName(answer)));
    Fail(cause);
    return answer;
}

std::unique_ptr<CProgress> CSilentPerson::StartProgress() {
    return std::make_unique<CLoggedProgress>(std::make_unique<CQuietProgress>(), &m_log);
}
