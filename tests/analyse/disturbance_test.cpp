// The disturbance judgement: the lost share of each kind of line, the
// patterns of real sessions (a team's steal after a run, a team slowed by
// its own threads, a line slowed by another process), the history, hostile
// figures, and its rates on the committed quiet sessions of a real machine.
#include "disturbance.h"
#include "session_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace cpubench::analyse;

constexpr int kCpus = 2;

// A run of a line: its time, and the figures of a window as long.
LineRun run(double time, double others = 0, double steal = 0, std::optional<double> runDelay = std::nullopt)
{
    return {time, Figures{time, others, steal, runDelay, std::nullopt}};
}

// A team line of four threads on two processors: its threads wait for
// about twice its time by design.
LineRun team(double time, double others = 0, double steal = 0)
{
    return run(time, others, steal, 1.9 * time);
}

SessionInput session(std::vector<LineRun> runs, int threads = 4)
{
    return {kCpus, {{threads, std::move(runs)}}};
}

// Quiet team sessions in which each run's steal and time wander a little.
std::vector<SessionInput> quietTeamHistory(int sessions, double steal = 0.005)
{
    std::vector<SessionInput> history;
    for (int s = 0; s < sessions; ++s) {
        std::vector<LineRun> runs;
        for (int r = 0; r < 4; ++r)
            runs.push_back(team(1.38 + 0.012 * ((s + r) % 3) - 0.01 * (r % 2), 0.01 * (r % 2), steal * (r + s % 2)));
        history.push_back(session(runs));
    }
    return history;
}

TEST(Disturbance, LostShareOfEachKindOfLine)
{
    // A team as large as the machine loses all that others took.
    const auto whole = lostShare({2.0, 0.3, 0.1, 4.0, std::nullopt}, 4, 2);
    ASSERT_TRUE(whole);
    EXPECT_NEAR(whole->others, 0.3 / 4, 1e-12);
    EXPECT_NEAR(whole->steal, 0.1 / 4, 1e-12);
    // A lone thread on two processors: others run on the idle one unharmed
    // (0.9 of 1.0 s), but its own wait counts; the steal falls on the busy
    // processors in proportion to their busy time.
    const auto lone = lostShare({1.0, 0.9, 0.2, 0.05, std::nullopt}, 1, 2);
    ASSERT_TRUE(lone);
    EXPECT_NEAR(lone->others, 0.05, 1e-12);
    EXPECT_NEAR(lone->steal, 0.2 * 1.0 / 1.9, 1e-12);
    const auto crowded = lostShare({1.0, 1.4, 0, std::nullopt, std::nullopt}, 1, 2);
    EXPECT_NEAR(crowded->others, 0.4, 1e-12);
    // Never all of the time, and nothing without figures or processors.
    EXPECT_NEAR(lostShare({1.0, 5, 5, std::nullopt, std::nullopt}, 4, 2)->total(), 0.99, 1e-12);
    EXPECT_FALSE(lostShare({1.0, std::nullopt, std::nullopt, std::nullopt, 3}, 4, 2));
    EXPECT_FALSE(lostShare({1.0, 0.1, 0.1, 0.1, std::nullopt}, 4, 0));
    EXPECT_FALSE(lostShare({0, 0.1, 0.1, 0.1, std::nullopt}, 4, 2));
}

TEST(Disturbance, TeamStealAfterEveryRunIsTheLinesNature)
{
    // Run 1 has almost no steal and takes 1.35 s; runs 2 to 4 lose 6-9% to
    // steal and take 1.45 to 1.53 s, session after session: that is how the
    // line runs on this machine, not a disturbance.
    const std::vector<LineRun> runs = {team(1.35, 0, 0.01), team(1.45, 0, 0.18), team(1.53, 0, 0.27),
                                       team(1.48, 0, 0.21)};
    const SessionJudgement first = judgeSession(session(runs));
    std::vector<SessionInput> history(3, session(runs));
    const SessionJudgement later = judgeSession(session(runs), history);
    for (const SessionJudgement* judged : {&first, &later}) {
        const LineJudgement& line = judged->lines[0];
        EXPECT_EQ(line.named, 0u);
        EXPECT_EQ(line.weakness, Weakness::none);
    }
    EXPECT_EQ(first.lines[0].basis, Basis::session);
    EXPECT_EQ(later.lines[0].basis, Basis::withHistory);
    EXPECT_EQ(later.lines[0].historySessions, 3u);
    EXPECT_GT(later.lines[0].usualShare, 0.05);
}

