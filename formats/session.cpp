#include "session.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace session {

namespace {

using nlohmann::json;

json optionalJson(const std::optional<double>& value)
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

} // namespace

std::string baseName(std::time_t start)
{
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &start);
#else
    gmtime_r(&start, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H.%MZ", &utc);
    return text;
}

std::string numberedName(const std::string& base, int n)
{
    return n <= 1 ? base : base + "-" + std::to_string(n);
}

std::optional<double> lostShare(const LineFigures& f, int threads, int cpus)
{
    if (!(f.seconds > 0) || cpus < 1)
        return std::nullopt;
    std::optional<double> share;
    if (f.otherCpu || f.steal) {
        const int used = std::min(threads, cpus);
        const double taken = f.otherCpu.value_or(0) + f.steal.value_or(0);
        const double idle = static_cast<double>(cpus - used) * f.seconds;
        share = std::max(0.0, taken - idle) / (static_cast<double>(used) * f.seconds);
    }
    // A lone thread that waited for a processor lost that time, whichever
    // processor the others ran on. A team waits by design: more threads
    // than processors.
    if (threads == 1 && f.runDelay)
        share = std::max(share.value_or(0), *f.runDelay / f.seconds);
    return share;
}

LineJudgement judgeLine(const LineFigures& figures, std::size_t line, int cpus)
{
    LineJudgement judgement;
    judgement.share = lostShare(figures, kLineThreads[line], cpus).value_or(0);
    if (figures.throttle.value_or(0) > 0)
        judgement.kind = Disturbance::throttling;
    else if (judgement.share >= kDisturbedShare)
        judgement.kind = Disturbance::load;
    return judgement;
}

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

std::string writeRecord(const SessionRecord& record)
{
    json runs = json::array();
    for (const RunRecord& run : record.runs) {
        json lines = json::array();
        for (std::size_t i = 0; i < run.lines.size(); ++i) {
            if (!run.lines[i])
                continue;
            const LineFigures& f = *run.lines[i];
            lines.push_back({{"line", std::string(expected::kLines[i].label)},
                             {"seconds", f.seconds},
                             {"other_cpu_s", optionalJson(f.otherCpu)},
                             {"steal_s", optionalJson(f.steal)},
                             {"run_delay_s", optionalJson(f.runDelay)},
                             {"throttle_events", f.throttle ? json(*f.throttle) : json(nullptr)}});
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

std::string parseRecord(const std::string& text, SessionRecord& record)
{
    record = SessionRecord{};
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return "not a JSON object";
    SessionRecord read;
    if (!readName(document, "state",
                  std::array{SessionState::recording, SessionState::complete, SessionState::incomplete},
                  sessionStateName, read.state))
        return "\"state\" must be recording, complete or incomplete";
    if (const auto it = document.find("reason"); it != document.end() && it->is_string())
        read.reason = it->get<std::string>();
    if (const auto it = document.find("recorder"); it != document.end() && it->is_string())
        read.recorder = it->get<std::string>();
    std::optional<int> planned, cpus, pause;
    if (!readNumber(document, "runs_planned", planned) || !readNumber(document, "logical_cpus", cpus) ||
        !readNumber(document, "pause_s", pause) || cpus.value_or(0) > 65536)
        return "\"runs_planned\", \"pause_s\" and \"logical_cpus\" must be numbers";
    read.pauseSeconds = pause;
    read.runsPlanned = planned.value_or(0);
    read.cpus = cpus.value_or(0);
    const auto runs = document.find("runs");
    if (runs == document.end() || !runs->is_array())
        return "\"runs\" must be a list";
    for (const json& entry : *runs) {
        RunRecord run;
        if (!entry.is_object() || !entry.contains("file") || !entry["file"].is_string())
            return "each run must be an object with its \"file\"";
        run.file = entry["file"].get<std::string>();
        if (!readName(entry, "status",
                      std::array{RunStatus::complete, RunStatus::failed, RunStatus::timedOut, RunStatus::interrupted},
                      runStatusName, run.status))
            return run.file + ": unknown \"status\"";
        std::optional<int> exitStatus;
        if (!readNumber(entry, "exit_status", exitStatus))
            return run.file + ": \"exit_status\" must be a number";
        run.exitStatus = exitStatus.value_or(0);
        const auto lines = entry.find("lines");
        if (lines == entry.end() || !lines->is_array())
            return run.file + ": \"lines\" must be a list";
        for (const json& line : *lines) {
            if (!line.is_object() || !line.contains("line") || !line["line"].is_string())
                return run.file + ": each line must be an object with its \"line\"";
            const std::string& label = line["line"].get_ref<const std::string&>();
            const auto known = std::find_if(expected::kLines.begin(), expected::kLines.end(),
                                            [&](const expected::ResultLine& l) { return l.label == label; });
            if (known == expected::kLines.end())
                continue; // a line of a later benchmark
            LineFigures f;
            std::optional<double> seconds;
            if (!readNumber(line, "seconds", seconds) || !readNumber(line, "other_cpu_s", f.otherCpu) ||
                !readNumber(line, "steal_s", f.steal) || !readNumber(line, "run_delay_s", f.runDelay) ||
                !readNumber(line, "throttle_events", f.throttle))
                return run.file + ": " + label + ": each figure must be a number of 0 or more";
            f.seconds = seconds.value_or(0);
            run.lines[static_cast<std::size_t>(known - expected::kLines.begin())] = f;
        }
        read.runs.push_back(std::move(run));
    }
    record = std::move(read);
    return "";
}

} // namespace session
