// The name of a session folder: its start in UTC, 2026-12-08T14.05Z, with
// -2, -3, ... when two sessions start in the same minute, so that the names
// sort in time order. The recorder and the lab make them, the comparison
// finds a machine's sessions by them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace cpubench {

inline constexpr std::string_view kSessionNameExample = "2026-12-08T14.05Z";

// The session name of a start time: "%Y-%m-%dT%H.%MZ" in UTC.
std::string sessionName(std::time_t start);
// `base`, or base-2, base-3, ... for the n-th session of that minute.
std::string numberedName(const std::string& base, int n);
// Whether `name` has the shape of a session's name.
bool isSessionName(const std::string& name);

} // namespace cpubench
