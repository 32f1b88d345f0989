#pragma once
// "ZynPublish release": a new revision into a server folder.
#include <string>

struct CReleaseOptions {
    std::wstring server;  // the server folder
    std::wstring files;   // the new files, laid out from the drive root
    std::wstring base;    // the tree already published; empty: every file goes in
    std::wstring notes;   // UTF-8 text for the Ver file's new entry; empty: none
    std::wstring key;     // the private key file; empty: no manifest
    std::string version;  // "3.5"
    std::string prefix = "UPD";
    int revision = 0;
    int expiresDays = 180;
};

// Writes the update file, the Ver file and (with a key) the manifest, or nothing: FALSE with the reason.
bool PublishRelease(const CReleaseOptions& options, std::string& error);
