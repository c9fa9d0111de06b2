// Dynamic libraries: the "name.dll" of Windows is "libname.so" here, looked
// up beside the executable and where an installed kit keeps its libraries
// first, then where the loader usually looks.
#include "host/rkInstallLayout.h"
#include "rkhost.h"
#include "rkwin.h"

#include <cctype>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

bool endsWithDll(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == ".dll";
}

// Win32 adds ".dll" to a name without an extension.
std::string hostFileName(const std::string& name)
{
    if (endsWithDll(name))
        return "lib" + name.substr(0, name.size() - 4) + ".so";
    if (name.find('.') == std::string::npos)
        return "lib" + name + ".so";
    return name;
}

void* opened(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* openedWhereHelpersLieOrOnSearchPath(const std::string& fileName)
{
    for (const std::string& directory : rkwire::libraryDirectories()) {
        const std::string candidate = directory + "/" + fileName;
        if (access(candidate.c_str(), F_OK) != 0)
            continue;
        if (void* handle = opened(candidate))
            return handle;
    }
    return opened(fileName);
}

} // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string path = rkHostPath(fileName);
    const size_t slash = path.rfind('/');
    const std::string name = hostFileName(slash == std::string::npos ? path : path.substr(slash + 1));
    void* handle = slash == std::string::npos ? openedWhereHelpersLieOrOnSearchPath(name)
                                              : opened(path.substr(0, slash + 1) + name);
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    // A name below 0x10000 is an ordinal; libraries here export names only.
    if (module == nullptr || reinterpret_cast<uintptr_t>(procName) <= 0xFFFF) {
        SetLastError(module == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if (module == nullptr || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
