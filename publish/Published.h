#pragma once
// What the server folder already holds of a version, checked before a release builds on it.
#include <windows.h>

#include <string>
#include <vector>

#include "Ecdsa.h"
#include "Release.h"

struct CPublishedRelease {
    std::string verText;             // the server's Ver file as it is; empty when there is none
    std::vector<std::string> names;  // members of its signed archive and the names that release removed
};

// Reads the version's Ver file. With publicKey it must be the text that the folder's manifest
// signs with that key; a folder without a manifest has its Ver file taken as found, with a
// warning. With wantNames the archive must be the one the manifest names, and names gets
// its members. FALSE, with the reason, for anything it cannot vouch for.
bool ReadPublished(const CReleaseOptions& options, const CPublicKey* publicKey, bool wantNames,
                   CPublishedRelease& published, std::string& error);

// FALSE, with the reason, when another version in the folder has the same update file
// (3.5 and 3.5a both have UPD350.EXE).
bool NoOtherVersionShares(const CReleaseOptions& options, const std::string& updateName, std::string& error);

// The published Ver text with the new revision's entry after the earlier ones; the oldest
// entries are dropped, with a warning, when clients could not read it whole.
bool NewVerText(const CReleaseOptions& options, const std::string& published, std::string& text, std::string& error);

// The member names of an archive as the updater's DLL reads it (code page 932, folders
// left out); FALSE, with the reason, when the DLL would refuse it.
bool ReadArchiveNames(const std::wstring& path, std::vector<std::string>& names, std::string& error);
