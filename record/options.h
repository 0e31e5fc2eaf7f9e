// cpubench-record's command line.
#pragma once

#include <optional>
#include <string>

namespace cpubench {

// How many runs a session has unless told otherwise: 4, the fewest with
// which a two-sided exact rank test of two machines at 5% can tell them
// apart.
inline constexpr int kDefaultRuns = 4;
// Seconds between one run's end and the next one's start, unless told
// otherwise: none, since a pause changed neither the steal nor any line's
// time on the project's machine (doc/recording.md, "The pause between runs").
inline constexpr int kDefaultPause = 0;
// Seconds one run may take before it is stopped, unless told otherwise.
inline constexpr int kDefaultTimeout = 600;
inline constexpr int kMaxRuns = 10000, kMaxPause = 3600, kMaxTimeout = 86400 * 7;

struct RecordOptions {
    int runs = kDefaultRuns;
    int pause = kDefaultPause;
    int timeout = kDefaultTimeout;
    std::string benchmark; // empty: cpubench beside this program
    std::string session;   // empty: named by the start
    std::string dir;
    bool help = false;
};

// The options, or what is wrong with the command line.
struct ParsedRecordOptions {
    RecordOptions options;
    std::optional<std::string> error;
};
ParsedRecordOptions parseRecordOptions(int argc, char** argv);

std::string recordHelpText();

} // namespace cpubench
