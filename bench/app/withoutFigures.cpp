/*
 * The generator's figures left out, for bench_app_without_figures: linked
 * before the window library, these take the place of trafficFigures.cpp, so
 * the window's sends cost no clock reads and no counting. Every member the
 * window calls is here; each does nothing.
 */
#include "trafficFigures.h"

answerTimes::answerTimes() {}

trafficFigures::clock::time_point trafficFigures::now()
{
    return {};
}

void trafficFigures::start(clock::time_point) {}

void trafficFigures::record(clock::duration, bool) {}

intervalFigures trafficFigures::takeInterval(clock::time_point)
{
    return {};
}

std::string trafficFigures::runLine(clock::time_point) const
{
    return "SkerrowDriver: run: figures left out of this build";
}
