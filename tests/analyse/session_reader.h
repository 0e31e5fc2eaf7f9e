// Reads a machine's folder of recorded sessions (or one session folder)
// into the disturbance judgement's input, with each run's printed times:
// for the study tool and the tests on committed sessions.
#pragma once

#include "disturbance.h"
#include "session.h"
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
    session::SessionRecord record;
    // [run][line]: the time printed, when the run is complete with exact values
    std::vector<std::array<std::optional<double>, expected::kLineCount>> times;
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
    const std::string error = session::parseRecord(readFile(dir / session::kRecordFile), s.record);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", dir.string().c_str(), error.c_str());
        return std::nullopt;
    }
    s.input.cpus = s.record.cpus;
    s.input.lines.resize(expected::kLineCount);
    for (std::size_t line = 0; line < expected::kLineCount; ++line)
        s.input.lines[line].threads = session::kLineThreads[line];
    for (const session::RunRecord& run : s.record.runs) {
        std::array<std::optional<double>, expected::kLineCount> times{};
        const Transcript transcript = readTranscript(readFile(dir / run.file));
        const bool good = run.status == session::RunStatus::complete && transcript.problems.empty();
        for (std::size_t line = 0; line < expected::kLineCount; ++line) {
            an::LineRun entry;
            if (good && !transcript.lines[line].time.empty())
                times[line] = entry.time = std::strtod(transcript.lines[line].time.c_str(), nullptr);
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
    if (fs::exists(dir / session::kRecordFile)) {
        if (auto s = readSession(dir, dir.filename().string()))
            sessions.push_back(std::move(*s));
        return sessions;
    }
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_directory() && fs::exists(entry.path() / session::kRecordFile))
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
