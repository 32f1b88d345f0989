// Stand-in for the CAD's data-manager program: writes its whole command line into
// "ZynImpDataManager.args" beside itself, so a test can see how it was started.
#include <windows.h>

#include <fstream>
#include <string>

int main() {
    char self[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    std::string folder(self, length);
    folder.erase(folder.find_last_of('\\') + 1);
    const std::string record = folder + "ZynImpDataManager.args";
    const std::string partial = record + ".part";

    // Written under another name first: a reader never sees half a record.
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << ::GetCommandLineA();
        if (!out.flush())
            return 1;
    }
    return ::MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
