#include "trafficFigures.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr std::int64_t msPerSecond = 1000;
constexpr auto oneSecond = std::chrono::seconds(1);

double secondsBetween(trafficFigures::clock::time_point from, trafficFigures::clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::uint64_t nanosecondsBetween(trafficFigures::clock::time_point from, trafficFigures::clock::time_point to)
{
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
    return nanoseconds > 0 ? static_cast<std::uint64_t>(nanoseconds) : 0;
}

std::string count(const char* key, std::uint64_t value)
{
    return std::string(key) + "=" + std::to_string(value);
}

std::string secondLine(std::int64_t endUtcMs, double seconds, const periodFigures& figures)
{
    char head[96];
    std::snprintf(head, sizeof head, "SkerrowDriver: second: utc=%lld.%03lld seconds=%.2f ",
                  static_cast<long long>(endUtcMs / msPerSecond), static_cast<long long>(endUtcMs % msPerSecond),
                  seconds);
    return head + count("commands", figures.sends) + " " + count("failures", figures.failures) + " " +
           figures.tickAndTimeFields();
}
}

void periodFigures::merge(const periodFigures& other)
{
    answer.merge(other.answer);
    response.merge(other.response);
    sends += other.sends;
    failures += other.failures;
    ticks += other.ticks;
    lateTicks += other.lateTicks;
    skippedTicks += other.skippedTicks;
    omitted += other.omitted;
}

void periodFigures::clear()
{
    answer.clear();
    response.clear();
    sends = failures = ticks = lateTicks = skippedTicks = omitted = 0;
}

std::string periodFigures::tickAndTimeFields() const
{
    return count("ticks", ticks) + " " + count("late_ticks", lateTicks) + " " +
           count("skipped_ticks", skippedTicks) + " " + count("omitted", omitted) + " " +
           answer.encoded("answer") + " " + response.encoded("response");
}

trafficFigures::clock::time_point trafficFigures::now()
{
    return clock::now();
}

std::int64_t trafficFigures::utcMsNow()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

void trafficFigures::start(clock::time_point now, std::int64_t utcMs)
{
    runStart = now;
    secondStart = now;
    const std::int64_t intoSecond = utcMs % msPerSecond;
    secondEnd = now + std::chrono::milliseconds(msPerSecond - intoSecond);
    secondEndUtcMs = utcMs - intoSecond + msPerSecond;
}

void trafficFigures::startTicks(clock::time_point now, clock::duration tickTime)
{
    schedule.start(now, tickTime);
}

trafficFigures::clock::time_point trafficFigures::tickFired(clock::time_point now, double commandsPerTick)
{
    endSecondsBefore(now);
    const tickOutcome tick = schedule.fire(now);
    thisSecond.ticks += 1 + tick.skipped;
    thisSecond.lateTicks += tick.late ? 1 : 0;
    thisSecond.skippedTicks += tick.skipped;
    if (tick.skipped != 0)
        recordSkipped(tick, now, static_cast<std::uint64_t>(std::llround(commandsPerTick)));
    return tick.due;
}

/*
 * A dropped tick's commands would have waited at least until the timer fired
 * again. Leaving them out would hide a stall from every percentile.
 */
void trafficFigures::recordSkipped(const tickOutcome& tick, clock::time_point now,
                                   std::uint64_t commandsPerTick)
{
    for (std::uint64_t i = 0; i < tick.skipped && commandsPerTick != 0; ++i) {
        const auto due = tick.firstSkippedDue + tick.tickTime * static_cast<clock::rep>(i);
        thisSecond.response.add(nanosecondsBetween(due, now), commandsPerTick);
    }
    thisSecond.omitted += tick.skipped * commandsPerTick;
}

void trafficFigures::record(clock::time_point due, clock::time_point sent, clock::time_point answered,
                            bool sendFailed)
{
    endSecondsBefore(answered);
    ++thisSecond.sends;
    if (sendFailed) {
        ++thisSecond.failures;
        return;
    }
    thisSecond.answer.add(nanosecondsBetween(sent, answered));
    thisSecond.response.add(nanosecondsBetween(due, answered));
}

/* A command belongs to the second its answer came in; seconds without traffic give no line. */
void trafficFigures::endSecondsBefore(clock::time_point now)
{
    if (now < secondEnd)
        return;
    endThisSecond(secondEnd, secondEndUtcMs);
    const auto idleSeconds = (now - secondEnd) / oneSecond;
    if (idleSeconds > 0)
        lastEnded = {};
    secondEnd += oneSecond * (idleSeconds + 1);
    secondEndUtcMs += msPerSecond * (idleSeconds + 1);
    secondStart = secondEnd - oneSecond;
}

void trafficFigures::endThisSecond(clock::time_point end, std::int64_t endUtcMs)
{
    lastEnded = {thisSecond.sends, thisSecond.answer.count(), thisSecond.answer.quantileMs(0.5),
                 thisSecond.answer.quantileMs(0.99)};
    if (!thisSecond.idle())
        endedLines.push_back(secondLine(endUtcMs, secondsBetween(secondStart, end), thisSecond));
    wholeRun.merge(thisSecond);
    thisSecond.clear();
}

std::vector<std::string> trafficFigures::takeEndedSeconds(clock::time_point now)
{
    endSecondsBefore(now);
    return takeLines();
}

std::vector<std::string> trafficFigures::takeLastSecond(clock::time_point now)
{
    endSecondsBefore(now);
    const auto early = std::chrono::duration_cast<std::chrono::milliseconds>(secondEnd - now).count();
    endThisSecond(now, secondEndUtcMs - early);
    secondStart = now;
    return takeLines();
}

std::vector<std::string> trafficFigures::takeLines()
{
    std::vector<std::string> lines;
    lines.swap(endedLines);
    return lines;
}

std::string trafficFigures::runLine(clock::time_point now) const
{
    const double seconds = secondsBetween(runStart, now);
    const double rate = seconds > 0 ? static_cast<double>(commands()) / seconds : 0;
    periodFigures run = wholeRun;
    run.merge(thisSecond);
    const timeHistogram& answer = run.answer;
    const timeHistogram& response = run.response;
    char line[512];
    std::snprintf(line, sizeof line,
                  "SkerrowDriver: run: commands=%llu seconds=%.2f rate=%.2f answer_ms_p50=%.3f "
                  "answer_ms_p99=%.3f answer_ms_max=%.3f failures=%llu response_ms_p50=%.3f "
                  "response_ms_p99=%.3f response_ms_max=%.3f ",
                  static_cast<unsigned long long>(commands()), seconds, rate, answer.quantileMs(0.5),
                  answer.quantileMs(0.99), answer.maxMs(), static_cast<unsigned long long>(failures()),
                  response.quantileMs(0.5), response.quantileMs(0.99), response.maxMs());
    return line + run.tickAndTimeFields();
}