TEST(Disturbance, TeamSlowedByItsOwnThreadsIsIrregular)
{
    // Run 1's team took 2.622 s against 1.46 s, with no steal and no one
    // else running, and its threads waited 5.15 s against 2.6 to 2.8 s.
    std::vector<LineRun> runs = {run(2.622, 0.01, 0.01, 5.15), run(1.46, 0, 0.01, 2.7), run(1.45, 0.01, 0, 2.6),
                                 run(1.47, 0, 0.01, 2.8)};
    const LineJudgement line = judgeSession(session(runs)).lines[0];
    const RunJudgement& slow = line.runs[0];
    EXPECT_EQ(slow.finding, Finding::irregular);
    EXPECT_EQ(slow.irregularity, Irregularity::runDelay);
    EXPECT_EQ(slow.cause, Cause::none);
    EXPECT_FALSE(slow.leftOut) << "the line's own run stays in, named";
    EXPECT_NEAR(*slow.timeFactor, 2.622 / 1.46, 1e-9);
    EXPECT_NEAR(*slow.runDelay, 5.15, 1e-12);
    EXPECT_NEAR(*slow.usualRunDelay, 2.7, 1e-9);
    for (std::size_t r = 1; r < 4; ++r)
        EXPECT_EQ(line.runs[r].finding, Finding::none) << r;
    EXPECT_EQ(line.leftOut, 0u);
    EXPECT_EQ(line.named, 1u);

    // A fast run far off is irregular too (by its time); a lone thread's
    // slow time with no figures at all as well.
    runs[0] = run(0.9, 0, 0, 1.7);
    EXPECT_EQ(judgeSession(session(runs)).lines[0].runs[0].finding, Finding::irregular);
    std::vector<LineRun> bare = {{1.3, std::nullopt}, {1.0, std::nullopt}, {1.01, std::nullopt}, {0.99, std::nullopt}};
    const RunJudgement lone = judgeSession(session(bare, 1)).lines[0].runs[0];
    EXPECT_EQ(lone.finding, Finding::irregular);
    EXPECT_EQ(lone.irregularity, Irregularity::time);
    EXPECT_FALSE(lone.share);
}

TEST(Disturbance, ALineOthersSlowedIsDisturbedWhenItsTimeMoved)
{
    // Another process took 1.58 s of the team's 2.26 s on two processors
    // (35%), and the line took 1.64 times the others: disturbed by others'
    // CPU, left out. Steal beyond the line's usual is named as steal.
    std::vector<LineRun> runs = {team(2.258, 1.58, 0.09), team(1.377), team(1.396, 0.02), team(1.352)};
    LineJudgement line = judgeSession(session(runs)).lines[0];
    EXPECT_EQ(line.runs[0].finding, Finding::disturbed);
    EXPECT_EQ(line.runs[0].cause, Cause::othersCpu);
    EXPECT_TRUE(line.runs[0].leftOut);
    EXPECT_NEAR(*line.runs[0].share, (1.58 + 0.09) / (2 * 2.258), 1e-9);
    EXPECT_GT(line.runs[0].shareSpreads, 10);
    EXPECT_EQ(line.runs[0].asLarge, 0u);
    EXPECT_EQ(line.runs[0].shareRuns, 3u);
    EXPECT_GT(line.runs[0].predicted, 1.3);
    EXPECT_EQ(line.named, 1u);

    runs[0] = team(1.55, 0, 0.25);
    line = judgeSession(session(runs), quietTeamHistory(4)).lines[0];
    EXPECT_EQ(line.runs[0].finding, Finding::disturbed);
    EXPECT_EQ(line.runs[0].cause, Cause::steal);

    // The same share with the time where the other runs are: the line
    // was not harmed, and nothing is named.
    runs[0] = team(1.37, 0.5, 0.05);
    line = judgeSession(session(runs)).lines[0];
    EXPECT_EQ(line.named, 0u);

    // A small unusual share (1.5%) predicts less than the line's spread:
    // kept even though unusual for the line.
    runs[0] = team(1.40, 0.04, 0.0);
    line = judgeSession(session(runs), quietTeamHistory(4)).lines[0];
    EXPECT_EQ(line.named, 0u);
}

