// The rates of the wander model's statistics, before (the 1.2.0 comparison
// and history: a reference cpubench-compare reading the same times written
// as transcripts) and after, on generated sessions shaped like real ones and
// on real sessions. Every rate is printed with the count behind it. Run by
// hand (not a test):
//
//   wander_benchmark [--count N] [--seed S] [--wander W] [--before PROGRAM] [--program PROGRAM] SECTION...
//
// --program: the comparisons also through this cpubench-compare end to end,
// each machine a folder of its sessions (the earlier ones and the compared).
//
// SECTION: comparisons, interleaved, histories, calibrate, default FOLDER...,
// real FOLDER...; `all` runs the first three.
#include "distributions.h"
#include "sitting.h"
#include "steps.h"
#include "wander.h"
#include "wander_generated.h"

#include "phrases.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace cpubench;
using wandergen::Session;
using wandergen::Shape;

struct Options {
    int count = 200;
    unsigned long long seed = 20261209;
    double wander = 0.02;
    bool before = false; // set by --before PROGRAM
    long at = -1; // pair: the first folder's session to compare (-1: its newest)
};

struct Rate {
    long hits = 0, total = 0;
    void add(bool hit)
    {
        hits += hit ? 1 : 0;
        ++total;
    }
    double value() const { return total > 0 ? static_cast<double>(hits) / static_cast<double>(total) : 0; }
};

void print(const char* what, const Rate& rate)
{
    std::printf("  %-62s %6.1f%%  (%ld of %ld)\n", what, 100 * rate.value(), rate.hits, rate.total);
}

const char* const kRowNames[] = {"double mul log", "SSE2 _mm_mul_pd", "GMP mpz_pow_ui", "INT64MulDiv128",
                                 "4Kern MulDiv128", "8Kern MulDiv128", "18KernMulDiv128", "MUL-Mod 32 Bit",
                                 "Copy 2 GB", "summary (headline)"};

// ---- before: a reference cpubench-compare (1.2.0's statistics) ----
//
// The same times written as session folders of transcripts and read by a
// reference build of cpubench-compare (--before PROGRAM: main's at the
// commit before the wander model, whose outputs are 1.2.0's), end to end
// through its JSON and exit status.

std::string gReference; // the reference program; empty: no "before"
std::string gProgram;   // --program: cpubench-compare as built, end to end; empty: none
std::string gScratch;   // a folder of our own for the folders it reads

bool differs(Verdict v)
{
    return v == Verdict::slower || v == Verdict::faster;
}

Verdict verdictOf(const nlohmann::json& value)
{
    if (!value.is_string())
        return Verdict::undecided;
    const std::string text = value.get<std::string>();
    return text == "slower"   ? Verdict::slower
           : text == "faster" ? Verdict::faster
           : text == "same"   ? Verdict::same
                              : Verdict::undecided;
}

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void writeRuns(const std::filesystem::path& dir, const Session& session)
{
    std::filesystem::create_directories(dir);
    for (std::size_t r = 0; r < session.size(); ++r)
        writeFile(dir / ("run-" + std::to_string(r + 1) + ".txt"), wandergen::transcript(session[r]));
}

// Runs `command`: its standard output, and its exit status in `status`.
std::string runCommand(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    const int code = pclose(pipe);
    status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    return output;
}

std::string quotedPath(const std::filesystem::path& path)
{
    return "'" + path.string() + "'";
}

std::string sessionNameOf(std::size_t s)
{
    char name[48];
    std::snprintf(name, sizeof name, "2026-11-%02zuT%02zu.00Z", 1 + s / 24, s % 24);
    return name;
}

// The rows of `program`'s comparison of `other` with `base`, each a machine
// folder of its sessions in time order (one session: the runs alone): per
// row, the verdict (undecided where none).
std::array<Verdict, kSittingRows> programVerdicts(const std::string& program, const std::vector<Session>& base,
                                                  const std::vector<Session>& other)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(gScratch) / "pair";
    fs::remove_all(dir);
    const auto machine = [&](const fs::path& folder, const std::vector<Session>& sessions) {
        if (sessions.size() == 1)
            return writeRuns(folder, sessions[0]);
        for (std::size_t s = 0; s < sessions.size(); ++s)
            writeRuns(folder / sessionNameOf(s), sessions[s]);
    };
    machine(dir / "a", base);
    machine(dir / "b", other);
    int status = 0;
    const std::string out =
        runCommand(quotedPath(program) + " --json " + quotedPath(dir / "a") + " " + quotedPath(dir / "b"), status);
    std::array<Verdict, kSittingRows> verdicts;
    verdicts.fill(Verdict::undecided);
    const nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
    if (doc.is_discarded() || !doc.contains("machines") || doc["machines"].size() < 2)
        return verdicts;
    const nlohmann::json& m = doc["machines"][1];
    for (std::size_t l = 0; l < kLineCount; ++l)
        verdicts[l] = verdictOf(m["statistics"][l]["verdict"]);
    verdicts[kSummaryRow] = verdictOf(m["summary"]["verdict"]);
    return verdicts;
}

