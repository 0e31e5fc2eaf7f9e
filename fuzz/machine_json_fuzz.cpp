// The readers of the JSON a host writes beside its runs, on any bytes:
// machine.json (and what is made of a description it accepts: its facts,
// their changes, its JSON) and the recorder's session.json (its state and
// each run's disturbance figures, judged, and written back the same).
//
// A new field of machine.json is read by parseMachineInfo and shown
// through machineFacts and infoJson, one of session.json by parseRecord:
// this target reaches it without a change; add a seed that has it to
// corpus/machine_json/ and its key to machine_json.dict.
#include "disturbance.h"
#include "escape.h"
#include "fuzz_checks.h"
#include "machine_info.h"
#include "phrases.h"
#include "read.h"
#include "session_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace cpubench;

namespace {

void recordFigures(const std::string& text)
{
    SessionRecord record;
    if (const std::optional<FormatError> error = parseRecord(text, record)) {
        fuzz::requireTerminalSafe(printable(formatErrorText(*error)), "session.json error");
        return;
    }
    Machine machine;
    machine.cpus = record.cpus;
    for (const RunRecord& run : record.runs)
        machine.runs.push_back({run.file, {}, run.lines});
    analyse::judgeSession(disturbanceInput(machine));
    // What the recorder writes, it reads back.
    SessionRecord again;
    const std::string written = writeRecord(record);
    if (parseRecord(written, again) || again.runs.size() != record.runs.size()) {
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
    if (const std::optional<FormatError> error = parseMachineInfo(text, info)) {
        fuzz::requireTerminalSafe(printable(formatErrorText(*error)), "error");
        return 0;
    }
    for (const auto& [key, value] : machineFacts(info))
        fuzz::requireTerminalSafe(printable(key + " " + value), "fact");
    factChanges(MachineInfo{}, info);
    fuzz::requireJson(infoJson(info).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return 0;
}
