// The self-extracting stub that leads every update archive: run by hand, it extracts
// the zip appended to it into its own folder. The updater never runs it.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "Handle.h"

namespace {
unsigned Get16(const std::string& data, size_t at) {
    return static_cast<BYTE>(data[at]) | static_cast<BYTE>(data[at + 1]) << 8;
}

unsigned long Get32(const std::string& data, size_t at) {
    return Get16(data, at) | static_cast<unsigned long>(Get16(data, at + 2)) << 16;
}

bool ReadWhole(const char* path, std::string& data) {
    CFileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart >= 0x7FFFFFFF)
        return false;
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return data.empty() || (::ReadFile(file.get(), &data[0], static_cast<DWORD>(data.size()), &got, nullptr) &&
                            got == data.size());
}

// Only relative names that stay in the folder: "/" between parts, no drive, no
// backslash, no part of dots and blanks alone. Trail bytes of double-byte characters
// may equal "\\" and are skipped as part of their character.
bool IsSafeName(const std::string& name) {
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        char c = i < name.size() ? name[i] : '/';
        if (c == '/') {
            if (part.empty() ? i == 0 : part.find_first_not_of(". ") == std::string::npos)
                return false;
            part.clear();
        } else if (c == '\\' || c == ':') {
            return false;
        } else {
            part += c;
            if (::IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < name.size())
                part += name[++i];
        }
    }
    return true;
}

bool Unpack(const std::string& packed, unsigned method, unsigned long size, std::string& data) {
    data.assign(size, '\0');
    if (method == 0) {
        data = packed;
        return packed.size() == size;
    }
    z_stream stream = {};
    if (method != 8 || inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(&data[0]);
    stream.avail_out = static_cast<uInt>(data.size());
    int result = inflate(&stream, Z_FINISH);
    bool whole = result == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    return whole;
}

// name: a safe member name, with "/" between its parts.
bool WriteMember(const std::string& folder, const std::string& name, const std::string& data) {
    std::string path = folder;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '/') {
            ::CreateDirectoryA(path.c_str(), nullptr);
            path += '\\';
        } else {
            path += name[i];
            if (::IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < name.size())
                path += name[++i];
        }
    }
    if (name.back() == '/')
        return true;  // a folder entry
    CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    DWORD written = 0;
    return file && (data.empty() || (::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written,
                                                 nullptr) &&
                                     written == data.size()));
}

int Extract() {
    char self[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string data;
    if (length == 0 || length >= sizeof(self) || !ReadWhole(self, data))
        return std::printf("cannot read %s\n", self), 1;
    std::string folder(self, std::string(self).rfind('\\') + 1);

    // The end record is in the last 64 KB (its comment is at most that long).
    size_t end = std::string::npos;
    for (size_t at = data.size() >= 22 ? data.size() - 22 : 0; data.size() >= 22 && at + 65557 >= data.size(); --at) {
        if (Get32(data, at) == 0x06054B50) {
            end = at;
            break;
        }
        if (at == 0)
            break;
    }
    if (end == std::string::npos)
        return std::printf("no archive follows this program\n"), 1;
    unsigned count = Get16(data, end + 10);
    size_t entry = Get32(data, end + 16);
    for (unsigned i = 0; i < count; ++i) {
        if (entry + 46 > end || Get32(data, entry) != 0x02014B50)
            return std::printf("damaged archive directory\n"), 1;
        unsigned method = Get16(data, entry + 10);
        unsigned long crc = Get32(data, entry + 16), packedSize = Get32(data, entry + 20), size = Get32(data, entry + 24);
        size_t nameLength = Get16(data, entry + 28);
        size_t header = Get32(data, entry + 42);
        std::string name = data.substr(entry + 46, std::min(nameLength, end - entry - 46));
        entry += 46 + nameLength + Get16(data, entry + 30) + Get16(data, entry + 32);
        if (!IsSafeName(name) || folder.size() + name.size() >= MAX_PATH)
            return std::printf("refused member name %s\n", name.c_str()), 1;
        if (header + 30 > end || Get32(data, header) != 0x04034B50)
            return std::printf("damaged member %s\n", name.c_str()), 1;
        size_t start = header + 30 + Get16(data, header + 26) + Get16(data, header + 28);
        std::string content;
        if (start + packedSize > end || !Unpack(data.substr(start, packedSize), method, size, content) ||
            crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())) != crc)
            return std::printf("damaged member %s\n", name.c_str()), 1;
        if (!WriteMember(folder, name, content))
            return std::printf("cannot write %s\n", name.c_str()), 1;
        std::printf("%s\n", name.c_str());
    }
    return 0;
}
}  // namespace

int main() { return Extract(); }
