#pragma once
// ECDSA P-256 through CNG. A public key is X||Y and a signature r||s, each half 32
// bytes big-endian: CNG's own layouts, so they pass to it and to other tools unchanged.
#include <windows.h>

#include <array>
#include <string>
#include <vector>

const size_t kPublicKeyBytes = 64;
const size_t kSignatureBytes = 64;
using CPublicKey = std::array<BYTE, kPublicKeyBytes>;

// Base64 keys separated by commas (blanks around them allowed); FALSE when any is not
// exactly 64 bytes, or none is given.
BOOL ParsePublicKeys(const std::string& text, std::vector<CPublicKey>& keys);
// TRUE only for a signature that CNG verifies over the digest with the key.
BOOL VerifyP256(const CPublicKey& key, const BYTE* digest, size_t digestBytes, const BYTE* signature);

// A new key pair: privateBlob is CNG's private key blob (header, X, Y, d), the key file's content.
BOOL GenerateP256(std::vector<BYTE>& privateBlob);
// X||Y of a private key blob; FALSE for anything but a P-256 private key blob.
BOOL PublicKeyOfBlob(const std::vector<BYTE>& privateBlob, CPublicKey& key);
BOOL SignP256(const std::vector<BYTE>& privateBlob, const BYTE* digest, size_t digestBytes, BYTE* signature);
