// Reads a machine's folder of recorded sessions (or one session folder)
// into the disturbance judgement's input, with each run's printed times:
// for the study tool and the tests on committed sessions.
#pragma once

#include "disturbance.h"
#include "session_record.h"
#include "transcript.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace study {

namespace fs = std::filesystem;
namespace an = cpubench::analyse;

struct Session {
    std::string name; // folder/session
    cpubench::SessionRecord record;
    // [run][line]: the time printed, when the run is complete with exact values
    std::vector<std::array<std::optional<double>, cpubench::kLineCount>> times;
    an::SessionInput input;
};

inline std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::optional<Session> readSession(const fs::path& dir, const std::string& name)
{
    Session s;
    s.name = name;
    if (cpubench::parseRecord(readFile(dir / cpubench::kRecordFile), s.record)) {
        std::fprintf(stderr, "%s: session.json unreadable\n", dir.string().c_str());
        return std::nullopt;
    }
    s.input.cpus = s.record.cpus;
    s.input.lines.resize(cpubench::kLineCount);
    for (std::size_t line = 0; line < cpubench::kLineCount; ++line)
        s.input.lines[line].threads = cpubench::kLines[line].threads;
    for (const cpubench::RunRecord& run : s.record.runs) {
        std::array<std::optional<double>, cpubench::kLineCount> times{};
        const cpubench::Transcript transcript = cpubench::readTranscript(readFile(dir / run.file));
        const bool good = run.status == cpubench::RunStatus::complete && transcript.problems.empty();
        for (std::size_t line = 0; line < cpubench::kLineCount; ++line) {
            an::LineRun entry;
            if (good && transcript.lines[line].time)
                times[line] = entry.time = transcript.lines[line].time->seconds;
            if (const auto& f = run.lines[line])
                entry.figures = an::Figures{f->seconds, f->otherCpu, f->steal, f->runDelay, f->throttle};
            s.input.lines[line].runs.push_back(entry);
        }
        s.times.push_back(times);
    }
    return s;
}

inline std::vector<Session> readFolder(const fs::path& dir)
{
    std::vector<Session> sessions;
    if (fs::exists(dir / cpubench::kRecordFile)) {
        if (auto s = readSession(dir, dir.filename().string()))
            sessions.push_back(std::move(*s));
        return sessions;
    }
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_directory() && fs::exists(entry.path() / cpubench::kRecordFile))
            folders.push_back(entry.path());
    // Session names sort by their start; -2, -3 ... after the plain name.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        const std::string x = a.filename().string(), y = b.filename().string();
        const std::string bx = x.substr(0, 17), by = y.substr(0, 17);
        if (bx != by)
            return bx < by;
        return (x.size() > 18 ? std::stoi(x.substr(18)) : 1) < (y.size() > 18 ? std::stoi(y.substr(18)) : 1);
    });
    for (const fs::path& folder : folders)
        if (auto s = readSession(folder, dir.filename().string() + "/" + folder.filename().string()))
            sessions.push_back(std::move(*s));
    return sessions;
}

} // namespace study
