// The whole comparison as one JSON document: every machine's runs with their
// parsed values and times, its statistics, marks and problems. The manual
// page describes its structure.
#pragma once

#include "stats.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>

void writeJson(std::ostream& out, const Comparison& comparison);

// A number, or null when there is none.
nlohmann::json nullable(const std::optional<double>& value);
// What machine.json says: only the fields it has.
nlohmann::json infoJson(const MachineInfo& info);
