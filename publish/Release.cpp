#include "Release.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <map>
#include <set>
#include <vector>

#include "DeltaArchive.h"
#include "Ecdsa.h"
#include "Format.h"
#include "Manifest.h"
#include "MemberName.h"
#include "Outputs.h"
#include "Published.h"
#include "Sha256.h"
#include "Tree.h"
#include "VersionText.h"
#include "ZipWriter.h"

namespace {
const ULONGLONG kFileTimeDay = 864000000000ULL;

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

std::string Leaf(const std::string& name) { return name.substr(name.rfind('/') + 1); }

// The tree's files named Ver<version>, wherever they are.
std::vector<const CTreeFile*> VerFiles(const std::vector<CTreeFile>& files, const std::string& version) {
    std::vector<const CTreeFile*> found;
    for (const CTreeFile& file : files) {
        if (MemberNameKey(Leaf(file.name)) == MemberNameKey("Ver" + version))
            found.push_back(&file);
    }
    return found;
}

std::string NameList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + Utf8OfCodePage932(name);
    return list;
}

bool CheckOptions(const CReleaseOptions& options, std::string& error) {
    std::string product;
    if (options.version.empty() || options.version.find_first_not_of("0123456789.abcdefghijklmnopqrstuvwxyz") !=
                                       std::string::npos || VersionCode(VersionKey(options.version)) <= 0)
        error = "the version must look like 3.5";
    else if (options.revision <= 0 || options.prefix.empty() ||
             options.prefix.find_first_of("/\\:. ") != std::string::npos)
        error = "the revision must be above 0, the prefix a plain name";
    else if (options.expiresDays < 1 || options.expiresDays > kMaxExpiresDays)
        error = StrFormat("--expires must be from 1 to %d days: a release is offered until it expires, and one that "
                          "never did could be served instead of every later one", kMaxExpiresDays);
    else if (options.key.empty() != options.product.empty())
        error = "--product and --key go together: the signed manifest names the product (AppName) it is for";
    else if (!options.product.empty() &&
             (!ToCodePage932(options.product, product) || std::iswspace(options.product.front()) ||
              std::iswspace(options.product.back()) ||
              std::any_of(product.begin(), product.end(), [](char c) { return c >= 0 && c < 0x20; })))
        error = "the product must be an AppName as clients read it: code page 932, no blank at either end";
    else if (!options.previous.empty() && options.key.empty())
        error = "--previous goes with --key: only the signed manifest announces a delta archive";
    else if (!options.signCommand.empty() && options.signCommand.find(L"{}") == std::wstring::npos)
        error = "--sign-command must name the archive as {}";
    else if (!IsFolder(options.server))
        error = "the server folder " + Utf8Of(options.server) + " does not exist";
    return error.empty();
}

// The new tree's files that go into the archive (new or other than in the base), and the
// base's files that it no longer has, with those that the last signed release installed or
// removed and the tree no longer has.
bool Differences(const CReleaseOptions& options, const std::vector<CTreeFile>& files, const CTreeFile* verFile,
                 const std::vector<std::string>& published, std::vector<const CTreeFile*>& changed,
                 std::vector<std::string>& removed, std::string& error) {
    std::vector<CTreeFile> old;
    if (!options.base.empty() && !ListTree(options.base, old, error))
        return false;
    if (!options.base.empty() && VerFiles(old, options.version).empty())
        Warn("--base holds no Ver" + options.version + " file: it should be the version's first release (or its "
             "oldest revision still installed), or clients of other revisions do not all end up alike");
    std::map<std::string, std::wstring> oldPaths;
    for (const CTreeFile& file : old)
        oldPaths[MemberNameKey(file.name)] = file.path;
    std::set<std::string> kept;
    for (const CTreeFile& file : files) {
        std::string now, before;
        kept.insert(MemberNameKey(file.name));
        if (&file == verFile)
            continue;
        auto found = oldPaths.find(MemberNameKey(file.name));
        if (found != oldPaths.end() && !ReadWholeFile(file.path, now)) {
            error = "cannot read " + Utf8Of(file.path);
            return false;
        }
        if (found == oldPaths.end() || !ReadWholeFile(found->second, before) || before != now)
            changed.push_back(&file);
    }
    std::vector<std::string> gone;
    for (const CTreeFile& file : old)
        gone.push_back(file.name);
    gone.insert(gone.end(), published.begin(), published.end());
    for (const std::string& name : gone) {
        if (IsSafeMemberName(name) && kept.insert(MemberNameKey(name)).second)
            removed.push_back(name);
    }
    std::sort(removed.begin(), removed.end());
    return true;
}

bool BuildArchive(const std::vector<const CTreeFile*>& changed, const CTreeFile& verFile, const std::string& verText,
                  std::string& archive, std::string& error) {
    if (!LoadStub(archive)) {
        error = "the self-extracting stub is missing from this program";
        return false;
    }
    CZipWriter zip(archive);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    std::vector<const CTreeFile*> members = changed;
    members.insert(std::upper_bound(members.begin(), members.end(), &verFile,
                                    [](const CTreeFile* a, const CTreeFile* b) { return a->name < b->name; }),
                   &verFile);
    for (const CTreeFile* file : members) {
        // The installed Ver file becomes the server's: the installation then is the revision.
        std::string data = file == &verFile ? verText : std::string();
        FILETIME modified = now;
        if ((file != &verFile && !ReadWholeFile(file->path, data, &modified)) || !zip.Add(file->name, data, modified)) {
            error = "cannot add " + Utf8Of(file->path) + " to the archive";
            return false;
        }
    }
    if (!zip.Finish()) {
        error = "the archive is too large";
        return false;
    }
    return true;
}

