#include "trafficFigures.h"

#include <cmath>
#include <cstdio>

namespace {
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

/* Unix time with milliseconds: where a runner places a second among other processes' seconds. */
std::string utcNow()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
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

void trafficFigures::start(clock::time_point now)
{
    runStart = now;
    intervalStart = now;
}

void trafficFigures::startTicks(clock::time_point now, clock::duration tickTime)
{
    schedule.start(now, tickTime);
}

trafficFigures::clock::time_point trafficFigures::tickFired(clock::time_point now, double commandsPerTick)
{
    const tickOutcome tick = schedule.fire(now);
    thisInterval.ticks += 1 + tick.skipped;
    thisInterval.lateTicks += tick.late ? 1 : 0;
    thisInterval.skippedTicks += tick.skipped;
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
        thisInterval.response.add(nanosecondsBetween(due, now), commandsPerTick);
    }
    thisInterval.omitted += tick.skipped * commandsPerTick;
}

void trafficFigures::record(clock::time_point due, clock::time_point sent, clock::time_point answered,
                            bool sendFailed)
{
    ++thisInterval.sends;
    if (sendFailed) {
        ++thisInterval.failures;
        return;
    }
    thisInterval.answer.add(nanosecondsBetween(sent, answered));
    thisInterval.response.add(nanosecondsBetween(due, answered));
}

intervalFigures trafficFigures::takeInterval(clock::time_point now)
{
    intervalFigures figures;
    figures.commands = thisInterval.sends;
    figures.answered = thisInterval.answer.count();
    figures.seconds = secondsBetween(intervalStart, now);
    figures.answerP50Ms = thisInterval.answer.quantileMs(0.5);
    figures.answerP99Ms = thisInterval.answer.quantileMs(0.99);
    if (!thisInterval.idle()) {
        char head[64];
        std::snprintf(head, sizeof head, " seconds=%.2f ", figures.seconds);
        figures.line = "SkerrowDriver: second: utc=" + utcNow() + head + count("commands", thisInterval.sends) +
                       " " + count("failures", thisInterval.failures) + " " + thisInterval.tickAndTimeFields();
    }
    wholeRun.merge(thisInterval);
    thisInterval.clear();
    intervalStart = now;
    return figures;
}

std::string trafficFigures::runLine(clock::time_point now) const
{
    const double seconds = secondsBetween(runStart, now);
    const double rate = seconds > 0 ? static_cast<double>(commands()) / seconds : 0;
    periodFigures run = wholeRun;
    run.merge(thisInterval);
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
