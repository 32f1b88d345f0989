#include "Ecdsa.h"

#include <cstring>

#include "Base64.h"
#include "CngHandle.h"

namespace {
const size_t kCoordinateBytes = 32;
const size_t kPrivateBlobBytes = sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinateBytes;

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

CCngKey ImportKey(const CAlgorithm& algorithm, LPCWSTR blobType, std::vector<BYTE> blob) {
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!algorithm || !BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm.get(), nullptr, blobType, &key, blob.data(),
                                                            static_cast<ULONG>(blob.size()), 0)))
        key = nullptr;
    return CCngKey(key);
}
}  // namespace

BOOL ParsePublicKeys(const std::string& text, std::vector<CPublicKey>& keys) {
    keys.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = Trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        std::vector<BYTE> bytes;
        if (!Base64Decode(item, bytes) || bytes.size() != kPublicKeyBytes)
            return FALSE;
        keys.emplace_back();
        std::memcpy(keys.back().data(), bytes.data(), kPublicKeyBytes);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return !keys.empty();
}

BOOL VerifyP256(const CPublicKey& key, const BYTE* digest, size_t digestBytes, const BYTE* signature) {
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
    std::vector<BYTE> blob(reinterpret_cast<BYTE*>(&header), reinterpret_cast<BYTE*>(&header + 1));
    blob.insert(blob.end(), key.begin(), key.end());
    CAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    CCngKey imported = ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, blob);
    return imported && ::BCryptVerifySignature(imported.get(), nullptr, const_cast<BYTE*>(digest),
                                               static_cast<ULONG>(digestBytes), const_cast<BYTE*>(signature),
                                               kSignatureBytes, 0) == 0;
}

BOOL GenerateP256(std::vector<BYTE>& privateBlob) {
    CAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!algorithm || !BCRYPT_SUCCESS(::BCryptGenerateKeyPair(algorithm.get(), &handle, 256, 0)))
        return FALSE;
    CCngKey key(handle);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(key.get(), 0)) ||
        !BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0)))
        return FALSE;
    privateBlob.assign(size, 0);
    if (!BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, privateBlob.data(), size,
                                          &size, 0)))
        return FALSE;
    privateBlob.resize(size);
    CPublicKey check;
    return PublicKeyOfBlob(privateBlob, check);
}

BOOL PublicKeyOfBlob(const std::vector<BYTE>& privateBlob, CPublicKey& key) {
    BCRYPT_ECCKEY_BLOB header;
    if (privateBlob.size() != kPrivateBlobBytes)
        return FALSE;
    std::memcpy(&header, privateBlob.data(), sizeof(header));
    if (header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || header.cbKey != kCoordinateBytes)
        return FALSE;
    std::memcpy(key.data(), privateBlob.data() + sizeof(header), kPublicKeyBytes);
    return TRUE;
}

BOOL SignP256(const std::vector<BYTE>& privateBlob, const BYTE* digest, size_t digestBytes, BYTE* signature) {
    CPublicKey unused;
    if (!PublicKeyOfBlob(privateBlob, unused))
        return FALSE;
    CAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    CCngKey key = ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, privateBlob);
    ULONG written = 0;
    return key &&
           BCRYPT_SUCCESS(::BCryptSignHash(key.get(), nullptr, const_cast<BYTE*>(digest),
                                           static_cast<ULONG>(digestBytes), signature, kSignatureBytes, &written, 0)) &&
           written == kSignatureBytes;
}
