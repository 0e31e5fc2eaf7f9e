// What the system tells about the time between two moments: the CPU time
// others took, the time the hypervisor stole, the time the benchmark's
// threads waited for a processor, thermal throttling. Each is absent where
// the system does not tell it.
#pragma once

#include "session_record.h"

#include <optional>

namespace cpubench {

struct Sample {
    double wall = 0;                   // a steady clock, seconds
    std::optional<double> busy;        // CPU seconds all processors spent on work since boot
    std::optional<double> steal;       // CPU seconds stolen by the hypervisor since boot
    std::optional<double> own;         // CPU seconds the benchmark took
    std::optional<double> runDelay;    // seconds the benchmark's threads waited for a processor
    std::optional<long long> throttle; // thermal throttling events since boot
};

// A sample now, of the process `pid` (0: the system alone).
Sample takeSample(long pid);

// The figures of the time from `before` to `after`.
LineFigures figuresBetween(const Sample& before, const Sample& after);

// Logical processors online.
int onlineCpus();

} // namespace cpubench