// The reference's comparison of one sitting each.
std::array<Verdict, kSittingRows> oldVerdicts(const Session& base, const Session& other)
{
    return programVerdicts(gReference, {base}, {other});
}

struct Outcome {
    std::array<std::vector<std::size_t>, kLineCount> changes; // sessions of the changes per line
    bool status3 = false;
    bool byRule = false; // status 3 from the sequential rule (after only)
    std::array<bool, kLineCount> undecided{}; // some place the sessions cannot tell yet
};

std::size_t lineIndex(const std::string& label)
{
    for (std::size_t l = 0; l < kLineCount; ++l)
        if (kLines[l].label == label)
            return l;
    return kLineCount;
}

// A history read by the reference: its changes, undecided places and status.
Outcome oldOutcome(const std::vector<Session>& sessions)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(gScratch) / "history" / "gen";
    fs::remove_all(dir.parent_path());
    for (std::size_t s = 0; s < sessions.size(); ++s)
        writeRuns(dir / sessionNameOf(s), sessions[s]);
    int status = 0;
    const std::string out = runCommand(quotedPath(gReference) + " --history --json " + quotedPath(dir), status);
    Outcome outcome;
    outcome.status3 = status == 3;
    const nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
    if (doc.is_discarded())
        return outcome;
    const auto sessionIndex = [](const nlohmann::json& name) {
        for (std::size_t s = 0; s < 1000; ++s)
            if (name.is_string() && name.get<std::string>() == sessionNameOf(s))
                return s;
        return SIZE_MAX;
    };
    for (const auto& change : doc.value("changes", nlohmann::json::array())) {
        const std::size_t l = lineIndex(change.value("line", ""));
        if (l < kLineCount)
            outcome.changes[l].push_back(sessionIndex(change["session"]));
    }
    for (const auto& u : doc.value("undecided", nlohmann::json::array())) {
        const std::size_t l = lineIndex(u.value("line", ""));
        if (l < kLineCount)
            outcome.undecided[l] = true;
    }
    return outcome;
}

// ---- comparisons ----

std::array<Verdict, kSittingRows> newVerdicts(const Session& base, const WanderModel& baseModel, const Session& other,
                                              const WanderModel& otherModel, Pairing pairing)
{
    const SittingComparison c = compareSittings(sideOfRuns(wandergen::logsOf(base), baseModel),
                                                sideOfRuns(wandergen::logsOf(other), otherModel), pairing);
    std::array<Verdict, kSittingRows> verdicts;
    for (std::size_t row = 0; row < kSittingRows; ++row)
        verdicts[row] = c.rows[row].verdict;
    return verdicts;
}

// The model a side uses: from its earlier sessions when it has some, else
// the default with the spread of its compared session.
WanderModel modelFor(const std::vector<Session>& earlier, const Session& newest)
{
    std::vector<SessionLines> lines = wandergen::linesOf(earlier);
    lines.push_back(wandergen::linesOf(newest));
    if (earlier.size() + 1 < kFewestWanderSessions)
        return fitWander({wandergen::linesOf(newest)});
    return fitWander(lines);
}

struct TableRates {
    Rate anyFalse, headlineFalse, rowFalse, headlineFound;
    std::array<Rate, kSittingRows> found{};
};

void printTable(const char* title, const TableRates& t)
{
    std::printf(" %s\n", title);
    print("some false + or - anywhere in the table (same machine)", t.anyFalse);
    print("false + or - on the headline (summary row)", t.headlineFalse);
    print("false + or - per row", t.rowFalse);
    print("headline finds a 10% slowdown of every line", t.headlineFound);
    for (std::size_t row = 0; row < kLineCount; ++row) {
        char what[96];
        std::snprintf(what, sizeof what, "  10%% slowdown found on %s", kRowNames[row]);
        print(what, t.found[row]);
    }
}

