#include "probe.h"

#include <algorithm>

session::LineFigures figuresBetween(const Sample& before, const Sample& after)
{
    session::LineFigures f;
    f.seconds = std::max(0.0, after.wall - before.wall);
    // What all processors worked, less the benchmark's own work.
    if (before.busy && after.busy && before.own && after.own)
        f.otherCpu = std::max(0.0, (*after.busy - *before.busy) - (*after.own - *before.own));
    if (before.steal && after.steal)
        f.steal = std::max(0.0, *after.steal - *before.steal);
    if (before.runDelay && after.runDelay)
        f.runDelay = std::max(0.0, *after.runDelay - *before.runDelay);
    if (before.throttle && after.throttle)
        f.throttle = std::max(0LL, *after.throttle - *before.throttle);
    return f;
}
