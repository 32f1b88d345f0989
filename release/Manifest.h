#pragma once
// The signed manifest beside a Ver file ("Ver3.5.sig"): key=value lines in a fixed order,
// ending with the signature over every byte before its line.
//   version= revision= ver-sha256= file= length= sha256= expires= product= [remove=] [delta=] signature=
// delta= announces an archive of binary deltas for installations at an earlier revision:
// "<file> <that revision> <length> <sha256>".
// Every value is ASCII but the product's (UTF-8). Unknown keys may stand anywhere before the
// signature line and are signed like the rest; no key appears twice.
#include <windows.h>

#include <string>
#include <vector>

#include "Ecdsa.h"

// A manifest is a few hundred bytes, more with a long list of removed files.
const size_t kManifestLimit = 65536;
// Updaters before the remove= list refuse a manifest beyond this.
const size_t kEarlierManifestLimit = 4096;

// An archive that takes an installation at fromRevision to the release: deltas of the files
// that changed since, whole files where a delta would not be much smaller, and the Ver file.
struct CDeltaAnnouncement {
    std::string file;  // empty: no delta
    int fromRevision = 0;
    ULONGLONG length = 0;
    std::string sha256;
};

struct CReleaseManifest {
    std::string version;
    int revision = 0;
    std::string verSha256;
    std::string file;
    ULONGLONG length = 0;
    std::string sha256;
    std::string expires;
    ULONGLONG expiresAt = 0;  // FILETIME units, UTC
    std::string product;      // UTF-8
    // Installed files the release deletes: code page 932 member names ("CAD/bin/b.dll").
    std::vector<std::string> removed;
    CDeltaAnnouncement delta;
    BYTE signature[kSignatureBytes] = {};
    size_t signedBytes = 0;  // the bytes before the signature line
};

// What the program expects of the release it is about to trust.
struct CReleaseExpectation {
    std::string version;  // the installed version text, "3.5"
    int revision = 0;     // the revision read from the Ver text
    std::string verText;  // the Ver text as served
    std::string file;     // the update file name the program downloads
    ULONGLONG now = 0;    // FILETIME units, UTC
    std::string product;  // the program's AppName in UTF-8
};

enum ManifestVerdict {
    kManifestTrusted,
    kManifestMalformed,
    kManifestBadSignature,
    kManifestOtherVersion,
    kManifestOtherRevision,
    kManifestOtherVerText,
    kManifestExpired,
    kManifestOtherFile,
    kManifestOtherProduct,
};

// Strict: FALSE for any departure from the format above, a NUL byte included. bEarlierFormat
// also takes a manifest without product= (written before it existed), as the publisher must.
BOOL ParseManifest(const std::string& text, CReleaseManifest& manifest, BOOL bEarlierFormat = FALSE);
// TRUE when one of the keys signed the parsed manifest's text.
BOOL ManifestSignedBy(const std::string& text, const CReleaseManifest& manifest, const std::vector<CPublicKey>& keys);
// The verdict on a manifest's text: parsed, signed by one of the keys, and for this release.
ManifestVerdict CheckManifest(const std::string& text, const std::vector<CPublicKey>& keys,
                              const CReleaseExpectation& expected, CReleaseManifest& manifest);

// What a new manifest says.
struct CManifestContent {
    std::string version;
    int revision = 0;
    std::string verText;  // hashed here
    std::string file;
    ULONGLONG length = 0;  // the update file as published (signed, if it is)
    std::string sha256;
    ULONGLONG expiresAt = 0;
    std::string product;               // UTF-8
    std::vector<std::string> removed;  // code page 932 member names; none: no remove= line
    CDeltaAnnouncement delta;
};

// The signed part of a manifest (LF line ends) and the whole text once signed; empty on failure.
std::string ManifestBody(const CManifestContent& content);
std::string SignManifest(const std::string& body, const std::vector<BYTE>& privateBlob);

// "2027-06-30T00:00:00Z" and back; FALSE for any other form or an impossible date.
BOOL ParseUtcTime(const std::string& text, ULONGLONG& fileTime);
std::string UtcTimeText(ULONGLONG fileTime);
ULONGLONG UtcNow();
