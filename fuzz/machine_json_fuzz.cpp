// The machine.json reader on any bytes, and what is made of a description
// it accepts: its facts, their changes, and its JSON.
//
// When machine.json gains fields (the recorder's disturbance figures), they
// are read by parseMachineInfo and shown through machineFacts and infoJson:
// this target reaches them without a change; add a seed that has them to
// corpus/machine_json/ and their keys to machine_json.dict.
#include "fuzz_input.h"
#include "json_output.h"
#include "machine.h"
#include "printable.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MachineInfo info;
    const std::string error = parseMachineInfo(std::string(reinterpret_cast<const char*>(data), size), info);
    fuzz::requireTerminalSafe(printable(error), "error");
    if (!error.empty())
        return 0;
    for (const auto& [key, value] : machineFacts(info))
        fuzz::requireTerminalSafe(printable(key + " " + value), "fact");
    factChanges(MachineInfo{}, info);
    fuzz::requireJson(infoJson(info).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return 0;
}
