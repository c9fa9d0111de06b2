// The hub's time series: per device and second, in the JSON summary and in
// the CSV file written as the run goes, both adding up to the totals.
#include "hubHarness.h"
#include "hubSeries.h"
#include "hubTraffic.h"
#include "kivStandin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace {

// The numbers of the array that follows label, searched from the "series" key on.
std::vector<long long> seriesArray(const std::string& json, const std::string& label)
{
    std::vector<long long> numbers;
    const auto series = json.find("\"series\":");
    const auto at = series == std::string::npos ? series : json.find(label + "[", series);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << label << " in the series of " << json;
        return numbers;
    }
    const char* p = json.c_str() + at + label.size() + 1;
    while (*p != ']' && *p != '\0') {
        char* end = nullptr;
        numbers.push_back(std::strtoll(p, &end, 10));
        p = *end == ',' ? end + 1 : end;
    }
    return numbers;
}

long long sum(const std::vector<long long>& numbers)
{
    long long total = 0;
    for (long long n : numbers)
        total += n;
    return total;
}

struct csvTotals {
    std::map<std::string, long long> commands, bytes;
    std::map<std::string, long long> rows;
    long long lastSecond = 0;
};

csvTotals readSeriesCsv(const std::string& text)
{
    csvTotals totals;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "second,device,commands,bytes");
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string second, device, commands, bytes;
        std::getline(fields, second, ',');
        std::getline(fields, device, ',');
        std::getline(fields, commands, ',');
        std::getline(fields, bytes, ',');
        totals.commands[device] += std::atoll(commands.c_str());
        totals.bytes[device] += std::atoll(bytes.c_str());
        ++totals.rows[device];
        totals.lastSecond = std::atoll(second.c_str());
    }
    return totals;
}

TEST(HubSeries, CountsPerSecondWithZerosAndCoversEverySecondBegun)
{
    hubSeries series;
    EXPECT_EQ(series.secondsFor(0.0), 1u) << "the first second begins with the hub";
    EXPECT_EQ(series.json(1), "{\"seconds\":1,\"devices\":{}}");
    series.add("3", 10, 0);
    series.add("3", 5, 2);
    series.add("7", 1, 1);
    EXPECT_EQ(series.secondsFor(0.5), 3u) << "every second with counts";
    EXPECT_EQ(series.secondsFor(2.001), 3u);
    EXPECT_EQ(series.secondsFor(3.5), 4u);
    EXPECT_EQ(series.json(3),
              "{\"seconds\":3,\"devices\":{\"3\":{\"commands\":[1,0,1],\"bytes\":[10,0,5]},"
              "\"7\":{\"commands\":[0,1,0],\"bytes\":[0,1,0]}}}");
    EXPECT_EQ(series.csvRows(1, 3), "2,3,0,0\n2,7,1,1\n3,3,1,5\n3,7,0,0\n");
}

TEST(HubSeries, SummaryAndFileAddUpToTheTotalsOverSeveralSeconds)
{
    privateDesktop desktop;
    const std::string summaryPath = desktop.file("summary.json");
    const std::string seriesPath = desktop.file("series.csv");
    hubProcess hub(desktop, {"--summary", summaryPath, "--series", seriesPath});
    testDriverWindow first, second;
    ASSERT_EQ(first.registerAt(hub.window(), 3, 1), 0);
    ASSERT_EQ(second.registerAt(hub.window(), 4, 1), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(first.relayText(hub.window(), 2187, "IR 3 1 'abc' 0"), 1);
    // The file's first second is written once it has passed: traffic after that lies in a later one.
    ASSERT_TRUE(pumpUntil([&] { return readWholeFile(seriesPath).find("\n1,3,") != std::string::npos; }, 30000));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(first.relayText(hub.window(), 2187, "IR 3 2 'abcdef' 0"), 1);
        EXPECT_EQ(second.relayText(hub.window(), 2187, "IR 4 2 'x' 0"), 1);
    }
    EXPECT_EQ(hub.command("quit"), "ok quit");
    ASSERT_EQ(hub.waitForExit(), 0);

    const std::string json = readWholeFile(summaryPath);
    EXPECT_EQ(sum(seriesArray(json, "\"3\":{\"commands\":")), 9);
    EXPECT_EQ(sum(seriesArray(json, "\"bytes\":")), 5 * 14 + 4 * 17) << "device 3's bytes come first";
    EXPECT_EQ(sum(seriesArray(json, "\"4\":{\"commands\":")), 4);
    EXPECT_NE(json.find("\"3\":{\"messages\":9,\"bytes\":138}"), std::string::npos) << json;
    const auto seconds = seriesArray(json, "\"3\":{\"commands\":").size();
    EXPECT_GE(seconds, 2u);
    EXPECT_NE(json.find("\"series\":{\"seconds\":" + std::to_string(seconds) + ","), std::string::npos) << json;

    const csvTotals csv = readSeriesCsv(readWholeFile(seriesPath));
    EXPECT_EQ(csv.commands.at("3"), 9);
    EXPECT_EQ(csv.bytes.at("3"), 138);
    EXPECT_EQ(csv.commands.at("4"), 4);
    EXPECT_EQ(csv.bytes.at("4"), 4 * 12);
    EXPECT_EQ(csv.lastSecond, static_cast<long long>(seconds)) << "the partial last second is written on exit";
    EXPECT_EQ(csv.rows.at("3"), static_cast<long long>(seconds));
}

// A hub not yet started has run for no time at all, not for the machine's uptime.
TEST(HubSeries, CountsAHubNotYetStartedFromItsMaking)
{
    privateDesktop desktop;
    hubOptions options;
    options.summaryFile = desktop.file("summary.json");
    kivStandin hub(options);
    hub.writeSummary();
    const std::string json = readWholeFile(options.summaryFile);
    EXPECT_NE(json.find("\"series\":{\"seconds\":1,"), std::string::npos) << json;
}

} // namespace