void comparisons(const Options& options)
{
    std::printf("Comparisons of one machine with itself across sittings (generated: typical wander %.1f%%, "
                "own scale per line, machine-wide share 0.4..0.8, 1..3%% inside a session)\n",
                100 * options.wander);
    for (const std::size_t runs : {std::size_t{4}, std::size_t{5}}) {
        for (const std::size_t earlierCount : {std::size_t{0}, std::size_t{5}}) {
            std::mt19937_64 random(options.seed + runs * 100 + earlierCount);
            TableRates before, after, built;
            for (int i = 0; i < options.count; ++i) {
                const Shape shape = wandergen::randomShape(random, options.wander);
                // Each side: its earlier sessions, then the newest (compared).
                const std::vector<Session> a = wandergen::history(shape, earlierCount + 1, runs, random);
                const std::vector<Session> b = wandergen::history(shape, earlierCount + 1, runs, random);
                // The other machine 10% slower on every line, in every session.
                std::vector<Session> slowed = b;
                for (Session& session : slowed)
                    for (auto& run : session)
                        for (double& t : run)
                            t = std::round(t * 1100) / 1000;
                const std::vector<Session> earlierA(a.begin(), a.end() - 1), earlierB(b.begin(), b.end() - 1);
                const std::vector<Session> earlierS(slowed.begin(), slowed.end() - 1);
                const WanderModel modelA = modelFor(earlierA, a.back()), modelB = modelFor(earlierB, b.back());
                const WanderModel modelS = modelFor(earlierS, slowed.back());
                const auto tally = [&](TableRates& t, const std::array<Verdict, kSittingRows>& same,
                                       const std::array<Verdict, kSittingRows>& slow) {
                    bool any = false;
                    for (std::size_t row = 0; row < kSittingRows; ++row) {
                        any = any || differs(same[row]);
                        t.rowFalse.add(differs(same[row]));
                        t.found[row].add(slow[row] == Verdict::slower);
                    }
                    t.anyFalse.add(any);
                    t.headlineFalse.add(differs(same[kSummaryRow]));
                    t.headlineFound.add(slow[kSummaryRow] == Verdict::slower);
                };
                tally(after, newVerdicts(a.back(), modelA, b.back(), modelB, Pairing::sittings),
                      newVerdicts(a.back(), modelA, slowed.back(), modelS, Pairing::sittings));
                if (options.before && earlierCount == 0)
                    tally(before, oldVerdicts(a.back(), b.back()), oldVerdicts(a.back(), slowed.back()));
                if (!gProgram.empty())
                    tally(built, programVerdicts(gProgram, a, b), programVerdicts(gProgram, a, slowed));
            }
            char title[160];
            if (options.before && earlierCount == 0) {
                std::snprintf(title, sizeof title, "%zu runs each, before (1.2.0):", runs);
                printTable(title, before);
            }
            std::snprintf(title, sizeof title, "%zu runs each, after, wander %s:", runs,
                          earlierCount == 0 ? "the measured default (one session per machine)"
                                            : "from each machine's 5 earlier sessions");
            printTable(title, after);
            if (!gProgram.empty()) {
                std::snprintf(title, sizeof title, "%zu runs each, cpubench-compare end to end, %s:", runs,
                              earlierCount == 0 ? "one session per machine" : "6 sessions per machine");
                printTable(title, built);
            }
        }
    }
}

void interleavedAB(const Options& options)
{
    std::printf("Interleaved A/B on one machine (generated as above, A B B A ..., typical wander %.1f%%)\n",
                100 * options.wander);
    for (const std::size_t runs : {std::size_t{4}, std::size_t{5}, std::size_t{6}, std::size_t{8}}) {
        std::mt19937_64 random(options.seed + runs);
        TableRates t, before;
        for (int i = 0; i < options.count; ++i) {
            const Shape shape = wandergen::randomShape(random, options.wander);
            const auto same = wandergen::interleaved(shape, runs, random);
            const auto slow = wandergen::interleaved(shape, runs, random, [](std::size_t s, std::size_t) {
                return s == 1 ? 1.10 : 1.0;
            });
            const WanderModel none = fitWander({wandergen::linesOf(same.first)});
            const auto sameV = newVerdicts(same.first, none, same.second, none, Pairing::interleaved);
            const auto slowV = newVerdicts(slow.first, none, slow.second, none, Pairing::interleaved);
            bool any = false;
            for (std::size_t row = 0; row < kSittingRows; ++row) {
                any = any || differs(sameV[row]);
                t.rowFalse.add(differs(sameV[row]));
                t.found[row].add(slowV[row] == Verdict::slower);
            }
            t.anyFalse.add(any);
            t.headlineFalse.add(differs(sameV[kSummaryRow]));
            t.headlineFound.add(slowV[kSummaryRow] == Verdict::slower);
            if (options.before) {
                const auto oldSame = oldVerdicts(same.first, same.second), oldSlow = oldVerdicts(slow.first, slow.second);
                bool oldAny = false;
                for (std::size_t row = 0; row < kSittingRows; ++row) {
                    oldAny = oldAny || differs(oldSame[row]);
                    before.rowFalse.add(differs(oldSame[row]));
                    before.found[row].add(oldSlow[row] == Verdict::slower);
                }
                before.anyFalse.add(oldAny);
                before.headlineFalse.add(differs(oldSame[kSummaryRow]));
                before.headlineFound.add(oldSlow[kSummaryRow] == Verdict::slower);
            }
        }
        char title[96];
        if (options.before) {
            std::snprintf(title, sizeof title, "%zu runs each, before (1.2.0, rows by themselves or together):", runs);
            printTable(title, before);
        }
        std::snprintf(title, sizeof title, "%zu runs each, after (exact rank test, weighted Holm):", runs);
        printTable(title, t);
    }
}

// ---- histories ----

struct HistoryRates {
    Rate lineChanged, status3, foundAtSession, changedElsewhere, statusAfter, byRule, undecidedStepped,
        undecidedElsewhere;
};


bool gOracle = false;

// The model the generator used, as if known: what the best tests could do.
WanderModel trueModel(const Shape& shape)
{
    WanderModel model;
    model.source = WanderSource::sessions;
    model.scale = shape.scale;
    model.spread = shape.spread;
    model.share = shape.share;
    model.spreadDf.fill(1e7);
    model.scaleDf.fill(1e7);
    model.typicalDf = 1e7;
    return model;
}

