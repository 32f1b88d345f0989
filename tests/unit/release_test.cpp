// The signed release's parts on their own: hashing, base64, P-256 through CNG, the manifest's
// strict reading (its dates, product and removed files) and its verdicts, and the update file's
// length and hash check.
#include <gtest/gtest.h>

#include <functional>

#include "Base64.h"
#include "Manifest.h"
#include "MemberName.h"
#include "TestSupport.h"
#include "UpdateFileCheck.h"

namespace {
const ULONGLONG kDay = 864000000000ULL;
const std::string kVerText = "(No.12)\r\n";
const std::string kUpdate(3000, 'u');

std::vector<BYTE> NewKey() {
    std::vector<BYTE> blob;
    EXPECT_TRUE(GenerateP256(blob));
    return blob;
}

std::vector<CPublicKey> PublicKeys(const std::vector<BYTE>& blob) {
    CPublicKey key;
    EXPECT_TRUE(PublicKeyOfBlob(blob, key));
    return {key};
}

const std::string kProduct = u8"ホルビア";

CManifestContent Content(const std::string& version, int revision, const std::string& file, ULONGLONG expiresAt,
                         const std::string& product = kProduct, const std::vector<std::string>& removed = {}) {
    CManifestContent content;
    content.version = version;
    content.revision = revision;
    content.verText = kVerText;
    content.file = file;
    content.length = kUpdate.size();
    content.sha256 = Sha256Hex(kUpdate);
    content.expiresAt = expiresAt;
    content.product = product;
    content.removed = removed;
    return content;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? "(not found: " + from + ")" : text.replace(at, from.size(), to);
}
}  // namespace

TEST(Release, Sha256AndBase64) {
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    CSha256 pieces;  // fed in parts, the same digest
    EXPECT_TRUE(pieces.Add("a", 1) && pieces.Add("bc", 2));
    EXPECT_EQ(pieces.HexDigest(), Sha256Hex("abc"));
    EXPECT_EQ(pieces.HexDigest(), "");  // a finished hash gives nothing more

    for (const std::string& bytes : {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
                                     std::string("foob"), std::string("\xff\xfe\x00\x01", 4)}) {
        std::vector<BYTE> back;
        EXPECT_TRUE(Base64Decode(Base64Encode(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()), back));
        EXPECT_EQ(std::string(back.begin(), back.end()), bytes);
    }
    EXPECT_EQ(Base64Encode(reinterpret_cast<const BYTE*>("foob"), 4), "Zm9vYg==");
    for (const char* bad : {"Zm9", "Zm9vY===", "Zm=v", "Zg=A", "Zh==", "Zm9vYm=", "Zm9v Yg==", "Zm9v\nYg==", "=Zm9"}) {
        std::vector<BYTE> back;
        EXPECT_FALSE(Base64Decode(bad, back)) << bad;
    }
}

TEST(Release, SignaturesVerifyOnlyWithTheirKeyOverTheirDigest) {
    std::vector<BYTE> blob = NewKey(), other = NewKey();
    CPublicKey key = PublicKeys(blob)[0];
    BYTE digest[32] = {1, 2, 3}, signature[64];
    ASSERT_TRUE(SignP256(blob, digest, sizeof(digest), signature));
    EXPECT_TRUE(VerifyP256(key, digest, sizeof(digest), signature));
    EXPECT_FALSE(VerifyP256(PublicKeys(other)[0], digest, sizeof(digest), signature));
    digest[31] ^= 1;
    EXPECT_FALSE(VerifyP256(key, digest, sizeof(digest), signature));
    CPublicKey offCurve = key;
    offCurve[63] ^= 1;
    digest[31] ^= 1;
    EXPECT_FALSE(VerifyP256(offCurve, digest, sizeof(digest), signature));
    blob.pop_back();
    EXPECT_FALSE(SignP256(blob, digest, sizeof(digest), signature));

    // Keys in the settings: one or more, commas between, each exactly 64 bytes.
    std::string text = Base64Encode(key.data(), key.size());
    std::vector<CPublicKey> keys;
    EXPECT_TRUE(ParsePublicKeys(" " + text + " ," + text, keys));
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1], key);
    for (const std::string& bad : {std::string(), text + ",", text.substr(4), "AAAA" + text, std::string(",x")})
        EXPECT_FALSE(ParsePublicKeys(bad, keys)) << bad;
}

