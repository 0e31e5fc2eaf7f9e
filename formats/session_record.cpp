#include "session_record.h"

#include <algorithm>

namespace cpubench {

namespace {

using nlohmann::json;
using Kind = FormatError::Kind;

template <typename T>
json optionalJson(const std::optional<T>& value)
{
    return value ? json(*value) : json(nullptr);
}

// Reads an optional number of `object`; false when present but no number.
template <typename T>
bool readNumber(const json& object, const char* key, std::optional<T>& value)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_number())
        return false;
    const double number = it->get<double>();
    // A negative or absurd figure is no figure.
    if (!(number >= 0 && number < 1e12))
        return false;
    value = static_cast<T>(number);
    return true;
}

template <typename Enum, std::size_t N>
bool readName(const json& object, const char* key, const std::array<Enum, N>& all, const char* (*name)(Enum),
              Enum& value)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return false;
    for (Enum candidate : all)
        if (it->get_ref<const std::string&>() == name(candidate)) {
            value = candidate;
            return true;
        }
    return false;
}

// One line's figures into `run`; a line of a later benchmark is passed over.
std::optional<FormatError> readLine(const json& line, RunRecord& run)
{
    if (!line.is_object() || !line.contains("line") || !line["line"].is_string())
        return FormatError{Kind::lineWithoutLabel, "", run.file, ""};
    const std::string& label = line["line"].get_ref<const std::string&>();
    const auto known = std::find_if(kLines.begin(), kLines.end(), [&](const ResultLine& l) { return l.label == label; });
    if (known == kLines.end())
        return std::nullopt;
    LineFigures f;
    std::optional<double> seconds;
    if (!readNumber(line, "seconds", seconds) || !readNumber(line, "other_cpu_s", f.otherCpu) ||
        !readNumber(line, "steal_s", f.steal) || !readNumber(line, "run_delay_s", f.runDelay) ||
        !readNumber(line, "throttle_events", f.throttle))
        return FormatError{Kind::badFigure, label, run.file, ""};
    f.seconds = seconds.value_or(0);
    run.lines[static_cast<std::size_t>(known - kLines.begin())] = f;
    return std::nullopt;
}

std::optional<FormatError> readRun(const json& entry, RunRecord& run)
{
    if (!entry.is_object() || !entry.contains("file") || !entry["file"].is_string())
        return FormatError{Kind::runWithoutFile, "", std::nullopt, ""};
    run.file = entry["file"].get<std::string>();
    if (!readName(entry, "status",
                  std::array{RunStatus::complete, RunStatus::failed, RunStatus::timedOut, RunStatus::interrupted},
                  runStatusName, run.status))
        return FormatError{Kind::unknownStatus, "status", run.file, ""};
    std::optional<int> exitStatus;
    if (!readNumber(entry, "exit_status", exitStatus))
        return FormatError{Kind::mustBeNumber, "exit_status", run.file, ""};
    run.exitStatus = exitStatus.value_or(0);
    const auto lines = entry.find("lines");
    if (lines == entry.end() || !lines->is_array())
        return FormatError{Kind::mustBeList, "lines", run.file, ""};
    for (const json& line : *lines)
        if (std::optional<FormatError> error = readLine(line, run))
            return error;
    return std::nullopt;
}

// The session's own fields, without its runs.
std::optional<FormatError> readSession(const json& document, SessionRecord& read)
{
    if (!readName(document, "state",
                  std::array{SessionState::recording, SessionState::complete, SessionState::incomplete},
                  sessionStateName, read.state))
        return FormatError{Kind::unknownState, "state", std::nullopt, ""};
    if (const auto it = document.find("reason"); it != document.end() && it->is_string())
        read.reason = it->get<std::string>();
    if (const auto it = document.find("recorder"); it != document.end() && it->is_string())
        read.recorder = it->get<std::string>();
    std::optional<int> planned, cpus, pause;
    if (!readNumber(document, "runs_planned", planned) || !readNumber(document, "logical_cpus", cpus) ||
        !readNumber(document, "pause_s", pause) || cpus.value_or(0) > 65536)
        return FormatError{Kind::badCounts, "", std::nullopt, ""};
    read.runsPlanned = planned.value_or(0);
    read.pauseSeconds = pause;
    read.cpus = cpus.value_or(0);
    return std::nullopt;
}

} // namespace

const char* runStatusName(RunStatus status)
{
    switch (status) {
    case RunStatus::failed:
        return "failed";
    case RunStatus::timedOut:
        return "timed_out";
    case RunStatus::interrupted:
        return "interrupted";
    case RunStatus::complete:
        break;
    }
    return "complete";
}

const char* sessionStateName(SessionState state)
{
    switch (state) {
    case SessionState::complete:
        return "complete";
    case SessionState::incomplete:
        return "incomplete";
    case SessionState::recording:
        break;
    }
    return "recording";
}

json figuresJson(const LineFigures& f)
{
    return {{"seconds", f.seconds},
            {"other_cpu_s", optionalJson(f.otherCpu)},
            {"steal_s", optionalJson(f.steal)},
            {"run_delay_s", optionalJson(f.runDelay)},
            {"throttle_events", optionalJson(f.throttle)}};
}

std::string writeRecord(const SessionRecord& record)
{
    json runs = json::array();
    for (const RunRecord& run : record.runs) {
        json lines = json::array();
        for (std::size_t i = 0; i < run.lines.size(); ++i) {
            if (!run.lines[i])
                continue;
            json line = figuresJson(*run.lines[i]);
            line["line"] = std::string(kLines[i].label);
            lines.push_back(line);
        }
        runs.push_back({{"file", run.file},
                        {"status", runStatusName(run.status)},
                        {"exit_status", run.exitStatus},
                        {"lines", lines}});
    }
    const json document = {{"recorder", record.recorder},
                           {"state", sessionStateName(record.state)},
                           {"reason", record.reason},
                           {"runs_planned", record.runsPlanned},
                           {"pause_s", record.pauseSeconds ? json(*record.pauseSeconds) : json(nullptr)},
                           {"logical_cpus", record.cpus},
                           {"runs", runs}};
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<FormatError> parseRecord(const std::string& text, SessionRecord& record)
{
    record = SessionRecord{};
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return FormatError{Kind::notObject, "", std::nullopt, ""};
    SessionRecord read;
    if (std::optional<FormatError> error = readSession(document, read))
        return error;
    const auto runs = document.find("runs");
    if (runs == document.end() || !runs->is_array())
        return FormatError{Kind::mustBeList, "runs", std::nullopt, ""};
    for (const json& entry : *runs) {
        RunRecord run;
        if (std::optional<FormatError> error = readRun(entry, run))
            return error;
        read.runs.push_back(std::move(run));
    }
    record = std::move(read);
    return std::nullopt;
}

} // namespace cpubench
