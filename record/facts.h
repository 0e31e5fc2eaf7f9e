// The machine's facts for machine.json, gathered by the recorder itself.
#pragma once

#include "machine_info.h"

namespace cpubench {

// What the system tells without the benchmark: processor, processors,
// memory, system, and the facts that updates change.
MachineInfo gatherFacts();

// What the running benchmark `pid` shows: the GMP file it loaded and GMP's
// version, and the C library it runs on. False while it has loaded no GMP.
bool addProcessFacts(MachineInfo& info, long pid);

} // namespace cpubench
