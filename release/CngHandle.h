#pragma once
// Owners for the CNG handles, in the project's one handle owner.
#include <windows.h>
#include <bcrypt.h>

#include "Handle.h"

struct CAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct CHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::BCryptDestroyHash(h); }
};
struct CKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::BCryptDestroyKey(h); }
};

using CAlgorithm = CScopedHandle<CAlgorithmTraits>;
using CHash = CScopedHandle<CHashTraits>;
using CCngKey = CScopedHandle<CKeyTraits>;

// Opens an algorithm provider; an empty owner when CNG refuses.
inline CAlgorithm OpenAlgorithm(LPCWSTR id) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, id, nullptr, 0)))
        handle = nullptr;
    return CAlgorithm(handle);
}
