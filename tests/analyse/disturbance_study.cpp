// Measures the disturbance judgement on recorded sessions, by hand (not a
// test: it reads whatever folders it is given).
//
//   disturbance-study [--history DIR]... [--alone] [--all] [--set NAME=VALUE]... DIR...
//
// Each DIR is a machine's folder of session folders (or one session
// folder). Its sessions are judged in name order, each against the ones
// before it and every session of the --history folders, by the new rule
// (cpubench::analyse::judgeSession) and by the recorder's fixed threshold
// (thresholdNames below); with --alone each session by itself, as a machine's
// first session is judged. --set changes one of the rule's constants
// (cpubench::analyse::Rule, by its member's name) to see what it does. Then it counts, over the lines of every run:
//   - the lines each rule names whose time lies within the line's usual
//     spread: within twice the line's spread of the median of its session's
//     other runs (the spread as the rule estimates it, but over all the
//     sessions given at once);
//   - the lines more than 15% slower than their line's median, against the
//     session's and against all the sessions', and which of them each rule
//     names;
// and lists every line either rule names (--all: every line).
#include "session_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace an = cpubench::analyse;
using study::Session;
using study::readFolder;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size(), m = n / 2;
    return n % 2 == 1 ? values[m] : (values[m - 1] + values[m]) / 2;
}

// The line's spread over all the sessions given: the rule's estimator
// (an::LineJudgement::timeSpread) on all of them at once.
std::array<double, cpubench::kLineCount> spreads(const std::vector<Session>& sessions)
{
    std::array<double, cpubench::kLineCount> result{};
    if (sessions.empty())
        return result;
    std::vector<an::SessionInput> all;
    for (const Session& s : sessions)
        if (s.input.cpus == sessions.front().input.cpus)
            all.push_back(s.input);
    const an::SessionJudgement j = an::judgeSession(all.front(), {all.begin() + 1, all.end()});
    for (std::size_t line = 0; line < cpubench::kLineCount; ++line)
        result[line] = j.lines[line].timeSpread;
    return result;
}

const char* findingName(const an::RunJudgement& j)
{
    if (j.finding == an::Finding::irregular)
        return j.irregularity == an::Irregularity::runDelay ? "irregular(run delay)" : "irregular(time)";
    if (j.finding == an::Finding::none)
        return "-";
    switch (j.cause) {
    case an::Cause::othersCpu:
        return "disturbed(others)";
    case an::Cause::steal:
        return "disturbed(steal)";
    case an::Cause::throttling:
        return "disturbed(throttling)";
    case an::Cause::none:
        break;
    }
    return "disturbed";
}

struct Counts {
    std::size_t lines = 0, newNamed = 0, newDisturbed = 0, newIrregular = 0, newWithin = 0, todayNamed = 0,
                todayWithin = 0, weakLines = 0, sessionLines = 0;
    std::size_t slowSession = 0, slowSessionNew = 0, slowSessionToday = 0;
    std::size_t slowAll = 0, slowAllNew = 0, slowAllToday = 0;
};

// The fixed threshold the recorder and cpubench-compare used before the
// judgement: a line is disturbed from a lost share of 3% on (others' CPU
// and steal beyond the idle processors, over the processors the line uses;
// for a lone thread also its wait for a processor), or with any thermal
// throttling event.
bool thresholdNames(const cpubench::LineFigures& f, std::size_t line, int cpus)
{
    if (f.throttle.value_or(0) > 0)
        return true;
    const int threads = cpubench::kLines[line].threads;
    if (!(f.seconds > 0) || cpus < 1)
        return false;
    double share = 0;
    if (f.otherCpu || f.steal) {
        const int used = std::min(threads, cpus);
        const double taken = f.otherCpu.value_or(0) + f.steal.value_or(0);
        const double idle = static_cast<double>(cpus - used) * f.seconds;
        share = std::max(0.0, taken - idle) / (static_cast<double>(used) * f.seconds);
    }
    if (threads == 1 && f.runDelay)
        share = std::max(share, *f.runDelay / f.seconds);
    return share >= 0.03;
}

