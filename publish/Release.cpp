#include "Release.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <vector>

#include "Ecdsa.h"
#include "Format.h"
#include "Manifest.h"
#include "Tree.h"
#include "VersionText.h"
#include "ZipWriter.h"

namespace {
const ULONGLONG kFileTimeDay = 864000000000ULL;

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The stub that leads the archive, carried in this program as a resource.
bool LoadStub(std::string& stub) {
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes)
        return false;
    stub.assign(static_cast<const char*>(bytes), ::SizeofResource(nullptr, found));
    return true;
}

// The files of the new tree that the base lacks or holds with other bytes.
bool ChangedFiles(const CReleaseOptions& options, std::vector<CTreeFile>& files, std::string& error) {
    if (!ListTree(options.files, files, error))
        return false;
    if (options.base.empty())
        return true;
    std::vector<CTreeFile> old;
    if (!ListTree(options.base, old, error))
        return false;
    std::map<std::string, std::wstring> oldPaths;
    for (const CTreeFile& file : old)
        oldPaths[file.name] = file.path;
    std::vector<CTreeFile> changed;
    for (const CTreeFile& file : files) {
        std::string now, before;
        auto found = oldPaths.find(file.name);
        if (!ReadWholeFile(file.path, now)) {
            error = "cannot read " + Utf8Of(file.path);
            return false;
        }
        if (found == oldPaths.end() || !ReadWholeFile(found->second, before) || before != now)
            changed.push_back(file);
    }
    files.swap(changed);
    return true;
}

bool BuildArchive(const std::vector<CTreeFile>& files, std::string& archive, std::string& error) {
    if (!LoadStub(archive)) {
        error = "the self-extracting stub is missing from this program";
        return false;
    }
    CZipWriter zip(archive);
    for (const CTreeFile& file : files) {
        std::string data;
        FILETIME modified;
        if (!ReadWholeFile(file.path, data, &modified) || !zip.Add(file.name, data, modified)) {
            error = "cannot add " + Utf8Of(file.path) + " to the archive";
            return false;
        }
    }
    if (files.empty() || !zip.Finish()) {
        error = files.empty() ? "no file to publish: the tree is empty or no file differs from the base" :
                                "the archive is too large";
        return false;
    }
    return true;
}

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

// The Ver file with the new revision's entry after the earlier ones.
bool VerText(const CReleaseOptions& options, const std::wstring& path, std::string& text, std::string& error) {
    std::string notes;
    if (!NotesText(options.notes, notes, error))
        return false;
    // The revision is read after the last "No.": one in the notes would stand for it.
    if (notes.find("No.") != std::string::npos) {
        error = "the notes must not contain \"No.\": the program reads the revision after the last one";
        return false;
    }
    text.clear();
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !ReadWholeFile(path, text)) {
        error = "cannot read " + Utf8Of(path);
        return false;
    }
    int published = ParseRevision(text.c_str());
    if (options.revision <= published) {
        error = StrFormat("revision %d is not above revision %d, already published", options.revision, published);
        return false;
    }
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    text += StrFormat("(No.%d)\r\n", options.revision) + notes;
    return true;
}

// Each file goes under a temporary name first; only once all are written are they
// renamed, the manifest last, so a client never sees a manifest ahead of its files.
bool WriteAll(const std::vector<std::pair<std::wstring, std::string>>& outputs, std::string& error) {
    size_t written = 0;
    while (written < outputs.size() && WriteWholeFile(outputs[written].first + L".tmp", outputs[written].second))
        ++written;
    size_t renamed = 0;
    while (written == outputs.size() && renamed < outputs.size() &&
           ::MoveFileExW((outputs[renamed].first + L".tmp").c_str(), outputs[renamed].first.c_str(),
                         MOVEFILE_REPLACE_EXISTING))
        ++renamed;
    if (renamed == outputs.size())
        return true;
    for (size_t i = renamed; i < outputs.size(); ++i)
        ::DeleteFileW((outputs[i].first + L".tmp").c_str());
    error = "cannot write " + Utf8Of(outputs[written < outputs.size() ? written : renamed].first);
    return false;
}
}  // namespace

bool PublishRelease(const CReleaseOptions& options, std::string& error) {
    int code = VersionCode(VersionKey(options.version));
    if (options.version.empty() || options.version.find_first_not_of("0123456789.abcdefghijklmnopqrstuvwxyz") !=
                                       std::string::npos || code <= 0) {
        error = "the version must look like 3.5";
        return false;
    }
    if (options.revision <= 0 || options.expiresDays < 0 || options.expiresDays > 36500 || options.prefix.empty() ||
        options.prefix.find_first_of("/\\:. ") != std::string::npos) {
        error = "the revision must be above 0, --expires from 0 to 36500 days, the prefix a plain name";
        return false;
    }
    if (!IsFolder(options.server)) {
        error = "the server folder " + Utf8Of(options.server) + " does not exist";
        return false;
    }
    std::vector<BYTE> key;
    std::string keyBytes;
    CPublicKey publicKey;
    if (!options.key.empty()) {
        if (!ReadWholeFile(options.key, keyBytes) ||
            !PublicKeyOfBlob(key = std::vector<BYTE>(keyBytes.begin(), keyBytes.end()), publicKey)) {
            error = "cannot read a private key from " + Utf8Of(options.key);
            return false;
        }
    }
    std::vector<CTreeFile> files;
    std::string archive, verText;
    std::wstring verPath = options.server + L"\\Ver" + Widened(options.version);
    // An unsigned release beside an older manifest would only be refused by every client with a key.
    if (key.empty() && ::GetFileAttributesW((verPath + L".sig").c_str()) != INVALID_FILE_ATTRIBUTES) {
        error = "this folder publishes signed releases (Ver" + options.version + ".sig): give --key";
        return false;
    }
    std::string updateName = StrFormat("%s%d.EXE", options.prefix.c_str(), code);
    if (!ChangedFiles(options, files, error) || !BuildArchive(files, archive, error) ||
        !VerText(options, verPath, verText, error))
        return false;
    std::vector<std::pair<std::wstring, std::string>> outputs = {
        {options.server + L"\\" + Widened(updateName), archive}, {verPath, verText}};
    if (!key.empty()) {
        ULONGLONG expires = UtcNow() / 10000000 * 10000000 + options.expiresDays * kFileTimeDay;
        std::string manifest = SignManifest(
            ManifestBody(options.version, options.revision, verText, updateName, archive, expires), key);
        if (manifest.empty()) {
            error = "signing the manifest failed";
            return false;
        }
        outputs.push_back({verPath + L".sig", manifest});
    }
    for (const auto& output : outputs) {
        if (output.first.size() + 4 >= MAX_PATH) {
            error = "the path " + Utf8Of(output.first) + " is too long";
            return false;
        }
    }
    if (!WriteAll(outputs, error))
        return false;
    std::printf("%s: %u files, %u bytes; Ver%s revision %d%s\n", updateName.c_str(), static_cast<unsigned>(files.size()),
                static_cast<unsigned>(archive.size()), options.version.c_str(), options.revision,
                key.empty() ? ", unsigned" : ", signed");
    return true;
}