TEST(Release, TheManifestIsReadStrictly) {
    std::vector<BYTE> blob = NewKey();
    ULONGLONG expires = UtcNow() / 10000000 * 10000000 + kDay;
    const std::vector<std::string> removed = {"CAD/bin/b.dll", "CAD/表示/k,1.txt"};
    std::string good = SignManifest(ManifestBody(Content("3.5", 12, "UPD350.EXE", expires, kProduct, removed)), blob);
    CReleaseManifest manifest;
    ASSERT_TRUE(ParseManifest(good, manifest));
    EXPECT_EQ(std::tie(manifest.version, manifest.revision, manifest.file, manifest.length, manifest.expiresAt,
                       manifest.product, manifest.removed),
              std::make_tuple(std::string("3.5"), 12, std::string("UPD350.EXE"), 3000ULL, expires, kProduct, removed));
    EXPECT_NE(good.find(u8"\nproduct=ホルビア\nremove=CAD/bin/b.dll,CAD/%95%5C%8E%A6/k%2C1.txt\nsignature="),
              std::string::npos);
    EXPECT_EQ(manifest.signedBytes, good.find("signature="));
    std::string signature = good.substr(good.find("signature="));
    std::string unsignedPart = good.substr(0, manifest.signedBytes);
    std::string crlf;
    for (char c : good)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string earlier = Replaced(Replaced(good, u8"product=ホルビア\n", ""), "remove=", "x-remove=");
    std::vector<std::string> many;
    for (int i = 0; i < 700; ++i)
        many.push_back("CAD/data/" + std::to_string(i) + ".dat");
    std::string large = SignManifest(ManifestBody(Content("3.5", 12, "UPD350.EXE", expires, kProduct, many)), blob);
    // Accepted: CR LF line ends, unknown keys (anywhere before the signature), no final line end, and beyond the
    // earlier 4 KB within 64 KB.
    for (const std::string& text : {crlf, "notes=x\n" + good, Replaced(good, "expires=", "channel=beta\nexpires="),
                                    good.substr(0, good.size() - 1), large})
        EXPECT_TRUE(ParseManifest(text, manifest)) << text.substr(0, 600);
    EXPECT_EQ(manifest.removed, many);
    EXPECT_GT(large.size(), kEarlierManifestLimit);
    // One written before product= existed: only the publisher reads it, to build on it.
    EXPECT_FALSE(ParseManifest(earlier, manifest));
    EXPECT_TRUE(ParseManifest(earlier, manifest, TRUE));
    EXPECT_FALSE(ParseManifest(Replaced(earlier, "x-remove=", "remove="), manifest, TRUE));
    auto removing = [&good](const std::string& list) {
        return Replaced(good, "remove=CAD/bin/b.dll,CAD/%95%5C%8E%A6/k%2C1.txt", "remove=" + list);
    };
    const std::string bad[] = {
        Replaced(good, "revision=12\n", "revision=12\nrevision=12\n"),          // a duplicate
        "x=1\nx=2\n" + good,                                                     // a duplicate unknown key
        Replaced(good, "file=UPD350.EXE\n", ""),                                 // a line missing
        Replaced(good, "revision=12\n", "") + "revision=12\n",                   // out of order
        Replaced(good, "ver-sha256=", "ver-sha256=A").substr(0, good.size()),    // upper-case hex
        Replaced(good, "sha256=", "sha256=0"),                                   // 65 digits
        Replaced(good, "signature=", "signature=A"),                             // bad base64
        Replaced(good, "signature=", "signature=AAAA"),                          // 67 bytes
        unsignedPart + signature + "notes=x\n",                                  // signature not last
        unsignedPart,                                                            // no signature
        good + "\n",                                                             // an empty line after it
        good + std::string("\0junk", 5),                                         // a NUL after it
        Replaced(good, "3.5\n", std::string("3.5\nnotes=a\0b\n", 14)),           // a NUL before it
        Replaced(good, "revision=12", "revision=012"),                           // leading zero
        Replaced(good, "revision=12", "revision=0"),
        Replaced(good, "length=3000", "length=4294967296"),                      // beyond 4 GB
        Replaced(good, "length=3000", "length=-1"),
        Replaced(good, "file=UPD350.EXE", "file=..\\UPD350.EXE"),
        Replaced(good, "expires=", "expires=2027-02-29T00:00:00Z\nx="),          // no such day
        Replaced(good, "expires=", "expires=2027-01-01 00:00:00Z\nx="),
        Replaced(good, "3.5\n", "3.5\r\r\n"),                                    // a lone CR
        Replaced(good, "3.5\n", "3.5\n=1\n"),                                    // no key
        Replaced(good, "3.5\n", "3.5\n\x8e\x77=1\n"),                            // not ASCII
        Replaced(good, "3.5\n", u8"3.5\nnotes=ホ\n"),                            // UTF-8 but not the product
        Replaced(good, u8"=ホルビア", "=\x83\x7a\x83\x8b"),                        // a product not in UTF-8
        Replaced(good, u8"ホルビア", ""),
        Replaced(good, u8"product=ホルビア\n", ""),                               // no product
        Replaced(good, u8"product=ホルビア\nremove=", "remove=") + u8"product=ホルビア\n",  // removals before it
        removing(""), removing("a,"), removing(",a"), removing("a,,b"),          // an empty name
        removing(".."), removing("CAD/../x"), removing("CAD/./x"), removing("CAD/%20./x"),  // parts of dots
        removing("/x"), removing("C%3A/x"), removing("CAD%5Cx"), removing("CAD//x"), removing("x/"),
        removing("CAD/bin/b.dll,CAD/BIN/B.DLL"),                                 // the same file twice
        removing("a%2cb"), removing("a%2"), removing("a%41"), removing("a b"),  // not the one spelling
        removing("%95"),                                                         // half a character
        removing(std::string(257, 'x')),                                         // an installed path of 260
        "notes=" + std::string(kManifestLimit, 'x') + "\n" + good,               // sound, but too long
        good + std::string(1 << 20, 'j'),                                        // 1 MB of junk
        std::string(1 << 20, 'j'),
    };
    for (const std::string& text : bad)
        EXPECT_FALSE(ParseManifest(text, manifest)) << text.substr(0, 600);
    // The longest name; 表; ヂ and ア, whose trail bytes differ only in case.
    EXPECT_TRUE(ParseManifest(removing(std::string(256, 'x') + ",%95%5C,%83a,%83A"), manifest));

    // The calendar is checked here, not left to the system.
    const std::pair<const char*, bool> times[] = {
        {"2028-02-29T23:59:59Z", true}, {"2000-02-29T00:00:00Z", true}, {"2027-12-31T00:00:00Z", true},
        {"2027-02-29T00:00:00Z", false}, {"2100-02-29T00:00:00Z", false}, {"2027-04-31T00:00:00Z", false},
        {"2027-13-01T00:00:00Z", false}, {"2027-00-01T00:00:00Z", false}, {"2027-01-00T00:00:00Z", false},
        {"2027-01-32T00:00:00Z", false}, {"2027-01-01T24:00:00Z", false}, {"2027-01-01T00:60:00Z", false},
        {"2027-01-01T00:00:60Z", false}, {"1600-12-31T00:00:00Z", false}, {"2027-1-01T00:00:00Z", false},
    };
    for (const auto& [text, valid] : times) {
        ULONGLONG at = 0;
        EXPECT_EQ(ParseUtcTime(text, at), valid) << text;
        EXPECT_TRUE(!valid || UtcTimeText(at) == text) << text;
    }
}

