#pragma once
// The person of a run that nobody attends (-SILENT): no window of any kind. Every text that would
// have been shown goes to the log, each question gets the answer that loses nothing, and the cause of
// the last failure said is kept for the exit code.
#include "EventLog.h"
#include "Person.h"

class CSilentPerson : public CPerson {
public:
    explicit CSilentPerson(CEventLog& log) : m_log(log) {}

    int Show(const std::string& text, const std::string& caption, UINT type, CQuestion question,
             CCause cause) override;
    void Note(const std::string& text) override { m_log.Write(text); }
    std::unique_ptr<CProgress> StartProgress() override;
    std::unique_ptr<CServerWait> StartWait(BOOL) override { return std::make_unique<CQuietWait>(nullptr); }
    void ShowBusy(BOOL) override {}
    BOOL IsAttended() override { return FALSE; }

private:
    CEventLog& m_log;
};
