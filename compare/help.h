// cpubench-compare's --help, built from the defaults and limits it names,
// and the messages of a wrong command line.
#pragma once

#include "options.h"

#include <string>

namespace cpubench {

std::string helpText();
std::string usageErrorText(const UsageError& error);

} // namespace cpubench