TEST(Release, VerdictsNameTheFirstRuleBroken) {
    std::vector<BYTE> blob = NewKey(), other = NewKey();
    CReleaseExpectation expected{"3.5", 12, kVerText, "UPD350.EXE", UtcNow(), Utf8OfCodePage932("ホルビア")};
    auto manifest = [&](const std::string& version, int revision, const std::string& file, LONGLONG days,
                        const std::vector<BYTE>& key, const std::string& product = kProduct) {
        return SignManifest(ManifestBody(Content(version, revision, file, UtcNow() + days * kDay, product)), key);
    };
    std::string good = manifest("3.5", 12, "UPD350.EXE", 1, blob);
    const std::pair<std::string, ManifestVerdict> cases[] = {
        {good, kManifestTrusted},
        {manifest("3.5", 12, "upd350.exe", 1, blob), kManifestTrusted},  // file names as Windows compares them
        {Replaced(good, "length=3000", "length=3001"), kManifestBadSignature},
        {manifest("3.5", 12, "UPD350.EXE", 1, other), kManifestBadSignature},
        {manifest("3.6", 12, "UPD360.EXE", -1, blob, "ravaZAZ"), kManifestOtherProduct},
        {manifest("3.5", 12, "UPD350.EXE", 1, blob, u8"ホルビア2"), kManifestOtherProduct},
        {manifest("3.6", 12, "UPD350.EXE", 1, blob), kManifestOtherVersion},
        {manifest("3.5", 11, "UPD350.EXE", 1, blob), kManifestOtherRevision},
        {manifest("3.5", 12, "UPD350.EXE", -1, blob), kManifestExpired},
        {manifest("3.5", 12, "UPD360.EXE", 1, blob), kManifestOtherFile},
        {"", kManifestMalformed},
    };
    std::vector<CPublicKey> keys = PublicKeys(NewKey());
    keys.push_back(PublicKeys(blob)[0]);  // the second of two keys verifies as well as the first
    CReleaseManifest read;
    for (const auto& [text, verdict] : cases)
        EXPECT_EQ(CheckManifest(text, keys, expected, read), verdict) << text;
    expected.verText += " ";
    EXPECT_EQ(CheckManifest(good, keys, expected, read), kManifestOtherVerText);
}

