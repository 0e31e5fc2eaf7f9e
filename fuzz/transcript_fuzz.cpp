// The transcript reader on any bytes: files as saved, console copies, UTF-16
// with its byte order mark, CR LF, cut-off and repeated runs.
#include "escape.h"
#include "fuzz_checks.h"
#include "phrases.h"
#include "transcript.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace cpubench;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Transcript t = readTranscript(std::string_view(reinterpret_cast<const char*>(data), size));
    // What reaches a terminal from the run's text is made safe there.
    for (const TranscriptProblem& problem : t.problems)
        fuzz::requireTerminalSafe(printable(problemText(problem)), "problem");
    for (const LineResult& line : t.lines)
        for (const std::string& value : line.values)
            fuzz::requireTerminalSafe(printable(value), "value");
    return 0;
}
