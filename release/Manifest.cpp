#include "Manifest.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "Base64.h"
#include "Format.h"
#include "MemberName.h"
#include "Sha256.h"

namespace {
const char* const kRequiredKeys[] = {"version", "revision", "ver-sha256", "file", "length", "sha256", "expires",
                                     "product"};
const size_t kRequiredCount = sizeof(kRequiredKeys) / sizeof(kRequiredKeys[0]);
const char kProductKey[] = "product";
const char kRemoveKey[] = "remove";
const char kDeltaKey[] = "delta";
const char kSignatureKey[] = "signature";

bool IsDigits(const std::string& text, size_t most) {
    return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string::npos &&
           (text[0] != '0' || text.size() == 1);
}

bool IsLowerHex64(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsKey(const std::string& key) {
    return !key.empty() && key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string::npos;
}

bool IsUtf8(const std::string& text) {
    return !text.empty() && ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                                  static_cast<int>(text.size()), nullptr, 0) > 0;
}

// Only the product's value may leave printable ASCII, and only as UTF-8. Control bytes
// (NUL among them: a reader of C strings would stop there) are refused everywhere.
bool IsLineText(const std::string& key, const std::string& line) {
    bool ascii = true;
    for (unsigned char c : line) {
        if (c < 0x20 || c == 0x7F)
            return false;
        ascii = ascii && c < 0x80;
    }
    return ascii || (key == kProductKey && IsUtf8(line));
}

// remove=: percent-encoded member names separated by commas, each safe and named once.
bool TakeRemovedNames(const std::string& value, std::vector<std::string>& removed) {
    std::set<std::string> keys;
    size_t start = 0;
    do {
        size_t comma = value.find(',', start);
        std::string name;
        if (!PercentDecoded(value.substr(start, comma - start), name) || !IsSafeMemberName(name) ||
            !keys.insert(MemberNameKey(name)).second)
            return false;
        removed.push_back(name);
        start = comma == std::string::npos ? value.size() + 1 : comma + 1;
    } while (start <= value.size());
    return true;
}

bool IsFileName(const std::string& value) {
    return !value.empty() && value.find_first_of("/\\: ") == std::string::npos;
}

// delta=<file> <revision> <length> <sha256>, for an installation at an earlier revision.
bool TakeDelta(const std::string& value, CReleaseManifest& manifest) {
    std::vector<std::string> fields;
    for (size_t start = 0, blank = 0; blank != std::string::npos; start = blank + 1) {
        blank = value.find(' ', start);
        fields.push_back(value.substr(start, blank - start));
    }
    CDeltaAnnouncement& delta = manifest.delta;
    if (fields.size() != 4 || !IsFileName(fields[0]) || !IsDigits(fields[1], 9) || !IsDigits(fields[2], 10) ||
        !IsLowerHex64(fields[3]))
        return false;
    delta.file = fields[0];
    delta.fromRevision = std::atoi(fields[1].c_str());
    delta.length = std::strtoull(fields[2].c_str(), nullptr, 10);
    delta.sha256 = fields[3];
    return delta.fromRevision > 0 && delta.fromRevision < manifest.revision && delta.length <= 0xFFFFFFFFULL &&
           _stricmp(delta.file.c_str(), manifest.file.c_str()) != 0;
}

// Stores a required key's value; FALSE for a value out of its form.
bool TakeValue(size_t index, const std::string& value, CReleaseManifest& manifest) {
    switch (index) {
    case 0:
        manifest.version = value;
        return !value.empty() && value.find_first_of("/\\ ") == std::string::npos;
    case 1:
        manifest.revision = IsDigits(value, 9) ? std::atoi(value.c_str()) : 0;
        return manifest.revision > 0;
    case 2:
        manifest.verSha256 = value;
        return IsLowerHex64(value);
    case 3:
        manifest.file = value;
        return IsFileName(value);
    case 4:
        manifest.length = IsDigits(value, 10) ? std::strtoull(value.c_str(), nullptr, 10) : ~0ULL;
        return manifest.length <= 0xFFFFFFFFULL;
    case 5:
        manifest.sha256 = value;
        return IsLowerHex64(value);
    case 6:
        manifest.expires = value;
        return ParseUtcTime(value, manifest.expiresAt);
    default:
        manifest.product = value;
        return !value.empty();
    }
}
}  // namespace

BOOL ParseManifest(const std::string& text, CReleaseManifest& manifest, BOOL bEarlierFormat) {
    manifest = CReleaseManifest();
    if (text.size() > kManifestLimit)
        return FALSE;
    std::set<std::string> seen;
    size_t required = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, (end == std::string::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals);
        if (equals == std::string::npos || !IsKey(key) || !IsLineText(key, line) || !seen.insert(key).second)
            return FALSE;
        std::string value = line.substr(equals + 1);
        if (key == kSignatureKey) {
            std::vector<BYTE> signature;
            // The signature comes last, after every required key; only its line end may follow.
            bool complete = required == kRequiredCount || (bEarlierFormat && required == kRequiredCount - 1);
            if (!complete || next != text.size() || !Base64Decode(value, signature) ||
                signature.size() != kSignatureBytes)
                return FALSE;
            std::memcpy(manifest.signature, signature.data(), kSignatureBytes);
            manifest.signedBytes = start;
            return TRUE;
        }
        if (key == kRemoveKey && (required != kRequiredCount || !TakeRemovedNames(value, manifest.removed)))
            return FALSE;
        if (key == kDeltaKey && (required != kRequiredCount || !TakeDelta(value, manifest)))
            return FALSE;
        bool isRequired = false;
        for (size_t i = 0; i < kRequiredCount; ++i)
            isRequired = isRequired || key == kRequiredKeys[i];
        if (isRequired) {
            if (required == kRequiredCount || key != kRequiredKeys[required] || !TakeValue(required, value, manifest))
                return FALSE;
            ++required;
        }
        start = next;
    }
    return FALSE;  // no signature line
}