TEST(Release, TheUpdateFileMustHaveItsSignedLengthAndHash) {
    const std::string sha = Sha256Hex(kUpdate);
    std::string altered = kUpdate;
    altered[1500] ^= 1;
    // Each row: the bytes as they arrive, and whether they are the signed file.
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{kUpdate.substr(0, 1024), kUpdate.substr(1024)}, true},
        {{altered}, false},
        {{kUpdate.substr(0, 2999)}, false},
        {{kUpdate, "x"}, false},
    };
    std::string folder = ScratchFolder("release");
    for (const auto& [blocks, matches] : cases) {
        CUpdateFileCheck check(kUpdate.size(), sha);
        std::string whole;
        BOOL added = TRUE;
        for (const std::string& block : blocks) {
            added = added && check.Add(block.data(), static_cast<DWORD>(block.size()));
            whole += block;
        }
        EXPECT_EQ(added && check.Matches(), matches);
        EXPECT_EQ(check.Remaining(), whole.size() > kUpdate.size() ? kUpdate.size() - blocks[0].size()
                                                                   : kUpdate.size() - whole.size());
        ASSERT_TRUE(WriteBytes(folder + "UPD350_12.EXE", whole));
        EXPECT_EQ(FileMatchesRelease(folder + "UPD350_12.EXE", kUpdate.size(), sha), matches);
    }
    EXPECT_FALSE(FileMatchesRelease(folder + "missing.EXE", 0, Sha256Hex("")));
}
