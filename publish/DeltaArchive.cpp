#include "DeltaArchive.h"

#include <map>

#include "Delta.h"
#include "Format.h"
#include "MemberName.h"
#include "Sha256.h"
#include "VersionText.h"
#include "ZipWriter.h"

namespace {
// A delta goes in only below this share of the deflated file: a client that applies it must
// read and check the installed file as well.
const size_t kClearlySmallerPercent = 75;
}  // namespace

bool BuildDeltaArchive(const CReleaseOptions& options, const std::vector<CTreeFile>& files, const CTreeFile& verFile,
                       const std::string& verText, CDeltaAnnouncement& announced, std::string& archive,
                       std::string& error) {
    std::vector<CTreeFile> previous;
    if (!ListTree(options.previous, previous, error))
        return false;
    std::map<std::string, const CTreeFile*> before;
    for (const CTreeFile& file : previous)
        before[MemberNameKey(file.name)] = &file;
    const auto previousVer = before.find(MemberNameKey(verFile.name));
    std::string previousVerText;
    if (previousVer == before.end() || !ReadWholeFile(previousVer->second->path, previousVerText)) {
        error = "--previous holds no " + Utf8OfCodePage932(verFile.name) + ": the last release's tree names its "
                "revision in its Ver file";
        return false;
    }
    announced.fromRevision = ParseRevision(previousVerText.c_str());
    if (announced.fromRevision <= 0 || announced.fromRevision >= options.revision) {
        error = StrFormat("the Ver file of --previous names revision %d: it must be the last release, below %d",
                          announced.fromRevision, options.revision);
        return false;
    }
    CZipWriter zip(archive);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    for (const CTreeFile& file : files) {
        std::string data, old, delta, packed;
        FILETIME modified = now;
        if (&file == &verFile) {
            data = verText;  // the server's, as the full archive carries it
        } else if (!ReadWholeFile(file.path, data, &modified)) {
            error = "cannot read " + Utf8Of(file.path);
            return false;
        }
        auto found = before.find(MemberNameKey(file.name));
        if (found != before.end() && &file != &verFile) {
            if (!ReadWholeFile(found->second->path, old)) {
                error = "cannot read " + Utf8Of(found->second->path);
                return false;
            }
            if (old == data)
                continue;  // the installation has it already
            if (!MakeDelta(old, data, delta) || !DeflateBytes(data, packed)) {
                error = "cannot make the delta of " + Utf8Of(file.path);
                return false;
            }
        }
        const bool bDelta = !delta.empty() && delta.size() * 100 < packed.size() * kClearlySmallerPercent;
        if (!zip.Add(bDelta ? file.name + kDeltaSuffix : file.name, bDelta ? delta : data, modified)) {
            error = "cannot add " + Utf8Of(file.path) + " to the delta archive";
            return false;
        }
    }
    if (!zip.Finish()) {
        error = "the delta archive is too large";
        return false;
    }
    announced.file = StrFormat("%s%d_%d.DLT", options.prefix.c_str(), VersionCode(VersionKey(options.version)),
                               announced.fromRevision);
    announced.length = archive.size();
    announced.sha256 = Sha256Hex(archive);
    return true;
}
