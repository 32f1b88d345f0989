// ZynPublish: makes a signing key, and publishes a release into a server folder.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Base64.h"
#include "Ecdsa.h"
#include "Handle.h"
#include "Release.h"
#include "Tree.h"

namespace {
const char kUsage[] =
    "usage: ZynPublish keygen KEYFILE\n"
    "       ZynPublish release --server DIR --version 3.5 --revision 12 --files TREE [--base OLDTREE]\n"
    "                          [--notes FILE] [--key KEYFILE --product APPNAME] [--prefix UPD] [--expires DAYS]\n"
    "                          [--sign-command \"CMD {}\"] [--previous LASTTREE]\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "ZynPublish: %s\n", message.c_str());
    return 1;
}

int Keygen(const std::wstring& path) {
    std::vector<BYTE> blob;
    CPublicKey key;
    if (!GenerateP256(blob) || !PublicKeyOfBlob(blob, key))
        return Fail("the system could not make an ECDSA P-256 key pair");
    // CREATE_NEW: an existing key is never overwritten.
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file)
        return Fail("cannot create " + Utf8Of(path) + " (a key file is never overwritten)");
    if (!::WriteFile(file.get(), blob.data(), static_cast<DWORD>(blob.size()), &written, nullptr) ||
        written != blob.size()) {
        file.reset();
        ::DeleteFileW(path.c_str());
        return Fail("cannot write " + Utf8Of(path));
    }
    std::printf("PublicKey=%s\n", Base64Encode(key.data(), key.size()).c_str());
    return 0;
}

bool NumberOf(const std::wstring& text, int& value) {
    wchar_t* end = nullptr;
    long number = std::wcstol(text.c_str(), &end, 10);
    value = static_cast<int>(number);
    return !text.empty() && *end == L'\0' && number >= 0 && number <= 999999999;
}

std::string Narrow(const std::wstring& text) {
    std::string bytes;
    return ToCodePage932(text, bytes) ? bytes : std::string("?");
}

int Release(const std::vector<std::wstring>& args) {
    CReleaseOptions options;
    bool sawFiles = false;
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::wstring& name = args[i];
        if (i + 1 >= args.size())
            return Fail("the option " + Utf8Of(name) + " needs a value\n" + kUsage);
        const std::wstring& value = args[i + 1];
        if (name == L"--server")
            options.server = value;
        else if (name == L"--files")
            options.files = value, sawFiles = true;
        else if (name == L"--base")
            options.base = value;
        else if (name == L"--previous")
            options.previous = value;
        else if (name == L"--notes")
            options.notes = value;
        else if (name == L"--key")
            options.key = value;
        else if (name == L"--product")
            options.product = value;
        else if (name == L"--sign-command")
            options.signCommand = value;
        else if (name == L"--version")
            options.version = Narrow(value);
        else if (name == L"--prefix")
            options.prefix = Narrow(value);
        else if (name == L"--revision" ? !NumberOf(value, options.revision) :
                 name == L"--expires"  ? !NumberOf(value, options.expiresDays) : true)
            return Fail("bad option " + Utf8Of(name) + " " + Utf8Of(value) + "\n" + kUsage);
    }
    if (options.server.empty() || !sawFiles || options.version.empty() || options.revision == 0)
        return Fail(std::string("--server, --version, --revision and --files are required\n") + kUsage);
    std::string error;
    return PublishRelease(options, error) ? 0 : Fail(error);
}
}  // namespace

int main() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> args(argv, argv + (argv ? count : 0));
    ::LocalFree(argv);
    if (args.size() == 3 && args[1] == L"keygen")
        return Keygen(args[2]);
    if (args.size() >= 2 && args[1] == L"release")
        return Release(args);
    return Fail(kUsage);
}
