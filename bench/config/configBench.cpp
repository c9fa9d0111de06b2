/*
 * Rough costs of the INI engine on a large file: section read, list and
 * rewrite, and the settings object's linear, case-folding lookups.
 * Usage: config_bench [sections] [keys per section]
 */
#include <rkConfig.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

template <typename Work>
void report(const char* what, int repetitions, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repetitions; ++i)
        work(i);
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    std::printf("%-40s %12.1f us per call\n", what, spent.count() / repetitions);
}

std::string sampleFile(int sections, int keys)
{
    std::string text;
    for (int s = 0; s < sections; ++s) {
        text += "[Section" + std::to_string(s) + "]\n";
        for (int k = 0; k < keys; ++k)
            text += "Key" + std::to_string(k) + " = value " + std::to_string(k) + "\n";
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const int sections = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int keys = argc > 2 ? std::atoi(argv[2]) : 20;
    const fs::path drive = fs::temp_directory_path() / ("rkconfig-bench-" + std::to_string(::getpid()));
    fs::create_directories(drive / "Windows");
    setenv("RK_DRIVE_C", drive.c_str(), 1);
    unsetenv("RK_ROOT");
    unsetenv("WINDIR");
    std::ofstream(drive / "Windows" / "bench.ini", std::ios::binary) << sampleFile(sections, keys);
    const std::string path = getConfigFilePath("bench.ini");
    const std::string last = "Section" + std::to_string(sections - 1);

    std::printf("%d sections of %d keys\n", sections, keys);
    report("readSection (last section)", 20, [&](int) {
        SettingsMap settings;
        readSection(path, last, settings);
    });
    report("listSections", 20, [&](int) {
        SectionList list;
        listSections(path, list);
    });
    report("writeSection (middle section)", 20, [&](int i) {
        writeSection(path, "Section" + std::to_string(sections / 2),
                     SettingsMap{{"Key0", std::to_string(i)}});
    });
    rkConfig config("bench.ini", last);
    report("rkConfig::getString (last key)", 10000, [&](int) {
        config.getString("KEY" + std::to_string(keys - 1), "", false);
    });
    fs::remove_all(drive);
    return 0;
}