// The archive as it will be served: signed by the vendor's command if one is given, and
// still read whole by the updater's DLL.
bool FinishArchive(const CReleaseOptions& options, const std::wstring& path, size_t members, std::string& archive,
                   std::string& error) {
    if (options.signCommand.empty())
        return true;
    std::vector<std::string> names;
    if (!RunSignCommand(options.signCommand, path, error) || !ReadWholeFile(path, archive) ||
        !ReadArchiveNames(path, names, error) || names.size() != members) {
        error = "after --sign-command: " + (error.empty() ? "the archive is not the one written" : error);
        return false;
    }
    return true;
}
}  // namespace

void Warn(const std::string& text) { std::fprintf(stderr, "ZynPublish: warning: %s\n", text.c_str()); }

bool PublishRelease(const CReleaseOptions& options, std::string& error) {
    if (!CheckOptions(options, error))
        return false;
    std::vector<BYTE> key;
    std::string keyBytes;
    CPublicKey publicKey;
    if (!options.key.empty() &&
        (!ReadWholeFile(options.key, keyBytes) ||
         !PublicKeyOfBlob(key = std::vector<BYTE>(keyBytes.begin(), keyBytes.end()), publicKey))) {
        error = "cannot read a private key from " + Utf8Of(options.key);
        return false;
    }
    std::wstring verName = L"Ver" + Widened(options.version);
    std::string updateName = StrFormat("%s%d.EXE", options.prefix.c_str(), VersionCode(VersionKey(options.version)));
    // An unsigned release beside an older manifest would only be refused by every client with a key.
    if (key.empty() && Exists(options.server + L"\\" + verName + L".sig")) {
        error = "this folder publishes signed releases (Ver" + options.version + ".sig): give --key";
        return false;
    }
    std::vector<CTreeFile> files;
    if (!NoOtherVersionShares(options, updateName, error) || !ListTree(options.files, files, error))
        return false;
    std::vector<const CTreeFile*> verFiles = VerFiles(files, options.version);
    if (verFiles.size() != 1) {
        std::vector<std::string> names;
        for (const CTreeFile* file : verFiles)
            names.push_back(file->name);
        error = StrFormat("--files must hold one Ver%s file, the installed one; it holds %s", options.version.c_str(),
                          verFiles.empty() ? "none" : NameList(names).c_str());
        return false;
    }
    CPublishedRelease published;
    std::vector<const CTreeFile*> changed;
    std::vector<std::string> removed;
    std::string verText, archive;
    if (!ReadPublished(options, key.empty() ? nullptr : &publicKey, !options.base.empty(), published, error) ||
        !NewVerText(options, published.verText, verText, error) ||
        !Differences(options, files, verFiles[0], published.names, changed, removed, error))
        return false;
    if (key.empty() && !removed.empty()) {
        error = "only a signed release (--key) can delete files, and these are gone since the base: " +
                NameList(removed);
        return false;
    }
    if (changed.empty() && removed.empty()) {
        error = "nothing to publish: no file but the Ver file is new or differs from the base, and none was removed";
        return false;
    }
    CReleaseOutputs outputs(options.server);
    std::wstring updateFile = Widened(updateName);
    if (!BuildArchive(changed, *verFiles[0], verText, archive, error) || !outputs.Write(updateFile, archive, error) ||
        !FinishArchive(options, outputs.TemporaryPath(updateFile), changed.size() + 1, archive, error) ||
        !outputs.Write(verName, verText, error))
        return false;
    CDeltaAnnouncement delta;
    std::string deltaArchive;
    if (!options.previous.empty() &&
        (!BuildDeltaArchive(options, files, *verFiles[0], verText, delta, deltaArchive, error) ||
         !outputs.Write(Widened(delta.file), deltaArchive, error)))
        return false;
    if (!key.empty()) {
        CManifestContent content;
        content.version = options.version;
        content.revision = options.revision;
        content.verText = verText;
        content.file = updateName;
        content.length = archive.size();
        content.sha256 = Sha256Hex(archive);
        content.expiresAt = UtcNow() / 10000000 * 10000000 + options.expiresDays * kFileTimeDay;
        content.product = Utf8Of(options.product);
        content.removed = removed;
        content.delta = delta;
        std::string manifest = SignManifest(ManifestBody(content), key);
        if (manifest.empty()) {
            error = "signing the manifest failed";
            return false;
        }
        if (manifest.size() > kEarlierManifestLimit)
            Warn(StrFormat("the manifest is %u bytes: updaters that do not read remove= refuse one beyond %u",
                           static_cast<unsigned>(manifest.size()), static_cast<unsigned>(kEarlierManifestLimit)));
        if (!outputs.Write(verName + L".sig", manifest, error))
            return false;
    }
    if (!outputs.Replace(error))
        return false;
    std::printf("%s: %u files, %u bytes; Ver%s revision %d%s%s\n", updateName.c_str(),
                static_cast<unsigned>(changed.size() + 1), static_cast<unsigned>(archive.size()),
                options.version.c_str(), options.revision,
                removed.empty() ? "" : StrFormat(", %u removed", static_cast<unsigned>(removed.size())).c_str(),
                key.empty() ? ", unsigned" : ", signed");
    if (!delta.file.empty())
        std::printf("%s: from revision %d, %u bytes\n", delta.file.c_str(), delta.fromRevision,
                    static_cast<unsigned>(deltaArchive.size()));
    return true;
}