TEST(Disturbance, MostRunsNamedAreKeptAndTheLineIsWeaker)
{
    // Busy loops through a whole session of one run, and through three of
    // four: named, kept, and the line is disturbed in the session.
    const std::vector<SessionInput> history = quietTeamHistory(6);
    const LineJudgement one = judgeSession(session({team(2.1, 1.4, 0.02)}), history).lines[0];
    EXPECT_EQ(one.runs[0].finding, Finding::disturbed);
    EXPECT_FALSE(one.runs[0].leftOut);
    EXPECT_EQ(one.weakness, Weakness::mostRunsDisturbed);
    EXPECT_EQ(one.cause, Cause::othersCpu);
    EXPECT_EQ(one.leftOut, 0u);

    // A session of one run has no other run to set its time against: the
    // line's level in the earlier sessions stands in. An unusual steal with
    // the time at that level harmed nothing.
    EXPECT_TRUE(one.runs[0].againstHistory);
    EXPECT_NEAR(*one.runs[0].timeFactor, 2.1 / *one.historyLevel, 1e-9);
    EXPECT_EQ(judgeSession(session({team(1.385, 0, 0.12)}), history).lines[0].named, 0u);
    // Without enough history the figures decide alone.
    EXPECT_EQ(judgeSession(session({team(1.385, 0, 0.12)}), {history[0], history[1]}).lines[0].named, 1u);

    const LineJudgement three =
        judgeSession(session({team(2.1, 1.4), team(2.3, 1.6), team(1.39), team(2.2, 1.5)}), history).lines[0];
    EXPECT_EQ(three.named, 3u);
    EXPECT_EQ(three.leftOut, 0u);
    EXPECT_EQ(three.weakness, Weakness::mostRunsDisturbed);

    // A machine's first session, busy throughout: its own figures are not
    // the line's usual ones, and every run is named.
    const LineJudgement busy =
        judgeSession(session({team(2.1, 1.4), team(2.3, 1.6), team(2.2, 1.5)})).lines[0];
    EXPECT_EQ(busy.disturbed, 3u);
    EXPECT_EQ(busy.cause, Cause::othersCpu);
    EXPECT_EQ(busy.weakness, Weakness::mostRunsDisturbed);

    // Half of the runs is not most of them: those two are left out.
    const LineJudgement two =
        judgeSession(session({team(2.1, 1.4), team(1.38), team(1.39), team(2.2, 1.5)}), history).lines[0];
    EXPECT_EQ(two.leftOut, 2u);
    EXPECT_EQ(two.weakness, Weakness::none);
}

TEST(Disturbance, HistoryOfTheSameMachineOnly)
{
    // The usual share comes from the earlier sessions: a steal that this
    // machine's team line always carries is not unusual, one that it never
    // carries is.
    const std::vector<LineRun> runs = {team(1.38, 0, 0.002), team(1.50, 0, 0.2), team(1.39, 0, 0.003),
                                       team(1.37, 0, 0.002)};
    std::vector<SessionInput> steady;
    for (int s = 0; s < 5; ++s)
        steady.push_back(session({team(1.50, 0, 0.2), team(1.49, 0, 0.19), team(1.51, 0, 0.21),
                                  team(1.38 + 0.01 * s, 0, 0.002)}));
    EXPECT_EQ(judgeSession(session(runs), quietTeamHistory(5)).lines[0].runs[1].finding, Finding::disturbed);
    EXPECT_EQ(judgeSession(session(runs), steady).lines[0].runs[1].finding, Finding::none);
    // Another machine (other processors, other lines) is no history.
    SessionInput other = steady[0];
    other.cpus = 4;
    SessionInput moreLines = steady[0];
    moreLines.lines.push_back(moreLines.lines[0]);
    const LineJudgement alone = judgeSession(session(runs), {other, moreLines}).lines[0];
    EXPECT_EQ(alone.basis, Basis::session);
    EXPECT_EQ(alone.historySessions, 0u);
}

TEST(Disturbance, ThrottlingBeyondTheLinesUsual)
{
    std::vector<LineRun> runs = {run(1.2), run(1.0), run(1.01), run(0.99)};
    for (LineRun& r : runs)
        r.figures->throttle = 0;
    runs[0].figures->throttle = 3;
    const RunJudgement throttled = judgeSession(session(runs, 1)).lines[0].runs[0];
    EXPECT_EQ(throttled.finding, Finding::disturbed);
    EXPECT_EQ(throttled.cause, Cause::throttling);
    EXPECT_EQ(throttled.throttle, 3);
    // A machine that throttles in every run: the events are its usual.
    for (LineRun& r : runs)
        r.figures->throttle = 3;
    runs[0].time = 1.02;
    EXPECT_EQ(judgeSession(session(runs, 1)).lines[0].named, 0u);
}

