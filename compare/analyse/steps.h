// A machine's history: where each line's speed changed, which sessions
// were off once and came back, whether the newest sessions are slower than
// the level the line had settled at, and what the sessions cannot tell yet.
//
// Sessions are the unit, and every test uses the machine's wander model
// (wander.h), so that its degrees of freedom and its machine-wide part come
// from all lines and all sessions:
//   1. Each line's best split is placed first, the model fitted around it
//      (counting what choosing the split took), so that a step does not
//      inflate the wander the first test is made against.
//   2. Each line is segmented from the top: a stretch of sessions splits at
//      its best boundary when the largest standardised difference over all
//      its boundaries passes the critical value of that largest difference
//      (the boundaries' tests are strongly correlated, and the critical
//      value is that of their maximum, not of each by itself). Two series
//      are tested, each at half the level: the line's session means, and
//      the same less the machine-wide part its other lines show (which
//      finds a step of a few lines far sooner; the first finds a step of
//      the whole machine). Each line is tested at 0.85 of 1 - level, 70% of
//      it on the second series; as the tests are conservative, that keeps a
//      machine of nine lines without a change at status 3 in 3% to 4% of
//      histories (measured; see steps.cpp).
//   3. The model is fitted again around the levels found, and 2 repeated
//      until the levels settle.
//   4. A session that differs from the rest of its level, or a level of one
//      session between changes of opposite directions, is an excursion: left
//      out, and the levels found again.
//   5. The newest sessions are held against the settled level by a
//      one-sided sequential rule (see NewestRule).
#pragma once

#include "wander.h"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace cpubench {

struct StepSettings {
    double level = 0.95;     // status 3 without a change in at most 1 - level of histories (measured)
    double threshold = 0.02; // the smallest change that counts
    // A model known from elsewhere, used as it is instead of one fitted to
    // these sessions (what the tests could do if the wander were known).
    std::optional<WanderModel> known;
};

// The one-sided sequential rule on the newest sessions: each of the newest
// kWindow sessions is scored against the settled level of its line (the
// sessions of the newest level before the window) as a normal score z (its
// t statistic, slower positive, with the line's machine-wide part taken
// out); the score S = max(0, S + z - kReference) is carried over the
// window from 0, and the newest sessions are called slower when, at the
// newest session, S > kLimit, the newest session's own z > kReference, and
// the newest session is slower than the level by more than the threshold.
// With these constants a series without a change alarms in 0.011% of
// histories (normal scores, 2,000,000 draws: wander_bench calibrate); on
// generated histories the rule alone ends 1% of stepless histories with
// status 3. One session alone alarms from z > 3.95; two from a sum above
// 5.45.
struct NewestRule {
    static constexpr std::size_t kWindow = 3;
    static constexpr double kReference = 1.5;
    static constexpr double kLimit = 2.45;
};

enum class Direction { slower, faster };

struct LineChange {
    std::size_t session = 0; // where the new level starts
    double before = 0, after = 0; // the levels (mean log-times) on both sides
    double ratio = 1, low = 1, high = 1; // after / before, with the interval its verdict rests on
    Direction direction = Direction::slower;
    bool byCommonPart = false; // found in the line less the machine-wide part
};

struct LineExcursion {
    std::size_t session = 0;
    double ratio = 1; // against the level around it
    Direction direction = Direction::slower;
};

// A place the sessions cannot tell yet: a change if the machine wandered as
// little as the low end of what its sessions allow, no change at the wander
// estimated.
struct LineUndecided {
    std::size_t session = 0;
    double ratio = 1;
    double scaleNeeded = 0; // the wander (standard deviation, log) below which it would be a change
};

struct NewestSlower {
    bool alarm = false;
    std::size_t from = 0; // the first session of the slow run that the rule summed
    double score = 0;     // S at the newest session
    double newestScore = 0; // z of the newest session
    double ratio = 1;     // the newest session against the settled level
};

struct LineSteps {
    std::vector<std::size_t> starts; // where each level but the first starts
    std::vector<LineChange> changes;
    std::vector<LineExcursion> excursions;
    std::vector<LineUndecided> undecided;
    NewestSlower newest;
};

struct StepReport {
    WanderModel model; // the one the tests used
    std::array<LineSteps, kLineCount> lines;
    std::size_t rounds = 0; // fits of the model until the levels settled
    // Status 3: some line's newest level is slower than the one before it,
    // or the sequential rule calls its newest sessions slower.
    bool newestSlower = false;
};

StepReport findSteps(const std::vector<SessionLines>& sessions, const StepSettings& settings = {},
                     const WanderModel& fallback = measuredDefaultWander());

// The critical value of the largest |t| over the n - 1 boundaries of n
// sessions of equal weight (two-sided, at alpha), for t statistics with
// `df` degrees of freedom. Cached.
double largestStepCritical(std::size_t sessions, double alpha, double df);
// E[max Z_b^2] over the boundaries of n sessions without a step: what a
// split placed at the best boundary takes from the residuals' sum of
// squares, in variances. Cached.
double bestSplitSquares(std::size_t sessions);

} // namespace cpubench