// Sets the rule's constant `name` to `value`; false for an unknown name.
bool setConstant(an::Rule& rule, const std::string& name, double value)
{
    const std::pair<const char*, double an::Rule::*> constants[] = {
        {"shareSpreads", &an::Rule::shareSpreads},         {"shareSpreadFloor", &an::Rule::shareSpreadFloor},
        {"predictedSpreads", &an::Rule::predictedSpreads}, {"leastPredicted", &an::Rule::leastPredicted},
        {"movedSpreads", &an::Rule::movedSpreads},         {"irregularSpreads", &an::Rule::irregularSpreads},
        {"irregularLeast", &an::Rule::irregularLeast},     {"irregularAlways", &an::Rule::irregularAlways},
        {"timeSpreadFloor", &an::Rule::timeSpreadFloor},   {"timeSpreadUnknown", &an::Rule::timeSpreadUnknown},
        {"usualShareCeiling", &an::Rule::usualShareCeiling},
    };
    for (const auto& [key, member] : constants)
        if (name == key) {
            rule.*member = value;
            return true;
        }
    if (name == "levelSessions") {
        rule.levelSessions = static_cast<std::size_t>(value);
        return true;
    }
    return false;
}

double per100(std::size_t n, std::size_t of)
{
    return of ? 100.0 * static_cast<double>(n) / static_cast<double>(of) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Session> history;
    std::vector<fs::path> dirs;
    bool all = false, alone = false;
    an::Rule rule;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--history" && i + 1 < argc) {
            std::vector<Session> more = readFolder(argv[++i]);
            std::move(more.begin(), more.end(), std::back_inserter(history));
        } else if (arg == "--all")
            all = true;
        else if (arg == "--alone")
            alone = true;
        else if (arg == "--set" && i + 1 < argc) {
            const std::string setting = argv[++i];
            const std::size_t equals = setting.find('=');
            if (equals == std::string::npos ||
                !setConstant(rule, setting.substr(0, equals), std::strtod(setting.c_str() + equals + 1, nullptr))) {
                std::fprintf(stderr, "%s: no such constant of the rule\n", setting.c_str());
                return 2;
            }
        }
        else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: %s [--history DIR]... [--alone] [--all] [--set NAME=VALUE]... DIR...\n", argv[0]);
            return 2;
        } else
            dirs.emplace_back(arg);
    }
    if (dirs.empty()) {
        std::fprintf(stderr, "usage: %s [--history DIR]... [--alone] [--all] [--set NAME=VALUE]... DIR...\n", argv[0]);
        return 2;
    }
    Counts c;
    std::printf("%-34s %-5s %-16s %7s %6s %6s %6s %6s %6s  %-22s %s\n", "session", "run", "line", "time", "xsess",
                "xall", "share", "usual", "spr", "new rule", "today");
    for (const fs::path& dir : dirs) {
        const std::vector<Session> sessions = readFolder(dir);
        const std::array<double, cpubench::kLineCount> spread = spreads(sessions);
        std::printf("%s: %zu sessions; each line's spread within a session:", dir.string().c_str(), sessions.size());
        for (std::size_t line = 0; line < cpubench::kLineCount; ++line)
            std::printf("%s %s %.1f%%", line ? "," : "", std::string(cpubench::kLines[line].label).c_str(),
                        100 * spread[line]);
        std::printf("\n");
        // Each line's median over every run of every session given.
        std::array<double, cpubench::kLineCount> overall{};
        for (std::size_t line = 0; line < cpubench::kLineCount; ++line) {
            std::vector<double> times;
            for (const Session& s : sessions)
                for (const auto& run : s.times)
                    if (run[line])
                        times.push_back(*run[line]);
            overall[line] = times.empty() ? 0 : median(times);
        }
        std::vector<an::SessionInput> earlier;
        for (const Session& h : history)
            earlier.push_back(h.input);
        for (const Session& s : sessions) {
            const an::SessionJudgement judged =
                an::judgeSession(s.input, alone ? std::vector<an::SessionInput>{} : earlier, rule);
            earlier.push_back(s.input);
            for (std::size_t line = 0; line < cpubench::kLineCount; ++line) {
                const an::LineJudgement& lj = judged.lines[line];
                ++c.sessionLines;
                c.weakLines += lj.weakness != an::Weakness::none ? 1 : 0;
                std::vector<double> sessionTimes;
                for (const auto& run : s.times)
                    if (run[line])
                        sessionTimes.push_back(*run[line]);
                for (std::size_t r = 0; r < s.times.size(); ++r) {
                    const std::optional<double> time = s.times[r][line];
                    const auto& figures = s.record.runs[r].lines[line];
                    if (!time || !figures)
                        continue;
                    ++c.lines;
                    const an::RunJudgement& j = lj.runs[r];
                    const bool named = j.finding != an::Finding::none;
                    const bool today = s.record.cpus > 0 &&
                                       thresholdNames(*figures, line, s.record.cpus);
                    // Against the session's other runs, and whether that is within the usual spread.
                    std::vector<double> others;
                    for (std::size_t o = 0; o < s.times.size(); ++o)
                        if (o != r && s.times[o][line])
                            others.push_back(*s.times[o][line]);
                    std::optional<double> xsess;
                    if (!others.empty())
                        xsess = *time / median(others);
                    const bool within = xsess && std::abs(std::log(*xsess)) <= 2 * spread[line];
                    const double vsSession = *time / median(sessionTimes), vsAll = *time / overall[line];
                    c.newNamed += named ? 1 : 0;
                    c.newDisturbed += j.finding == an::Finding::disturbed ? 1 : 0;
                    c.newIrregular += j.finding == an::Finding::irregular ? 1 : 0;
                    c.newWithin += named && within ? 1 : 0;
                    c.todayNamed += today ? 1 : 0;
                    c.todayWithin += today && within ? 1 : 0;
                    if (sessionTimes.size() > 1 && vsSession > 1.15) {
                        ++c.slowSession;
                        c.slowSessionNew += named ? 1 : 0;
                        c.slowSessionToday += today ? 1 : 0;
                    }
                    if (vsAll > 1.15) {
                        ++c.slowAll;
                        c.slowAllNew += named ? 1 : 0;
                        c.slowAllToday += today ? 1 : 0;
                    }
                    if (!(all || named || today || vsAll > 1.15 || (sessionTimes.size() > 1 && vsSession > 1.15)))
                        continue;
                    const std::string figure =
                        j.finding == an::Finding::irregular && j.irregularity == an::Irregularity::runDelay
                            ? " rd " + std::to_string(*j.runDelay).substr(0, 5) + "/" +
                                  std::to_string(j.usualRunDelay.value_or(0)).substr(0, 5)
                            : "";
                    std::printf("%-34s %-5s %-16s %7.3f %6s %6.3f %5.1f%% %5.1f%% %6.1f  %-22s %s%s%s%s\n",
                                s.name.substr(s.name.size() > 34 ? s.name.size() - 34 : 0).c_str(),
                                s.record.runs[r].file.substr(0, 5).c_str(),
                                std::string(cpubench::kLines[line].label).c_str(), *time,
                                xsess ? std::to_string(*xsess).substr(0, 5).c_str() : "-", vsAll,
                                100 * j.share.value_or(0), 100 * j.usualShare, j.shareSpreads, findingName(j),
                                today ? "named" : "-", within && (named || today) ? "  within-spread" : "",
                                lj.weakness != an::Weakness::none ? "  most-runs-named(kept)" : "", figure.c_str());
                }
            }
        }
    }
    std::printf("\nlines (run x line with a time and figures): %zu, in %zu session lines\n", c.lines, c.sessionLines);
    std::printf("new rule: named %zu (disturbed %zu, irregular %zu); within the usual spread %zu = %.2f per 100\n",
                c.newNamed, c.newDisturbed, c.newIrregular, c.newWithin, per100(c.newWithin, c.lines));
    std::printf("today's rule: named %zu; within the usual spread %zu = %.2f per 100\n", c.todayNamed,
                c.todayWithin, per100(c.todayWithin, c.lines));
    std::printf("session lines with most runs named (kept, verdict weaker): %zu\n", c.weakLines);
    std::printf("more than 15%% slower than the session's median of the line: %zu; named by the new rule %zu, "
                "by today's %zu\n",
                c.slowSession, c.slowSessionNew, c.slowSessionToday);
    std::printf("more than 15%% slower than the line's median over all sessions: %zu; named by the new rule %zu, "
                "by today's %zu\n",
                c.slowAll, c.slowAllNew, c.slowAllToday);
    return 0;
}