Outcome newOutcome(const std::vector<Session>& sessions, const Shape& shape)
{
    StepSettings settings;
    if (gOracle)
        settings.known = trueModel(shape);
    const StepReport report = findSteps(wandergen::linesOf(sessions), settings);
    Outcome outcome;
    for (std::size_t l = 0; l < kLineCount; ++l)
        for (const LineChange& change : report.lines[l].changes)
            outcome.changes[l].push_back(change.session);
    outcome.status3 = report.newestSlower;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        outcome.byRule = outcome.byRule || report.lines[l].newest.alarm;
        outcome.undecided[l] = !report.lines[l].undecided.empty();
    }
    return outcome;
}

void historyCase(const Options& options, const char* title, std::size_t sessions, std::size_t stepAt, double step,
                 int lines, bool reportStatus)
{
    std::printf(" %s\n", title);
    for (const bool old : {true, false}) {
        if (old && !options.before)
            continue;
        std::mt19937_64 random(options.seed + sessions * 7 + stepAt);
        HistoryRates r;
        for (int i = 0; i < options.count; ++i) {
            const Shape shape = wandergen::randomShape(random, options.wander);
            std::array<bool, kLineCount> stepped{};
            for (int k = 0; k < lines;) {
                const std::size_t l = random() % kLineCount;
                if (!stepped[l]) {
                    stepped[l] = true;
                    ++k;
                }
            }
            const auto history = wandergen::history(shape, sessions, 4, random, [&](std::size_t s, std::size_t l) {
                return s >= stepAt && stepped[l] ? step : 1.0;
            });
            const Outcome o = old ? oldOutcome(history) : newOutcome(history, shape);
            for (std::size_t l = 0; l < kLineCount; ++l) {
                if (stepped[l]) {
                    bool at = false;
                    for (const std::size_t s : o.changes[l])
                        at = at || s == stepAt;
                    r.foundAtSession.add(at);
                    r.undecidedStepped.add(!at && o.undecided[l]);
                    r.changedElsewhere.add(!at && !o.changes[l].empty());
                } else {
                    r.lineChanged.add(!o.changes[l].empty());
                    r.undecidedElsewhere.add(o.changes[l].empty() && o.undecided[l]);
                }
            }
            r.status3.add(o.status3);
            r.byRule.add(o.byRule);
        }
        std::printf("  %s\n", old ? "before (1.2.0):" : "after:");
        if (lines > 0) {
            char what[96];
            std::snprintf(what, sizeof what, "%.0f%% step found at its session (stepped line histories)",
                          100 * (step - 1));
            print(what, r.foundAtSession);
            print("unstepped line histories with a change", r.lineChanged);
        } else {
            print("line histories with a change", r.lineChanged);
        }
        if (!old) {
            if (lines > 0) {
                print("stepped line histories not found but undecided", r.undecidedStepped);
                print("stepped line histories with a change elsewhere only", r.changedElsewhere);
            }
            print("unstepped line histories without a change but undecided", r.undecidedElsewhere);
        }
        if (reportStatus || lines == 0) {
            print("histories ending with status 3", r.status3);
            if (!old)
                print("  of which the sequential rule alarmed", r.byRule);
        }
    }
}

