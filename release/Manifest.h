#pragma once
// The signed manifest beside a Ver file ("Ver3.5.sig"): ASCII key=value lines in a fixed
// order, ending with the signature over every byte before its line.
//   version= revision= ver-sha256= file= length= sha256= expires= signature=
// Unknown keys may stand anywhere before the signature line and are signed like the rest.
#include <windows.h>

#include <string>
#include <vector>

#include "Ecdsa.h"

// A manifest is a few hundred bytes; anything far larger is not one.
const size_t kManifestLimit = 4096;

struct CReleaseManifest {
    std::string version;
    int revision = 0;
    std::string verSha256;
    std::string file;
    ULONGLONG length = 0;
    std::string sha256;
    std::string expires;
    ULONGLONG expiresAt = 0;  // FILETIME units, UTC
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
};

// Strict: FALSE for any departure from the format above.
BOOL ParseManifest(const std::string& text, CReleaseManifest& manifest);
// The verdict on a manifest's text: parsed, signed by one of the keys, and for this release.
ManifestVerdict CheckManifest(const std::string& text, const std::vector<CPublicKey>& keys,
                              const CReleaseExpectation& expected, CReleaseManifest& manifest);

// The signed part of a manifest (LF line ends) and the whole text once signed; empty on failure.
std::string ManifestBody(const std::string& version, int revision, const std::string& verText, const std::string& file,
                         const std::string& update, ULONGLONG expiresAt);
std::string SignManifest(const std::string& body, const std::vector<BYTE>& privateBlob);

// "2027-06-30T00:00:00Z" and back; FALSE for any other form or an impossible date.
BOOL ParseUtcTime(const std::string& text, ULONGLONG& fileTime);
std::string UtcTimeText(ULONGLONG fileTime);
ULONGLONG UtcNow();
