#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

using ProbeFunction = intptr_t (*)();

// The probe library's answer: 1 beside the executable, 2 and 3 in the
// probe-search directory; 0 when the library or the function is missing.
int probeOriginOf(const char* libraryName)
{
    HMODULE module = LoadLibraryA(libraryName);
    if (module == nullptr)
        return 0;
    FARPROC function = GetProcAddress(module, "rkProbeOrigin");
    const intptr_t origin = function != nullptr ? reinterpret_cast<ProbeFunction>(function)() : 0;
    FreeLibrary(module);
    return static_cast<int>(origin);
}

std::string executableDirectory()
{
    char executable[4096] = {};
    if (readlink("/proc/self/exe", executable, sizeof executable - 1) <= 0)
        return std::string();
    std::string directory(executable);
    return directory.substr(0, directory.rfind('/'));
}

// The probe's answer when the probe loader beside this executable loads the
// library with the probe-search directory on its search path.
int originLoadedWithSearchPath(const char* libraryName)
{
    const std::string directory = executableDirectory();
    const std::string loader = directory + "/probe_loader";
    const std::string searchPath = directory + "/probe-search";
    const pid_t child = fork();
    if (child == 0) {
        setenv("LD_LIBRARY_PATH", searchPath.c_str(), 1);
        execl(loader.c_str(), loader.c_str(), libraryName, static_cast<char*>(nullptr));
        _exit(127);
    }
    return waitForChild(child);
}

} // namespace

TEST(DynamicLibrary, DllNameLoadsTheSharedLibraryBesideTheExecutable)
{
    EXPECT_EQ(probeOriginOf("rkprobe.dll"), 1);
}

TEST(DynamicLibrary, DllSuffixMatchesInAnyCase)
{
    EXPECT_EQ(probeOriginOf("rkprobe.DLL"), 1);
    EXPECT_EQ(probeOriginOf("rkprobe.Dll"), 1);
}

TEST(DynamicLibrary, NameWithoutExtensionIsTakenAsDll)
{
    EXPECT_EQ(probeOriginOf("rkprobe"), 1);
}

TEST(DynamicLibrary, LibraryNotBesideTheExecutableIsFoundOnTheSearchPath)
{
    EXPECT_EQ(originLoadedWithSearchPath("rkprobeonly.dll"), 3);
}

TEST(DynamicLibrary, LibraryBesideTheExecutableWinsOverTheSearchPath)
{
    EXPECT_EQ(originLoadedWithSearchPath("rkprobe.dll"), 1);
}

TEST(DynamicLibrary, MissingLibraryFailsWithModuleNotFound)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryA("rkNoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(DynamicLibrary, NullOrEmptyNameFailsWithInvalidParameter)
{
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(DynamicLibrary, MissingFunctionFailsWithProcNotFound)
{
    HMODULE module = LoadLibraryA("rkprobe.dll");
    ASSERT_NE(module, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetProcAddress(module, "rkNoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(DynamicLibrary, OrdinalLookupFailsCleanly)
{
    HMODULE module = LoadLibraryA("rkprobe.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(2))), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(module);
}

TEST(DynamicLibrary, NullModuleIsRejected)
{
    EXPECT_EQ(GetProcAddress(nullptr, "rkProbeOrigin"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(DynamicLibrary, WindowsPathLoadsFromTheMappedDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_D", executableDirectory());
    EXPECT_EQ(probeOriginOf("D:\\probe-search\\rkprobe.dll"), 2);
}
