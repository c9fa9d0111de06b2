/*
 * The stand-in hub's memory over a long run: twelve hours of seconds from a
 * thousand devices, each sending a short burst of IR texts every second,
 * judged and counted as the hub does, with the series rows taken once a
 * second as the hub takes them for its --series file. Prints the peak
 * resident memory against its target and the time it took; exits with 1
 * when the target is missed.
 *
 *   bench_hub_memory [seconds] [devices]     (default 43200 1000)
 */
#include "hubTraffic.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int textsPerBurst = 3;
constexpr double targetMegabytes = 64;

// Peak resident memory of this process so far; Linux gives it in kilobytes.
double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

// One text per device and place in its burst, of sizes that vary with both.
std::vector<std::string> makeTexts(unsigned long devices)
{
    std::vector<std::string> texts;
    for (unsigned long device = 1; device <= devices; ++device)
        for (int i = 0; i < textsPerBurst; ++i)
            texts.push_back("IR " + std::to_string(device) + " " + std::to_string(i + 1) + " '" +
                            std::string((device * 7 + static_cast<unsigned long>(i) * 31) % 200, 'x') + "' 0");
    return texts;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t seconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 43200;
    const unsigned long devices = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000;
    const std::vector<std::string> texts = makeTexts(devices);
    const auto anyDevice = [](long) { return true; };
    hubTraffic traffic(devices);
    std::size_t rowBytes = 0;
    std::size_t rows = 0;

    const auto start = std::chrono::steady_clock::now();
    for (std::size_t second = 0; second < seconds; ++second) {
        for (const std::string& text : texts)
            traffic.count(traffic.judge(text, anyDevice), second);
        const std::string taken = traffic.series().takeCsvRows(second + 1);
        rowBytes += taken.size();
        for (char c : taken)
            rows += c == '\n';
    }
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;

    const double peak = peakMegabytes();
    const bool met = peak < targetMegabytes;
    std::printf("%zu seconds x %lu devices x %d texts: %llu texts counted, %zu series rows (%.1f MB of CSV)\n",
                seconds, devices, textsPerBurst, static_cast<unsigned long long>(traffic.total().messages), rows,
                static_cast<double>(rowBytes) / (1024 * 1024));
    std::printf("time %.2f s, peak resident memory %.1f MB (target: under %.0f MB) %s\n", spent.count(), peak,
                targetMegabytes, met ? "met" : "missed");
    return met ? 0 : 1;
}
