// The whole comparison as one JSON document: every machine's runs with their
// parsed values and times, its statistics, marks and problems. The manual
// page describes its structure.
#pragma once

#include "stats.h"

#include <ostream>

void writeJson(std::ostream& out, const Comparison& comparison);
