#pragma once
// The archive that takes an installation at the previous release to this one: a binary delta
// of each file that changed since (named as the file with kDeltaSuffix), where that is clearly
// smaller than the deflated file, the whole file otherwise, and the new Ver text. A plain zip:
// nobody runs it.
#include <string>
#include <vector>

#include "Manifest.h"
#include "Release.h"
#include "Tree.h"

// From options.previous, the last release's tree, to files (verFile among them, whose content is
// verText). announced gets the archive's name, the previous revision, length and hash; archive
// its bytes. FALSE, with the reason, when the previous tree cannot serve.
bool BuildDeltaArchive(const CReleaseOptions& options, const std::vector<CTreeFile>& files, const CTreeFile& verFile,
                       const std::string& verText, CDeltaAnnouncement& announced, std::string& archive,
                       std::string& error);