BOOL ManifestSignedBy(const std::string& text, const CReleaseManifest& manifest, const std::vector<CPublicKey>& keys) {
    BYTE digest[kSha256Bytes];
    CSha256 hash;
    hash.Add(text.data(), manifest.signedBytes);
    if (!hash.Digest(digest))
        return FALSE;
    for (const CPublicKey& key : keys) {
        if (VerifyP256(key, digest, sizeof(digest), manifest.signature))
            return TRUE;
    }
    return FALSE;
}

ManifestVerdict CheckManifest(const std::string& text, const std::vector<CPublicKey>& keys,
                              const CReleaseExpectation& expected, CReleaseManifest& manifest) {
    if (!ParseManifest(text, manifest))
        return kManifestMalformed;
    if (!ManifestSignedBy(text, manifest, keys))
        return kManifestBadSignature;
    if (manifest.product != expected.product)
        return kManifestOtherProduct;
    if (_stricmp(manifest.version.c_str(), expected.version.c_str()) != 0)
        return kManifestOtherVersion;
    if (manifest.revision != expected.revision)
        return kManifestOtherRevision;
    if (manifest.verSha256 != Sha256Hex(expected.verText))
        return kManifestOtherVerText;
    if (manifest.expiresAt <= expected.now)
        return kManifestExpired;
    if (_stricmp(manifest.file.c_str(), expected.file.c_str()) != 0)
        return kManifestOtherFile;
    return kManifestTrusted;
}

std::string ManifestBody(const CManifestContent& content) {
    std::string verSha256 = Sha256Hex(content.verText);
    if (verSha256.empty() || content.sha256.empty())
        return std::string();
    std::string body = StrFormat(
        "version=%s\nrevision=%d\nver-sha256=%s\nfile=%s\nlength=%llu\nsha256=%s\nexpires=%s\nproduct=%s\n",
        content.version.c_str(), content.revision, verSha256.c_str(), content.file.c_str(),
        static_cast<unsigned long long>(content.length), content.sha256.c_str(),
        UtcTimeText(content.expiresAt).c_str(), content.product.c_str());
    for (size_t i = 0; i < content.removed.size(); ++i)
        body += (i == 0 ? "remove=" : ",") + PercentEncoded(content.removed[i]);
    if (!content.removed.empty())
        body += "\n";
    const CDeltaAnnouncement& delta = content.delta;
    if (!delta.file.empty())
        body += StrFormat("delta=%s %d %llu %s\n", delta.file.c_str(), delta.fromRevision,
                          static_cast<unsigned long long>(delta.length), delta.sha256.c_str());
    return body;
}

std::string SignManifest(const std::string& body, const std::vector<BYTE>& privateBlob) {
    BYTE digest[kSha256Bytes];
    BYTE signature[kSignatureBytes];
    CSha256 hash;
    hash.Add(body.data(), body.size());
    if (body.empty() || !hash.Digest(digest) || !SignP256(privateBlob, digest, sizeof(digest), signature))
        return std::string();
    return body + "signature=" + Base64Encode(signature, sizeof(signature)) + "\n";
}

BOOL ParseUtcTime(const std::string& text, ULONGLONG& fileTime) {
    const char pattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof(pattern) - 1)
        return FALSE;
    for (size_t i = 0; i < text.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i])
            return FALSE;
    }
    auto number = [&text](size_t at, size_t count) { return static_cast<WORD>(std::atoi(text.substr(at, count).c_str())); };
    SYSTEMTIME time = {};
    time.wYear = number(0, 4);
    time.wMonth = number(5, 2);
    time.wDay = number(8, 2);
    time.wHour = number(11, 2);
    time.wMinute = number(14, 2);
    time.wSecond = number(17, 2);
    // The calendar is checked here: Wine's conversion takes February 29th of any year.
    const WORD monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = time.wYear % 4 == 0 && (time.wYear % 100 != 0 || time.wYear % 400 == 0);
    if (time.wYear < 1601 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 ||
        time.wDay > monthDays[time.wMonth - 1] + (time.wMonth == 2 && leap) || time.wHour > 23 ||
        time.wMinute > 59 || time.wSecond > 59)
        return FALSE;
    FILETIME converted;
    if (!::SystemTimeToFileTime(&time, &converted))
        return FALSE;
    fileTime = static_cast<ULONGLONG>(converted.dwHighDateTime) << 32 | converted.dwLowDateTime;
    return TRUE;
}

std::string UtcTimeText(ULONGLONG fileTime) {
    FILETIME converted = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME time = {};
    ::FileTimeToSystemTime(&converted, &time);
    return StrFormat("%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                     time.wSecond);
}

ULONGLONG UtcNow() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}
