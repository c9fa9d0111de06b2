/*
 * The generator's figures left out, for bench_app_without_figures: linked
 * before the window library, these take the place of trafficFigures.cpp, so
 * the window's sends cost no clock reads, no schedule and no counting. Every
 * member the window calls is here; each does nothing.
 */
#include "trafficFigures.h"

trafficFigures::clock::time_point trafficFigures::now()
{
    return {};
}

std::int64_t trafficFigures::utcMsNow()
{
    return 0;
}

void trafficFigures::start(clock::time_point, std::int64_t) {}

void trafficFigures::startTicks(clock::time_point, clock::duration) {}

trafficFigures::clock::time_point trafficFigures::tickFired(clock::time_point, double)
{
    return {};
}

void trafficFigures::record(clock::time_point, clock::time_point, clock::time_point, bool) {}

std::vector<std::string> trafficFigures::takeEndedSeconds(clock::time_point)
{
    return {};
}

std::vector<std::string> trafficFigures::takeLastSecond(clock::time_point)
{
    return {};
}

std::string trafficFigures::runLine(clock::time_point) const
{
    return "SkerrowDriver: run: figures left out of this build";
}
