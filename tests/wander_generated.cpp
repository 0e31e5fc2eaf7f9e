#include "wander_generated.h"

#include "read.h"
#include "robust.h"
#include "sitting.h"
#include "summaries.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

namespace wandergen {

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double rounded(double seconds)
{
    return std::max(0.001, std::round(seconds * 1000) / 1000);
}

Times timesOf(const cpubench::Transcript& transcript)
{
    Times times;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const auto& time = transcript.lines[l].time;
        times[l] = time ? time->seconds : NAN;
    }
    return times;
}

} // namespace

const std::vector<Times>& idleRuns()
{
    static const std::vector<Times> runs = [] {
        std::vector<Times> all;
        for (int i = 1;; ++i) {
            const std::string text = readFile(std::string(CPUBENCH_TEST_DATA) + "/idle-runs/run-" + std::to_string(i) + ".txt");
            if (text.empty())
                break;
            all.push_back(timesOf(cpubench::readTranscript(text)));
        }
        return all;
    }();
    return runs;
}

Shape randomShape(std::mt19937_64& random, double typical)
{
    std::uniform_real_distribution<double> factor(1.0 / 3, 5.0 / 3), share(0.4, 0.8), spread(0.01, 0.03);
    Shape shape;
    const std::vector<Times>& real = idleRuns();
    shape.base = real[random() % real.size()];
    for (std::size_t l = 0; l < kLineCount; ++l) {
        shape.scale[l] = typical * (l + 1 == kLineCount ? 5.0 / 3 : factor(random));
        shape.spread[l] = spread(random);
    }
    shape.share = share(random);
    return shape;
}

namespace {

// The offsets of one session: the machine-wide part and each line's own.
std::array<double, kLineCount> offsets(const Shape& shape, std::mt19937_64& random)
{
    std::normal_distribution<double> normal;
    const double common = normal(random);
    std::array<double, kLineCount> offset{};
    for (std::size_t l = 0; l < kLineCount; ++l)
        offset[l] = shape.scale[l] * (std::sqrt(shape.share) * common + std::sqrt(1 - shape.share) * normal(random));
    return offset;
}

Times run(const Shape& shape, const std::array<double, kLineCount>& offset, std::mt19937_64& random,
          const Step& step, std::size_t session)
{
    std::normal_distribution<double> normal;
    Times times;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const double factor = step ? step(session, l) : 1;
        times[l] = rounded(shape.base[l] * factor * std::exp(offset[l] + shape.spread[l] * normal(random)));
    }
    return times;
}

} // namespace

std::vector<Session> history(const Shape& shape, std::size_t sessions, std::size_t runs, std::mt19937_64& random,
                             const Step& step)
{
    std::vector<Session> all(sessions);
    for (std::size_t s = 0; s < sessions; ++s) {
        const auto offset = offsets(shape, random);
        for (std::size_t r = 0; r < runs; ++r)
            all[s].push_back(run(shape, offset, random, step, s));
    }
    return all;
}

std::pair<Session, Session> interleaved(const Shape& shape, std::size_t runs, std::mt19937_64& random,
                                        const Step& step)
{
    const auto offset = offsets(shape, random);
    std::pair<Session, Session> pair;
    for (std::size_t r = 0; r < 2 * runs; ++r) {
        // A B B A A B B A ...: the second of each pair of pairs swapped.
        const bool second = (r % 4 == 1 || r % 4 == 2);
        (second ? pair.second : pair.first).push_back(run(shape, offset, random, step, second ? 1 : 0));
    }
    return pair;
}

cpubench::SessionLines linesOf(const Session& session)
{
    cpubench::SessionLines lines{};
    for (std::size_t l = 0; l < kLineCount; ++l) {
        std::vector<double> seconds, logs;
        for (const Times& times : session)
            if (std::isfinite(times[l]) && times[l] > 0)
                seconds.push_back(times[l]);
        // A run far off the session's others (the comparison's outlier
        // rule: 1.25 times off and far outside their spread) would carry
        // the session's mean: it is left out of it.
        const std::vector<cpubench::Outlier> far = cpubench::outliers(seconds);
        for (std::size_t r = 0; r < seconds.size(); ++r)
            if (std::none_of(far.begin(), far.end(), [&](const cpubench::Outlier& o) { return o.index == r; }))
                logs.push_back(std::log(seconds[r]));
        if (logs.empty())
            continue;
        double sum = 0;
        for (const double v : logs)
            sum += v;
        lines[l].runs = logs.size();
        lines[l].mean = sum / static_cast<double>(logs.size());
        lines[l].spread = std::sqrt(cpubench::sampleVariance(logs));
    }
    return lines;
}

std::vector<cpubench::SessionLines> linesOf(const std::vector<Session>& sessions)
{
    std::vector<cpubench::SessionLines> all;
    for (const Session& session : sessions)
        all.push_back(linesOf(session));
    return all;
}

std::vector<std::array<double, kLineCount>> logsOf(const Session& session)
{
    std::vector<std::array<double, kLineCount>> logs;
    for (const Times& times : session) {
        std::array<double, kLineCount> run{};
        for (std::size_t l = 0; l < kLineCount; ++l)
            run[l] = std::isfinite(times[l]) && times[l] > 0 ? std::log(times[l]) : NAN;
        logs.push_back(run);
    }
    return logs;
}

std::string transcript(const Times& seconds)
{
    static const std::string real = readFile(std::string(CPUBENCH_TEST_DATA) + "/idle-runs/run-1.txt");
    // The text around the nine times, cut once.
    static const std::vector<std::string> pieces = [] {
        std::vector<std::string> cut;
        static const std::regex time(" in [0-9]+\\.[0-9]+ s");
        std::string rest = real;
        std::smatch found;
        while (std::regex_search(rest, found, time)) {
            cut.push_back(found.prefix().str() + " in ");
            rest = " s" + found.suffix().str();
        }
        cut.push_back(rest);
        return cut;
    }();
    std::string text;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        char number[32];
        std::snprintf(number, sizeof number, "%.3f", seconds[l]);
        text += pieces[l] + number;
    }
    return text + pieces[kLineCount];
}

std::vector<RealSession> readSessions(const std::string& folder)
{
    std::vector<RealSession> sessions;
    const cpubench::History read = cpubench::readHistory(cpubench::SystemTree(), folder);
    for (const cpubench::Session& session : read.sessions) {
        RealSession real;
        real.name = session.name;
        const cpubench::MachineStats stats = cpubench::machineStats(session.machine, false);
        for (std::size_t r = 0; r < session.machine.runs.size(); ++r) {
            const cpubench::Run& run = session.machine.runs[r];
            if (!run.transcript.good())
                continue;
            Times times = timesOf(run.transcript);
            for (std::size_t l = 0; l < kLineCount; ++l)
                if (r < stats.disturbance.lines[l].runs.size() && stats.disturbance.lines[l].runs[r].leftOut)
                    times[l] = NAN;
            real.runs.push_back(times);
        }
        if (!real.runs.empty())
            sessions.push_back(std::move(real));
    }
    return sessions;
}

} // namespace wandergen