void mitigation(const Options& options)
{
    std::printf(" 10 normal sessions, then INT64MulDiv128 and MUL-Mod 32 Bit 15%% slower\n");
    for (const bool old : {true, false}) {
        if (old && !options.before)
            continue;
        for (const std::size_t slow : {std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
            std::mt19937_64 random(options.seed + 991 + slow);
            Rate status;
            for (int i = 0; i < options.count; ++i) {
                const Shape shape = wandergen::randomShape(random, options.wander);
                const auto history = wandergen::history(shape, 10 + slow, 4, random, [](std::size_t s, std::size_t l) {
                    return s >= 10 && (l == 3 || l == 7) ? 1.15 : 1.0;
                });
                status.add(old ? oldOutcome(history).status3 : newOutcome(history, shape).status3);
            }
            char what[96];
            std::snprintf(what, sizeof what, "%s: status 3 after %zu slow session(s)", old ? "before" : "after", slow);
            print(what, status);
        }
    }
}

void histories(const Options& options)
{
    std::printf("Histories (generated: typical wander %.1f%%, 4 runs a session)\n", 100 * options.wander);
    historyCase(options, "no step, 8 sessions", 8, SIZE_MAX, 1, 0, true);
    historyCase(options, "10 sessions, 10% step at session 6 on two lines", 10, 5, 1.10, 2, false);
    historyCase(options, "10 sessions, 15% step at session 6 on two lines", 10, 5, 1.15, 2, false);
    historyCase(options, "6 sessions, 25% step at session 4 on two lines", 6, 3, 1.25, 2, false);
    mitigation(options);
}

// The sequential rule's false alarm per line under the model: normal scores.
void calibrate(const Options& options)
{
    std::mt19937_64 random(options.seed);
    std::normal_distribution<double> normal;
    const long draws = 2000000;
    for (const double reference : {0.5, 1.0, NewestRule::kReference})
        for (const double limit : {1.5, 1.7, 1.9, 2.1, NewestRule::kLimit}) {
            long alarms = 0, one = 0;
            for (long i = 0; i < draws; ++i) {
                double score = 0, z = 0;
                for (std::size_t s = 0; s < NewestRule::kWindow; ++s) {
                    z = normal(random);
                    score = std::max(0.0, score + z - reference);
                }
                alarms += score > limit && z > reference ? 1 : 0;
                one += z - reference > limit ? 1 : 0;
            }
            std::printf("reference %.2f limit %.2f: false alarm per series %.3f%%, by the newest session alone "
                        "%.3f%% (%ld draws)\n",
                        reference, limit, 100.0 * static_cast<double>(alarms) / draws,
                        100.0 * static_cast<double>(one) / draws, draws);
        }
}

void printModel(const char* title, const WanderModel& m)
{
    std::printf("%s: source %s, %zu sessions, typical %.2f%% (df %.1f), share %.2f\n", title,
                m.source == WanderSource::sessions ? "sessions" : "default", m.sessions, 100 * m.typical, m.typicalDf,
                m.share);
    for (std::size_t l = 0; l < kLineCount; ++l)
        std::printf("  %-16s scale %.2f%% (df %.1f)  spread %.2f%% (df %.0f)\n", kRowNames[l], 100 * m.scale[l],
                    m.scaleDf[l], 100 * m.spread[l], m.spreadDf[l]);
}

std::vector<SessionLines> realLines(const std::vector<wandergen::RealSession>& sessions)
{
    std::vector<SessionLines> lines;
    for (const auto& s : sessions)
        lines.push_back(wandergen::linesOf(s.runs));
    return lines;
}

void measureDefault(const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders) {
        const auto sessions = wandergen::readSessions(folder);
        std::printf("%s: %zu sessions\n", folder.c_str(), sessions.size());
        for (const auto& s : sessions)
            std::printf("  %s: %zu runs\n", s.name.c_str(), s.runs.size());
        printModel("fitted", fitWander(realLines(sessions), {}, measuredDefaultWander(), 2));
        const StepReport steps = findSteps(realLines(sessions));
        printModel("fitted around the history's levels", steps.model);
        for (std::size_t l = 0; l < kLineCount; ++l)
            for (const LineChange& c : steps.lines[l].changes)
                std::printf("  change: %s at session %zu: %.3fx\n", kRowNames[l], c.session, c.ratio);
        std::printf("  status 3: %s\n", steps.newestSlower ? "yes" : "no");
    }
    // The committed idle runs as six sittings of five, in time order.
    std::vector<Session> blocks(6);
    for (std::size_t r = 0; r < 30; ++r)
        blocks[r / 5].push_back(wandergen::idleRuns()[r]);
    printModel("idle runs (Intel Xeon), six blocks of five in time order", fitWander(wandergen::linesOf(blocks)));
}

// Every time of a session 10% longer (rounded to the millisecond).
Session slower10(const Session& session)
{
    Session slow;
    for (wandergen::Times t : session) {
        for (double& x : t)
            x = std::round(x * 1100) / 1000;
        slow.push_back(t);
    }
    return slow;
}

bool anyDiffers(const std::array<Verdict, kSittingRows>& verdicts)
{
    bool some = false;
    for (const Verdict v : verdicts)
        some = some || differs(v);
    return some;
}

// The rates of comparisons of a machine's sessions with each other: false
// rows and headlines before and after, and the headline's power at 10%.
struct PairRates {
    Rate any, head, found, anyOld, headOld;

    void judge(const Session& a, const WanderModel& ma, const Session& b, const WanderModel& mb, Pairing pairing,
               bool before)
    {
        const auto same = newVerdicts(a, ma, b, mb, pairing);
        any.add(anyDiffers(same));
        head.add(differs(same[kSummaryRow]));
        found.add(newVerdicts(a, ma, slower10(b), mb, pairing)[kSummaryRow] == Verdict::slower);
        if (before) {
            const auto old = oldVerdicts(a, b);
            anyOld.add(anyDiffers(old));
            headOld.add(differs(old[kSummaryRow]));
        }
    }

    void show(bool before) const
    {
        if (before) {
            print("before (1.2.0): some false + or - in the table", anyOld);
            print("before (1.2.0): false headline", headOld);
        }
        print("after: some false + or - in the table", any);
        print("after: false headline", head);
        print("after: headline finds the second 10% slower", found);
    }
};

// Real sessions: every ordered pair of sessions of a machine, one against
// the other, with the wander from the default or from its other sessions.
void real(const Options& options, const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders) {
        const auto sessions = wandergen::readSessions(folder);
        std::printf("%s: %zu sessions; every ordered pair compared (they overlap: %zu sessions hold %zu disjoint "
                    "pairs)\n",
                    folder.c_str(), sessions.size(), sessions.size(), sessions.size() / 2);
        PairRates byDefault, byOthers;
        for (std::size_t i = 0; i < sessions.size(); ++i)
            for (std::size_t j = 0; j < sessions.size(); ++j) {
                if (i == j)
                    continue;
                const Session& a = sessions[i].runs;
                const Session& b = sessions[j].runs;
                std::vector<SessionLines> others;
                for (std::size_t k = 0; k < sessions.size(); ++k)
                    if (k != i && k != j)
                        others.push_back(wandergen::linesOf(sessions[k].runs));
                byDefault.judge(a, fitWander({wandergen::linesOf(a)}), b, fitWander({wandergen::linesOf(b)}),
                                Pairing::sittings, options.before);
                // A default measured on the other sessions alone (from two on):
                // the pair's own sessions never inform it.
                const WanderModel own = fitWander(others, {}, measuredDefaultWander(), 2);
                byOthers.judge(a, own, b, own, Pairing::sittings, false);
            }
        std::printf(" wander: the default\n");
        byDefault.show(options.before);
        std::printf(" wander: measured on the machine's other sessions (left out: the two compared)\n");
        byOthers.show(false);
    }
}

