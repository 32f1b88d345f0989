#include "Published.h"

#include "Ecdsa.h"
#include "Format.h"
#include "Handle.h"
#include "Manifest.h"
#include "Sha256.h"
#include "Tree.h"
#include "UnzipApi.h"
#include "UrlText.h"
#include "VersionText.h"
#include "ZipDirectory.h"

namespace {
// The notes as code page 932 lines ending in CR LF.
bool NotesText(const std::wstring& path, std::string& notes, std::string& error) {
    std::string utf8;
    notes.clear();
    if (path.empty())
        return true;
    if (!ReadWholeFile(path, utf8)) {
        error = "cannot read the notes " + Utf8Of(path);
        return false;
    }
    int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if ((!utf8.empty() && size <= 0) ||
        (size > 0 && !::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                            &wide[0], size)) ||
        !ToCodePage932(wide, utf8)) {
        error = "the notes are not UTF-8 text that code page 932 can spell";
        return false;
    }
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\n' || (utf8[i] == '\r' && (i + 1 == utf8.size() || utf8[i + 1] != '\n')))
            notes += "\r\n";
        else if (utf8[i] != '\r')
            notes += utf8[i];
    }
    if (!notes.empty() && notes.back() != '\n')
        notes += "\r\n";
    return true;
}

// Clients read a Ver file up to a limit and cannot verify one cut there: entries, each from a
// line that starts with "(No.", are dropped oldest first until it fits; any text before the
// first entry stays.
bool FitForClients(const std::string& version, size_t newEntry, std::string& text, std::string& error) {
    if (text.size() <= kUrlTextLimit)
        return true;
    std::vector<size_t> entries;
    for (size_t at = text.find("(No."); at < newEntry; at = text.find("(No.", at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            entries.push_back(at);
    }
    entries.push_back(newEntry);
    size_t excess = text.size() - kUrlTextLimit;
    for (size_t dropped = 1; dropped < entries.size(); ++dropped) {
        if (entries[dropped] - entries[0] >= excess) {
            Warn(StrFormat("Ver%s would be %u bytes, more than the %u that clients read: its %u oldest entries are "
                           "left out", version.c_str(), static_cast<unsigned>(text.size()),
                           static_cast<unsigned>(kUrlTextLimit), static_cast<unsigned>(dropped)));
            text.erase(entries[0], entries[dropped] - entries[0]);
            return true;
        }
    }
    error = StrFormat("the new entry makes Ver%s %u bytes even without the earlier ones, more than the %u that "
                      "clients read: shorten the notes", version.c_str(), static_cast<unsigned>(text.size() -
                      (newEntry - entries[0])), static_cast<unsigned>(kUrlTextLimit));
    return false;
}
}  // namespace

bool ReadPublished(const CReleaseOptions& options, const CPublicKey* publicKey, bool wantNames,
                   CPublishedRelease& published, std::string& error) {
    std::wstring verPath = options.server + L"\\Ver" + Widened(options.version);
    std::string verName = "Ver" + options.version, manifestText;
    published = CPublishedRelease();
    if (Exists(verPath) && !ReadWholeFile(verPath, published.verText)) {
        error = "cannot read " + Utf8Of(verPath);
        return false;
    }
    if (!publicKey)
        return true;
    if (!Exists(verPath + L".sig")) {
        if (!published.verText.empty())
            Warn(verName + " has no manifest to check it against: it is signed as found; check that it holds only "
                           "your releases");
        return true;
    }
    CReleaseManifest manifest;
    const std::vector<CPublicKey> keys{*publicKey};
    if (!ReadWholeFile(verPath + L".sig", manifestText) || !ParseManifest(manifestText, manifest, TRUE)) {
        error = "cannot read the manifest " + Utf8Of(verPath + L".sig");
        return false;
    }
    if (!ManifestSignedBy(manifestText, manifest, keys) ||
        _stricmp(manifest.version.c_str(), options.version.c_str()) != 0) {
        error = verName + ".sig is not this key's manifest of version " + options.version +
                " (after a change of key, move it away first)";
        return false;
    }
    if (Sha256Hex(published.verText) != manifest.verSha256) {
        error = verName + " is not the text that " + verName + ".sig signs: it was changed without the key; put back "
                "the text of the last release";
        return false;
    }
    if (!wantNames)
        return true;
    std::wstring archivePath = options.server + L"\\" + Widened(manifest.file);
    std::string archive;
    if (!ReadWholeFile(archivePath, archive) || archive.size() != manifest.length ||
        Sha256Hex(archive) != manifest.sha256) {
        error = manifest.file + " is not the archive that " + verName +
                ".sig signs: the files it installed are unknown";
        return false;
    }
    if (!ReadArchiveNames(archivePath, published.names, error))
        return false;
    published.names.insert(published.names.end(), manifest.removed.begin(), manifest.removed.end());
    return true;
}

bool NoOtherVersionShares(const CReleaseOptions& options, const std::string& updateName, std::string& error) {
    int code = VersionCode(VersionKey(options.version));
    WIN32_FIND_DATAW found;
    CFindHandle find(::FindFirstFileW((options.server + L"\\Ver*").c_str(), &found));
    for (bool more = find.get() != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find.get(), &found)) {
        std::string name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !ToCodePage932(found.cFileName, name) ||
            !IsVerFileName(name))
            continue;
        std::string version = VerFileVersionText(name);
        if (_stricmp(version.c_str(), options.version.c_str()) == 0 || VersionCode(VersionKey(version)) != code)
            continue;
        error = "this folder publishes " + name + ", whose update file is " + updateName + " as well: versions " +
                options.version + " and " + version + " cannot share a server folder";
        return false;
    }
    return true;
}

bool NewVerText(const CReleaseOptions& options, const std::string& published, std::string& text, std::string& error) {
    std::string notes;
    if (!NotesText(options.notes, notes, error))
        return false;
    // The revision is read after the last "No.": one in the notes would stand for it.
    if (notes.find("No.") != std::string::npos) {
        error = "the notes must not contain \"No.\": the program reads the revision after the last one";
        return false;
    }
    int last = ParseRevision(published.c_str());
    if (options.revision <= last) {
        error = StrFormat("revision %d is not above revision %d, already published", options.revision, last);
        return false;
    }
    text = published;
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    size_t newEntry = text.size();
    text += StrFormat("(No.%d)\r\n", options.revision) + notes;
    return FitForClients(options.version, newEntry, text, error);
}

bool ReadArchiveNames(const std::wstring& path, std::vector<std::string>& names, std::string& error) {
    std::string narrowPath, reason;
    CZipDirectory archive;
    int result = ToCodePage932(path, narrowPath) ? archive.Open(narrowPath.c_str(), reason) : PK_NOZIP;
    if (result != PK_OK && result != PK_WARN) {
        error = "the updater could not read the archive " + Utf8Of(path) + (reason.empty() ? "" : ": " + reason);
        return false;
    }
    for (const CZipMember& member : archive.Members()) {
        std::string name = member.name;
        if (member.IsUtf8()) {
            int size = ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
            std::wstring wide(size > 0 ? size : 0, L'\0');
            if (size > 0)
                ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), &wide[0], size);
            ToCodePage932(wide, name);
        }
        if (!name.empty() && name.back() != '/')
            names.push_back(name);
    }
    return true;
}
