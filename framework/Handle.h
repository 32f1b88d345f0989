#pragma once
// One owner type for every kind of handle: the traits say what "no handle" is
// and how the handle is released.
#include <windows.h>
#include <wininet.h>
#include <cstdio>

template <class Traits>
class CScopedHandle {
public:
    using Type = typename Traits::Type;

    CScopedHandle() : m_handle(Traits::Invalid()) {}
    explicit CScopedHandle(Type handle) : m_handle(handle) {}
    ~CScopedHandle() { reset(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    CScopedHandle(CScopedHandle&& other) noexcept : m_handle(other.release()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }

    Type get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }

    Type release() {
        Type handle = m_handle;
        m_handle = Traits::Invalid();
        return handle;
    }
    void reset(Type handle = Traits::Invalid()) {
        if (m_handle != Traits::Invalid())
            Traits::Close(m_handle);
        m_handle = handle;
    }

private:
    Type m_handle;
};

struct CFileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct CKernelHandleTraits {  // process, thread and other handles whose failure value is NULL
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct CFindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct CInternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::InternetCloseHandle(h); }
};
struct CModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
struct CGlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::GlobalFree(h); }
};
struct CLocalMemoryTraits {  // what the system allocated for the caller; freeing it keeps the caller's error
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) {
        const DWORD error = ::GetLastError();
        ::LocalFree(h);
        ::SetLastError(error);
    }
};
struct CRegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type key) { ::RegCloseKey(key); }
};
struct CStdioFileTraits {
    using Type = FILE*;
    static Type Invalid() { return nullptr; }
    static void Close(Type f) { std::fclose(f); }
};

using CFileHandle = CScopedHandle<CFileHandleTraits>;
using CKernelHandle = CScopedHandle<CKernelHandleTraits>;
using CFindHandle = CScopedHandle<CFindHandleTraits>;
using CInternetHandle = CScopedHandle<CInternetHandleTraits>;
using CModuleHandle = CScopedHandle<CModuleTraits>;
using CGlobalMemory = CScopedHandle<CGlobalMemoryTraits>;
using CLocalMemory = CScopedHandle<CLocalMemoryTraits>;
using CRegKey = CScopedHandle<CRegKeyTraits>;
using CStdioFile = CScopedHandle<CStdioFileTraits>;
