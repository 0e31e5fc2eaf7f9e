#include "in_order.h"

#ifdef __linux__
#include <sched.h>
#endif

namespace cpubench {

unsigned usableProcessors()
{
#ifdef __linux__
    // Those of the process's affinity (taskset, a container's CPU set), not all of the machine's.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace cpubench
