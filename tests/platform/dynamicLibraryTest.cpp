#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

using ProbeFunction = intptr_t (*)();

// The probe library's answer: 1 beside the executable, 2 and 3 on the
// executable's run path; 0 when the library or the function is missing.
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

} // namespace

TEST(DynamicLibrary, DllNameLoadsTheSharedLibraryBesideTheExecutableFirst)
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
    EXPECT_EQ(probeOriginOf("rkprobeonly.dll"), 3);
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
    char executable[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", executable, sizeof executable - 1), 0);
    std::string binDirectory(executable);
    binDirectory.resize(binDirectory.rfind('/'));
    ScopedEnvironment drive("RK_DRIVE_D", binDirectory);
    EXPECT_EQ(probeOriginOf("D:\\probe-search\\rkprobe.dll"), 2);
}
