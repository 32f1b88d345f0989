#pragma once
// "ZynPublish release": a new revision into a server folder.
#include <string>

// The longest a signed release may be offered: an old manifest that never expired could be
// served in place of every later one for ever.
const int kMaxExpiresDays = 730;

struct CReleaseOptions {
    std::wstring server;       // the server folder
    std::wstring files;        // the new files, laid out from the drive root: the whole tree
    std::wstring base;         // the tree already installed; empty: every file goes in
    std::wstring previous;     // the last release's tree; with a key, a delta archive from its revision
    std::wstring notes;        // UTF-8 text for the Ver file's new entry; empty: none
    std::wstring key;          // the private key file; empty: no manifest
    std::wstring product;      // the AppName the release is for; required with a key
    std::wstring signCommand;  // run on the finished archive, "{}" standing for its path; empty: none
    std::string version;       // "3.5"
    std::string prefix = "UPD";
    int revision = 0;
    int expiresDays = 180;
};

// Writes the update file, the Ver file, (with --previous) the delta archive and (with a key) the manifest, or
// nothing: FALSE with the reason.
bool PublishRelease(const CReleaseOptions& options, std::string& error);

// Says what the vendor should know of a release that goes on (on stderr).
void Warn(const std::string& text);
