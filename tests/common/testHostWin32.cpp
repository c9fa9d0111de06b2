#include "testHost.h"

#include "rkwin.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

std::string makeScratchDirectory(const std::string& stem)
{
    static std::atomic<unsigned> made{0};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / (stem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(made++) + "-" +
                    std::to_string(GetTickCount()));
        if (CreateDirectoryA(candidate.string().c_str(), nullptr))
            return candidate.string();
    }
    throw std::runtime_error("cannot make a scratch directory");
}

bool runningOnWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void setEnvironment(const char* name, const std::string& value)
{
    _putenv_s(name, value.c_str());
}

void unsetEnvironment(const char* name)
{
    _putenv_s(name, "");
}

std::string ownProgramPath()
{
    std::string path(MAX_PATH, '\0');
    DWORD size;
    while ((size = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
        path.resize(path.size() * 2);
    path.resize(size);
    return path;
}

std::string testProgramPath(const std::string& name)
{
    const std::string path = ownProgramPath();
    return path.substr(0, path.find_last_of("\\/") + 1) + name + ".exe";
}

void waitForMessages(int milliseconds)
{
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}
