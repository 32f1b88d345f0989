#pragma once
// The files of a release in the server folder: each is written under a temporary name
// ("~UPD350.EXE": a signing tool still sees a program), and only once all are written are
// they put in place, the manifest last. A failure at any step puts back what was there.
#include <string>
#include <vector>

class CReleaseOutputs {
public:
    explicit CReleaseOutputs(const std::wstring& folder) : m_folder(folder) {}
    // Removes the temporaries of a release that did not go in place.
    ~CReleaseOutputs();
    CReleaseOutputs(const CReleaseOutputs&) = delete;
    CReleaseOutputs& operator=(const CReleaseOutputs&) = delete;

    bool Write(const std::wstring& name, const std::string& data, std::string& error);
    std::wstring TemporaryPath(const std::wstring& name) const { return m_folder + L"\\~" + name; }
    // Replaces the files in the order written; FALSE, with the reason, after putting back
    // every file already replaced.
    bool Replace(std::string& error);

private:
    std::wstring Target(size_t index) const { return m_folder + L"\\" + m_names[index]; }
    std::wstring Saved(size_t index) const { return TemporaryPath(m_names[index]) + L".old"; }

    std::wstring m_folder;
    std::vector<std::wstring> m_names;
    bool m_replaced = false;
};

// Runs command through the command interpreter, each "{}" replaced by path, and waits for it;
// FALSE, with the reason, when it does not start or does not exit with 0.
bool RunSignCommand(const std::wstring& command, const std::wstring& path, std::string& error);