void diagnoseRule(const Options& options)
{
    std::mt19937_64 random(options.seed);
    long alarms = 0, lines = 0;
    double sumScore = 0;
    std::vector<double> zs;
    for (int i = 0; i < options.count; ++i) {
        const Shape shape = wandergen::randomShape(random, options.wander);
        const auto history = wandergen::history(shape, 8, 4, random);
        const StepReport report = findSteps(wandergen::linesOf(history));
        for (std::size_t l = 0; l < kLineCount; ++l) {
            ++lines;
            alarms += report.lines[l].newest.alarm ? 1 : 0;
            sumScore += report.lines[l].newest.score;
            zs.push_back(report.lines[l].newest.newestScore);
            if (report.lines[l].newest.alarm)
                std::printf("alarm: history %d line %zu score %.2f ratio %.3f from %zu; scale est %.2f%% true %.2f%% df %.1f; share %.2f/%.2f\n",
                            i, l, report.lines[l].newest.score, report.lines[l].newest.ratio,
                            report.lines[l].newest.from, 100 * report.model.scale[l], 100 * shape.scale[l],
                            report.model.scaleDf[l], report.model.share, shape.share);
        }
    }
    std::printf("line alarms %ld of %ld, mean score %.3f\n", alarms, lines, sumScore / static_cast<double>(lines));
    double sum = 0, squares = 0;
    double above2 = 0, above3 = 0;
    for (const double z : zs) {
        sum += z;
        squares += z * z;
        above2 += z > 2 ? 1 : 0;
        above3 += z > 3 ? 1 : 0;
    }
    const double n = static_cast<double>(zs.size());
    std::printf("newest z: mean %.3f sd %.3f, above 2: %.2f%% (normal 2.28%%), above 3: %.2f%% (0.13%%)\n", sum / n,
                std::sqrt(squares / n - sum * sum / n / n), 100 * above2 / n, 100 * above3 / n);
}

void diagnose(const Options& options)
{
    std::mt19937_64 random(options.seed);
    double logRatio[kLineCount] = {}, shareError = 0;
    const int n = options.count;
    for (int i = 0; i < n; ++i) {
        const Shape shape = wandergen::randomShape(random, options.wander);
        std::array<bool, kLineCount> stepped{};
        stepped[random() % kLineCount] = true;
        const auto history = wandergen::history(shape, 10, 4, random, [&](std::size_t s, std::size_t l) {
            return s >= 5 && stepped[l] ? 1.15 : 1.0;
        });
        const StepReport report = findSteps(wandergen::linesOf(history));
        for (std::size_t l = 0; l < kLineCount; ++l)
            logRatio[l] += 0.5 * std::log(sessionVariance(report.model, l, 4) /
                                          (shape.scale[l] * shape.scale[l] + shape.spread[l] * shape.spread[l] / 4)) / n;
        shareError += (report.model.share - shape.share) / n;
        for (std::size_t l = 0; l < kLineCount; ++l)
                if (stepped[l] && (report.lines[l].changes.size() != 1 || report.lines[l].changes[0].session != 5)) {
                    std::printf("line %zu true scale %.2f%% est %.2f%% (df %.1f) share %.2f est %.2f spread %.1f%%: changes",
                                l, 100 * shape.scale[l], 100 * report.model.scale[l], report.model.scaleDf[l],
                                shape.share, report.model.share, 100 * shape.spread[l]);
                    for (const LineChange& c : report.lines[l].changes)
                        std::printf(" %zu(%.3f %s)", c.session, c.ratio, c.byCommonPart ? "common" : "raw");
                    std::printf("\n");
                }
    }
    for (std::size_t l = 0; l < kLineCount; ++l)
        std::printf("line %zu: mean log(estimated/true session sd) %.3f\n", l, logRatio[l]);
    for (const std::size_t k : {3u, 4u, 6u, 8u, 10u, 20u})
        std::printf("E[max Z^2] over %zu sessions: %.3f\n", k, bestSplitSquares(k));
    std::printf("share: mean error %.3f\n", shareError);
}

