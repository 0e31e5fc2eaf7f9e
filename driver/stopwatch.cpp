#include "stopwatch.h"

#include "platform/platform.h"

int32_t clockMsFromTicks(long long ticks)
{
    const double ms = static_cast<double>(ticks) * 1000.0 / kClockTicksPerSecond;
    // Truncate toward zero, then keep the low 32 bits (two's complement),
    // as a 32-bit counter that has run past its range would read.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<long long>(ms)));
}

int32_t clockMs()
{
    return clockMsFromTicks(readClockTicks());
}

double elapsedSeconds(int32_t start, int32_t end)
{
    const auto difference =
        static_cast<int32_t>(static_cast<uint32_t>(end) - static_cast<uint32_t>(start));
    return static_cast<double>(difference) / 1000.0;
}
