// The readers of the JSON a host writes beside its runs, on any bytes:
// machine.json (and what is made of a description it accepts: its facts,
// their changes, its JSON) and the recorder's session.json (its state and
// each run's disturbance figures, judged, and written back the same).
//
// A new field of machine.json is read by parseMachineInfo and shown
// through machineFacts and infoJson, one of session.json by parseRecord:
// this target reaches it without a change; add a seed that has it to
// corpus/machine_json/ and its key to machine_json.dict.
#include "fuzz_checks.h"
#include "json_output.h"
#include "machine.h"
#include "printable.h"
#include "session.h"

#include <cstdio>
#include <cstdlib>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void recordFigures(const std::string& text)
{
    session::SessionRecord record;
    const std::string error = session::parseRecord(text, record);
    fuzz::requireTerminalSafe(printable(error), "session.json error");
    if (!error.empty())
        return;
    for (const session::RunRecord& run : record.runs)
        for (std::size_t line = 0; line < run.lines.size(); ++line)
            if (run.lines[line] && record.cpus > 0)
                session::judgeLine(*run.lines[line], line, record.cpus);
    // What the recorder writes, it reads back.
    session::SessionRecord again;
    const std::string written = session::writeRecord(record);
    if (!session::parseRecord(written, again).empty() || again.runs.size() != record.runs.size()) {
        std::fprintf(stderr, "session.json not read back as written:\n%s\n", written.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    recordFigures(text);
    MachineInfo info;
    const std::string error = parseMachineInfo(text, info);
    fuzz::requireTerminalSafe(printable(error), "error");
    if (!error.empty())
        return 0;
    for (const auto& [key, value] : machineFacts(info))
        fuzz::requireTerminalSafe(printable(key + " " + value), "fact");
    factChanges(MachineInfo{}, info);
    fuzz::requireJson(infoJson(info).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return 0;
}