Session slice(const std::vector<wandergen::Times>& runs, std::size_t from, std::size_t count)
{
    return {runs.begin() + static_cast<std::ptrdiff_t>(from), runs.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

// The committed idle runs (30, in time order, ~34 s apart): interleaved
// A/B as windows of consecutive runs taken A B B A ..., and sittings as
// blocks of consecutive runs further apart, with the default wander.
void idle(const Options& options)
{
    const std::vector<wandergen::Times>& runs = wandergen::idleRuns();
    std::printf("Real runs of one idle machine (tests/data/idle-runs, Intel Xeon, 30 runs in time order)\n");
    for (const std::size_t per : {std::size_t{4}, std::size_t{5}}) {
        PairRates rates;
        // Every window of 2 * per consecutive runs (overlapping: only
        // 30 / (2 * per) of them are independent).
        for (std::size_t start = 0; start + 2 * per <= runs.size(); ++start) {
            Session a, b;
            for (std::size_t r = 0; r < 2 * per; ++r)
                (r % 4 == 1 || r % 4 == 2 ? b : a).push_back(runs[start + r]);
            const WanderModel none = fitWander({wandergen::linesOf(a)});
            rates.judge(a, none, b, none, Pairing::interleaved, options.before);
        }
        std::printf(" interleaved A/B, %zu runs each (every window of %zu consecutive runs; %zu independent):\n", per,
                    2 * per, runs.size() / (2 * per));
        rates.show(options.before);
    }
    for (const std::size_t per : {std::size_t{4}, std::size_t{5}}) {
        PairRates rates;
        // Blocks of `per` consecutive runs at least one block apart.
        for (std::size_t i = 0; i + per <= runs.size(); ++i)
            for (std::size_t j = i + 2 * per; j + per <= runs.size(); ++j) {
                const Session a = slice(runs, i, per), b = slice(runs, j, per);
                rates.judge(a, fitWander({wandergen::linesOf(a)}), b, fitWander({wandergen::linesOf(b)}),
                            Pairing::sittings, options.before);
            }
        std::printf(" blocks of %zu runs, one block or more apart, default wander (pairs overlap; %zu disjoint "
                    "blocks):\n",
                    per, runs.size() / per);
        rates.show(options.before);
    }
}

// One history made of the folders' sessions in the order given (a machine's
// normal sessions, then those of another GMP, say): the changes, excursions,
// undecided places and status, before and after.
void realHistory(const std::vector<std::string>& folders)
{
    std::vector<Session> sessions;
    std::vector<std::string> names;
    for (const std::string& folder : folders)
        for (const auto& s : wandergen::readSessions(folder)) {
            sessions.push_back(s.runs);
            names.push_back(folder + "/" + s.name);
        }
    std::printf("History of %zu sessions:\n", sessions.size());
    for (std::size_t s = 0; s < sessions.size(); ++s)
        std::printf("  %zu: %s (%zu runs)\n", s, names[s].c_str(), sessions[s].size());
    if (sessions.size() < 2)
        return;
    const StepReport report = findSteps(wandergen::linesOf(sessions));
    std::printf(" after: wander from %s\n", report.model.source == WanderSource::sessions ? "its sessions" : "the default");
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const LineSteps& line = report.lines[l];
        for (const LineChange& c : line.changes)
            std::printf("  change: %s from session %zu: %s %.3fx (%.3f..%.3f)%s\n", kRowNames[l], c.session,
                        c.direction == Direction::slower ? "slower" : "faster", c.ratio, c.low, c.high,
                        c.byCommonPart ? ", less the machine-wide part" : "");
        for (const LineExcursion& e : line.excursions)
            std::printf("  excursion: %s at session %zu: %.3fx\n", kRowNames[l], e.session, e.ratio);
        for (const LineUndecided& u : line.undecided)
            std::printf("  undecided: %s at session %zu: %.3fx, a change below a wander of %.2f%%\n", kRowNames[l],
                        u.session, u.ratio, 100 * u.scaleNeeded);
        if (line.newest.alarm)
            std::printf("  newest sessions slower: %s, %.3fx the settled level (score %.2f)\n", kRowNames[l],
                        line.newest.ratio, line.newest.score);
    }
    std::printf("  status %d\n", report.newestSlower ? 3 : 0);
    if (gReference.empty())
        return;
    const Outcome old = oldOutcome(sessions);
    std::printf(" before (1.2.0):\n");
    for (std::size_t l = 0; l < kLineCount; ++l) {
        for (const std::size_t c : old.changes[l])
            std::printf("  change: %s from session %zu\n", kRowNames[l], c);
        if (old.undecided[l])
            std::printf("  undecided: %s\n", kRowNames[l]);
    }
    std::printf("  status %d\n", old.status3 ? 3 : 0);
}

// Two folders' newest sessions compared as cpubench-compare would (the
// first the baseline), each with its own wander where it has 4 sessions or
// more, else the default; every row printed. `at` picks another session of
// the first folder than its newest (its index), to pair sittings made
// close together.
void pair(const std::vector<std::string>& folders, long at)
{
    if (folders.size() != 2)
        return;
    const auto a = wandergen::readSessions(folders[0]), b = wandergen::readSessions(folders[1]);
    if (a.empty() || b.empty())
        return;
    const std::size_t ia = at >= 0 && static_cast<std::size_t>(at) < a.size() ? static_cast<std::size_t>(at) : a.size() - 1;
    const auto modelOf = [](const std::vector<wandergen::RealSession>& sessions) {
        return fitWander(realLines(sessions));
    };
    const WanderModel ma = modelOf(a), mb = modelOf(b);
    std::printf("%s/%s (wander: %s) against %s/%s (wander: %s)\n", folders[0].c_str(), a[ia].name.c_str(),
                ma.source == WanderSource::sessions ? "own sessions" : "default", folders[1].c_str(),
                b.back().name.c_str(), mb.source == WanderSource::sessions ? "own sessions" : "default");
    for (const Pairing pairing : {Pairing::sittings, Pairing::interleaved}) {
        const SittingComparison c = compareSittings(sideOfRuns(wandergen::logsOf(a[ia].runs), ma),
                                                    sideOfRuns(wandergen::logsOf(b.back().runs), mb), pairing);
        std::printf(" as %s:\n", pairing == Pairing::sittings ? "sittings (after)" : "if interleaved (exact, no wander)");
        for (std::size_t row = 0; row < kSittingRows; ++row) {
            const RowResult& r = c.rows[row];
            std::printf("  %-20s %.3fx  %s..%s  %-9s  level %.4f  wander share %.2f\n", kRowNames[row], r.ratio,
                        r.low ? std::to_string(*r.low).substr(0, 5).c_str() : "-",
                        r.high ? std::to_string(*r.high).substr(0, 5).c_str() : "-", verdictName(r.verdict), r.level,
                        r.wanderShare);
        }
    }
    if (gReference.empty())
        return;
    const auto old = oldVerdicts(a[ia].runs, b.back().runs);
    std::printf(" before (1.2.0):");
    for (std::size_t row = 0; row < kSittingRows; ++row)
        std::printf(" %s", verdictName(old[row]));
    std::printf("\n");
}

// Time per history of findSteps (after the critical values are cached).
void timing(const Options& options)
{
    std::mt19937_64 random(options.seed);
    std::vector<std::vector<SessionLines>> histories;
    for (int i = 0; i < options.count; ++i)
        histories.push_back(wandergen::linesOf(wandergen::history(wandergen::randomShape(random, 0.03), 10, 4, random)));
    findSteps(histories[0]);
    const auto start = std::chrono::steady_clock::now();
    bool any = false;
    double rounds = 0;
    for (const auto& h : histories) {
        const StepReport report = findSteps(h);
        any = report.newestSlower || any;
        rounds += static_cast<double>(report.rounds) / options.count;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("findSteps on %d histories of 10 sessions: %.3f ms each (%s), %.2f rounds of the model on average\n",
                options.count, 1000 * seconds / options.count, any ? "some status 3" : "none status 3", rounds);
    std::printf("largest-step critical z, 10 sessions, 1%%: %.3f; Bonferroni over 9 boundaries: %.3f\n",
                largestStepCritical(10, 0.01, 1e9), -normalQuantile(0.005 / 9));
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::vector<std::string> sections, folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--count" && i + 1 < argc)
            options.count = std::atoi(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--wander" && i + 1 < argc)
            options.wander = std::atof(argv[++i]) / 100;
        else if (arg == "--at" && i + 1 < argc)
            options.at = std::atol(argv[++i]);
        else if (arg == "--oracle")
            gOracle = true;
        else if (arg == "--program" && i + 1 < argc)
            gProgram = std::filesystem::absolute(argv[++i]).string();
        else if (arg == "--before" && i + 1 < argc) {
            gReference = std::filesystem::absolute(argv[++i]).string();
            options.before = true;
        }
        else if (arg == "--help") {
            std::printf("wander_benchmark [--count N] [--seed S] [--wander PERCENT] [--before PROGRAM] "
                        "[--program PROGRAM] comparisons|interleaved|histories|calibrate|all|default FOLDER...|real FOLDER...\n");
            return 0;
        } else if (arg.find('/') != std::string::npos)
            folders.push_back(arg);
        else
            sections.push_back(arg);
    }
    if (options.before || !gProgram.empty()) {
        char scratch[] = "/tmp/wander-benchmark-XXXXXX";
        if (mkdtemp(scratch) == nullptr)
            return 2;
        gScratch = scratch;
    }
    for (const std::string& section : sections) {
        if (section == "comparisons" || section == "all")
            comparisons(options);
        if (section == "interleaved" || section == "all")
            interleavedAB(options);
        if (section == "histories" || section == "all")
            histories(options);
        if (section == "cost") {
            // How many sessions a 10% step needs: longer histories, the step in the middle.
            historyCase(options, "14 sessions, 10% step at session 8 on two lines", 14, 7, 1.10, 2, false);
            historyCase(options, "20 sessions, 10% step at session 11 on two lines", 20, 10, 1.10, 2, false);
        }
        if (section == "nostep")
            historyCase(options, "no step, 8 sessions", 8, SIZE_MAX, 1, 0, true);
        if (section == "pair")
            pair(folders, options.at);
        if (section == "history")
            realHistory(folders);
        if (section == "timing")
            timing(options);
        if (section == "idle")
            idle(options);
        if (section == "rule")
            diagnoseRule(options);
        if (section == "diagnose")
            diagnose(options);
        if (section == "calibrate")
            calibrate(options);
        if (section == "default")
            measureDefault(folders);
        if (section == "real")
            real(options, folders);
    }
    if (!gScratch.empty())
        std::filesystem::remove_all(gScratch);
    return 0;
}
