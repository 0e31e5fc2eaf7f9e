#include "probe.h"

#include <algorithm>

namespace cpubench {

LineFigures figuresBetween(const Sample& before, const Sample& after)
{
    LineFigures f;
    f.seconds = std::max(0.0, after.wall - before.wall);
    // What all processors worked, less the benchmark's own work. A line
    // of a tenth of a second or more on which the benchmark worked nothing
    // means the system does not tell its time (Wine tells no other
    // process's): then nothing is known of the others either.
    if (before.busy && after.busy && before.own && after.own && !(*after.own <= *before.own && f.seconds >= 0.1))
        f.otherCpu = std::max(0.0, (*after.busy - *before.busy) - (*after.own - *before.own));
    if (before.steal && after.steal)
        f.steal = std::max(0.0, *after.steal - *before.steal);
    if (before.runDelay && after.runDelay)
        f.runDelay = std::max(0.0, *after.runDelay - *before.runDelay);
    if (before.throttle && after.throttle)
        f.throttle = std::max(0LL, *after.throttle - *before.throttle);
    return f;
}

} // namespace cpubench
