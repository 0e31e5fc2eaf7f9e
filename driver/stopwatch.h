// The benchmark's one time base: whole milliseconds of real time since the
// process started, as a signed 32-bit reading.
#pragma once

#include <cstdint>

// The current reading; -1 when the platform has no time to give.
int32_t clockMs();

// The reading for a given count of clock ticks (the platform's clock runs at
// kClockTicksPerSecond): ticks * 1000.0 / ticks-per-second in double, the
// multiplication first, truncated toward zero to 32 bits.
int32_t clockMsFromTicks(long long ticks);

// Length of the window between two readings, the earlier first, in seconds.
// The difference is taken in 32-bit arithmetic, so a window across the
// wrap of the reading still comes out right.
double elapsedSeconds(int32_t start, int32_t end);
