/*
 * rkdesktoprun PROGRAM [ARGUMENTS...]
 *
 * Runs a test program on a desktop of its own and exits with its exit code.
 * On Linux every test has a private RK_DESKTOP; here the desktop gives the
 * same isolation: FindWindowA and HWND_BROADCAST reach only the windows of
 * the program and of the processes it starts, so tests can run in parallel.
 * Everything the program leaves running is ended with it (a job object).
 *
 * When RK_LAUNCH_MARKER names a file, it is made first thing: the caller
 * can then tell a Wine that failed to start us from a test that failed.
 */
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const int launchFailed = 125;
const int launchAttempts = 3;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Our own command line without our program name: the program to run and its
// arguments, quoted exactly as we were given them.
std::string commandLineAfterOwnName() {
    const char* line = GetCommandLineA();
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line) ++line;
    } else {
        while (*line && !isBlank(*line)) ++line;
    }
    while (isBlank(*line)) ++line;
    return line;
}

std::string uniqueDesktopName() {
    return "rktest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
}

// Closing the last handle of the job (our exit, or our being killed by a
// test timeout) ends every process still in it.
HANDLE createKillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

int fail(const char* what) {
    std::fprintf(stderr, "rkdesktoprun: %s failed (error %lu)\n", what, GetLastError());
    return launchFailed;
}

/*
 * A heavily loaded Wine now and then fails a CreateProcess with an internal
 * error. Nothing has run then, so it is safe to try again a few times.
 */
bool startSuspended(std::string& commandLine, STARTUPINFOA& startup, PROCESS_INFORMATION& process) {
    for (int attempt = 0; attempt < launchAttempts; ++attempt) {
        if (attempt > 0) Sleep(200);
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                           &startup, &process))
            return true;
    }
    return false;
}

int runOnDesktop(std::string commandLine, const std::string& desktopName) {
    std::string desktopPath = "WinSta0\\" + desktopName;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = &desktopPath[0];
    PROCESS_INFORMATION process = {};
    if (!startSuspended(commandLine, startup, process))
        return fail("CreateProcess");
    HANDLE job = createKillOnCloseJob();
    if (job) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = launchFailed;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job) CloseHandle(job);
    return static_cast<int>(exitCode);
}

void markLaunched() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("RK_LAUNCH_MARKER", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

} // namespace

int main() {
    markLaunched();
    std::string commandLine = commandLineAfterOwnName();
    if (commandLine.empty()) {
        std::fprintf(stderr, "usage: rkdesktoprun PROGRAM [ARGUMENTS...]\n");
        return launchFailed;
    }
    std::string name = uniqueDesktopName();
    HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop) return fail("CreateDesktop");
    int exitCode = runOnDesktop(commandLine, name);
    CloseDesktop(desktop);
    return exitCode;
}
