// The hub's time series: per device and second, in the CSV file written as
// the run goes, adding up to the summary's totals, and kept only until then.
#include "hubHarness.h"
#include "hubSeries.h"
#include "kivStandin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

double jsonFloat(const std::string& json, const std::string& key)
{
    const std::string label = "\"" + key + "\":";
    const auto at = json.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return -1;
    }
    return std::strtod(json.c_str() + at + label.size(), nullptr);
}

double unixNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct csvTotals {
    std::map<std::string, long long> commands, bytes;
    std::map<std::string, long long> firstSecond;
    long long emptyRows = 0;
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
        totals.emptyRows += commands == "0";
        totals.firstSecond.emplace(device, std::atoll(second.c_str()));
    }
    return totals;
}

bool hasWholeRow(const std::string& csv)
{
    const auto headerEnd = csv.find('\n');
    return headerEnd != std::string::npos && csv.find('\n', headerEnd + 1) != std::string::npos;
}

TEST(HubSeries, GivesRowsOfDevicesWithCountsSecondBySecondAndForgetsThemOnceTaken)
{
    hubSeries series;
    series.add("3", 10, 0);
    series.add("3", 5, 2);
    series.add("7", 1, 1);
    series.add("7", 2, 1);
    EXPECT_EQ(series.takeCsvRows(3), "1,3,1,10\n2,7,2,3\n3,3,1,5\n");
    EXPECT_EQ(series.takeCsvRows(3), "") << "taken seconds are not kept";
    series.add("7", 4, 3);
    series.add("3", 6, 4);
    EXPECT_EQ(series.takeCsvRows(4), "4,7,1,4\n") << "a second not yet passed stays";
    series.dropSeconds(5);
    EXPECT_EQ(series.takeCsvRows(9), "") << "dropped without rows";
}

TEST(HubSeries, CountsTextsOfASecondAlreadyTakenInTheFirstSecondStillKept)
{
    hubSeries series;
    series.add("3", 1, 0);
    EXPECT_EQ(series.takeCsvRows(2), "1,3,1,1\n");
    series.add("3", 7, 1);
    EXPECT_EQ(series.takeCsvRows(3), "3,3,1,7\n");
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
    // A second is written once it has passed: traffic after that lies in a later one. The sends
    // above may straddle a wall-clock second on a slow machine, so the file need not start at 1.
    ASSERT_TRUE(pumpUntil([&] { return hasWholeRow(readWholeFile(seriesPath)); }, 30000));
    const long long firstWritten = readSeriesCsv(readWholeFile(seriesPath)).firstSecond.at("3");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(first.relayText(hub.window(), 2187, "IR 3 2 'abcdef' 0"), 1);
        EXPECT_EQ(second.relayText(hub.window(), 2187, "IR 4 2 'x' 0"), 1);
    }
    EXPECT_EQ(hub.command("quit"), "ok quit");
    ASSERT_EQ(hub.waitForExit(), 0);

    const std::string json = readWholeFile(summaryPath);
    EXPECT_NE(json.find("\"devices\":{\"3\":{\"messages\":9,\"bytes\":138},\"4\":{\"messages\":4,\"bytes\":48}}"),
              std::string::npos)
        << json;
    EXPECT_EQ(json.find("\"series\""), std::string::npos) << "the figures per second are in the file only";

    const std::string file = readWholeFile(seriesPath);
    const csvTotals csv = readSeriesCsv(file);
    EXPECT_EQ(csv.commands.at("3"), 9);
    EXPECT_EQ(csv.bytes.at("3"), 138) << "the partial last second is written on exit";
    EXPECT_EQ(csv.commands.at("4"), 4);
    EXPECT_EQ(csv.bytes.at("4"), 4 * 12);
    EXPECT_EQ(csv.emptyRows, 0);
    EXPECT_GT(csv.firstSecond.at("4"), firstWritten) << "device 4 sent only after the first written second\n"
                                                      << file;
}

// A hub not yet started has run for no time at all, not for the machine's uptime.
TEST(HubSeries, CountsAHubNotYetStartedFromItsMaking)
{
    privateDesktop desktop;
    hubOptions options;
    options.summaryFile = desktop.file("summary.json");
    const double before = unixNow();
    kivStandin hub(options);
    hub.writeSummary();
    const double after = unixNow();
    const std::string json = readWholeFile(options.summaryFile);
    EXPECT_GE(jsonFloat(json, "started_utc"), before - 0.001) << json;
    EXPECT_LE(jsonFloat(json, "started_utc"), after + 0.001) << json;
    EXPECT_LE(jsonFloat(json, "seconds"), after - before + 0.002) << json;
}

} // namespace
