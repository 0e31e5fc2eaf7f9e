// --history: histories of many sessions (with odd names, machine.json facts
// that change, runs that turn slower or wrong) into its three outputs.
#include "fuzz_checks.h"
#include "history.h"
#include "history_report.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

constexpr std::size_t kMaxHistories = 8, kMaxSessions = 160, kMaxRuns = 320;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Options options;
    std::vector<History> histories;
    std::size_t sessions = 0, runs = 0;
    // session.json per session, applied once the runs are read.
    std::vector<std::tuple<std::size_t, std::size_t, session::SessionRecord, std::string>> records;
    for (fuzz::Part& part : fuzz::splitParts(data, size)) {
        if (part.kind == 'O')
            options = fuzz::parseOptions(part.name);
        else if (part.kind == 'M' && histories.size() < kMaxHistories) {
            histories.emplace_back();
            histories.back().name = part.name;
            histories.back().source = part.name;
        } else if (histories.empty())
            continue;
        else if (part.kind == 'S' && sessions < kMaxSessions) {
            History& h = histories.back();
            h.sessions.push_back({part.name, {}});
            h.sessions.back().machine.name = h.name;
            h.sessions.back().machine.source = h.source + "/" + part.name;
            ++sessions;
        } else if (histories.back().sessions.empty())
            continue;
        else if (part.kind == 'J') {
            Machine& machine = histories.back().sessions.back().machine;
            const std::string error = parseMachineInfo(part.body, machine.info);
            if (!error.empty())
                machine.infoError = machine.source + "/machine.json: " + error;
        } else if (part.kind == 'D') {
            Session& current = histories.back().sessions.back();
            session::SessionRecord record;
            if (session::parseRecord(part.body, record).empty())
                records.emplace_back(histories.size() - 1, histories.back().sessions.size() - 1, std::move(record),
                                     histories.back().name + "/" + current.name + "/");
        } else if (part.kind == 'R' && runs < kMaxRuns) {
            Transcript t = readTranscript(part.body);
            if (!t.recognised())
                continue; // the reader refuses it
            Session& session = histories.back().sessions.back();
            session.machine.runs.push_back({histories.back().name + "/" + session.name + "/" + part.name, std::move(t)});
            ++runs;
        }
    }
    for (const auto& [h, s, record, prefix] : records)
        applyRecord(histories[h].sessions[s].machine, record, prefix);
    // The reader drops a session without runs, and a history without
    // sessions ends the program before the analysis.
    for (History& h : histories)
        h.sessions.erase(std::remove_if(h.sessions.begin(), h.sessions.end(),
                                        [](const Session& s) { return s.machine.runs.empty(); }),
                         h.sessions.end());
    if (histories.empty() ||
        std::any_of(histories.begin(), histories.end(), [](const History& h) { return h.sessions.empty(); }))
        return 0;

    const HistoryReport report = analyseHistories(histories, settings(options));
    historyStatus(report);
    std::ostringstream text, json, html;
    writeHistoryText(text, report);
    fuzz::requireTerminalSafe(text.str(), "history text");
    writeHistoryJson(json, report);
    fuzz::requireJson(json.str());
    fuzz::requireTerminalSafe(json.str(), "JSON");
    writeHistoryHtml(html, report);
    fuzz::requireSafeHtml(html.str());
    return 0;
}