TEST(Disturbance, HostileFiguresNeitherCrashNorName)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    std::vector<LineRun> runs = {
        {nan, Figures{nan, nan, inf, -1.0, -5}},
        {-1.0, Figures{-2, 1e300, 1e300, 1e300, 1LL << 60}},
        {inf, std::nullopt},
        {1.0, Figures{1.0, -3.0, nan, inf, std::nullopt}},
        {std::nullopt, Figures{1.0, 0.1, 0.1, 0.1, std::nullopt}},
        {1.01, Figures{1e-300, 0.5, 0.5, 0.5, std::nullopt}},
    };
    for (int threads : {-3, 0, 1, 4, 1 << 30}) {
        SessionInput input = session(runs, threads);
        for (int cpus : {0, -1, 2, 1 << 20}) {
            input.cpus = cpus;
            const SessionJudgement judged = judgeSession(input, {input, SessionInput{cpus, {}}});
            ASSERT_EQ(judged.lines[0].runs.size(), runs.size());
            for (std::size_t r = 0; r < runs.size(); ++r) {
                const RunJudgement& j = judged.lines[0].runs[r];
                if (j.share) {
                    EXPECT_TRUE(std::isfinite(*j.share) && *j.share >= 0 && *j.share <= 0.99);
                }
                if (r != 3 && r != 5) {
                    EXPECT_EQ(j.finding, Finding::none) << r; // no usable time
                }
            }
        }
    }
    EXPECT_TRUE(judgeSession(SessionInput{}).lines.empty());
    EXPECT_TRUE(judgeSession(session({})).lines[0].runs.empty());
}

TEST(Disturbance, ManyRunsStayFast)
{
    // A session.json of the readers' largest size holds some thousands of
    // runs: judging them against a long history must not take quadratic
    // time in the runs (the test's timeout would stop it).
    std::vector<LineRun> runs;
    for (int r = 0; r < 5000; ++r)
        runs.push_back(team(1.38 + 0.001 * (r % 17), 0.01 * (r % 5), 0.01 * (r % 3)));
    const SessionJudgement judged = judgeSession(session(runs), std::vector<SessionInput>(20, session(runs)));
    EXPECT_EQ(judged.lines[0].named, 0u);
}

} // namespace

namespace {

using study::Session;

// The committed quiet sessions of one machine, judged as they came: each
// against the ones before it.
struct Judged {
    std::vector<Session> sessions;
    std::vector<SessionJudgement> judgements;
};

Judged judgedInTurn(const std::string& folder)
{
    Judged judged;
    judged.sessions = study::readFolder(std::string(CPUBENCH_TEST_DATA) + "/sessions/" + folder);
    std::vector<SessionInput> earlier;
    for (const Session& s : judged.sessions) {
        judged.judgements.push_back(judgeSession(s.input, earlier));
        earlier.push_back(s.input);
    }
    return judged;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size(), m = n / 2;
    return n % 2 == 1 ? values[m] : (values[m - 1] + values[m]) / 2;
}

TEST(DisturbanceOnRealSessions, QuietMachineNamesOnlyLinesThatMoved)
{
    const Judged judged = judgedInTurn("amd-epyc");
    ASSERT_GE(judged.sessions.size(), 3u);
    // Each line's spread within a session, over all the sessions at once.
    std::vector<SessionInput> rest;
    for (std::size_t s = 1; s < judged.sessions.size(); ++s)
        rest.push_back(judged.sessions[s].input);
    const SessionJudgement all = judgeSession(judged.sessions[0].input, rest);

    std::size_t lines = 0, namedWithin = 0, slow = 0, slowNamed = 0;
    for (std::size_t s = 0; s < judged.sessions.size(); ++s) {
        const Session& session = judged.sessions[s];
        for (std::size_t line = 0; line < session.input.lines.size(); ++line) {
            const auto& runs = session.input.lines[line].runs;
            for (std::size_t r = 0; r < runs.size(); ++r) {
                if (!runs[r].time || !runs[r].figures)
                    continue;
                ++lines;
                std::vector<double> others, every;
                for (std::size_t o = 0; o < runs.size(); ++o)
                    if (runs[o].time) {
                        every.push_back(*runs[o].time);
                        if (o != r)
                            others.push_back(*runs[o].time);
                    }
                const bool named = judged.judgements[s].lines[line].runs[r].finding != Finding::none;
                const bool within =
                    std::abs(std::log(*runs[r].time / median(others))) <= 2 * all.lines[line].timeSpread;
                namedWithin += named && within ? 1 : 0;
                if (*runs[r].time > 1.15 * median(every)) {
                    ++slow;
                    slowNamed += named ? 1 : 0;
                }
            }
        }
    }
    // At most one line in a hundred named whose time kept within its
    // line's spread; every line more than 15% slower than its session's
    // median named.
    EXPECT_LE(100 * namedWithin, lines) << namedWithin << " of " << lines;
    EXPECT_EQ(slowNamed, slow);

    // The first session's run 1 ran beside a package build: its team
    // lines lost a third of their time to others' CPU.
    const LineJudgement& fourKern = judged.judgements[0].lines[4];
    EXPECT_EQ(fourKern.runs[0].finding, Finding::disturbed);
    EXPECT_EQ(fourKern.runs[0].cause, Cause::othersCpu);
    EXPECT_EQ(fourKern.basis, Basis::session);
    EXPECT_EQ(judged.judgements[0].lines[5].runs[0].cause, Cause::othersCpu);
}

} // namespace
