// Sessions made the way real ones behave, for the wander model's tests and
// measurements: each line its own wander scale (a third to five thirds of
// the typical wander, the copy line widest), a machine-wide share of each
// session's offset, 1% to 3% spread inside a session, times built on a real
// run's. And the real runs and sessions, read from their folders.
#pragma once

#include "wander.h"

#include <array>
#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace wandergen {

using cpubench::kLineCount;
using Times = std::array<double, kLineCount>; // one run's seconds per line (NaN: none)
using Session = std::vector<Times>;

// A machine: its lines' base times, wander scales, share and spreads.
struct Shape {
    Times base{};
    std::array<double, kLineCount> scale{};
    double share = 0;
    std::array<double, kLineCount> spread{};
};

// A random machine of typical wander `typical` (the geometric mean of its
// lines' scales is about it), its share drawn from 0.4 to 0.8, on the times
// of one of the committed real runs.
Shape randomShape(std::mt19937_64& random, double typical);

// The factor a step puts on session s, line l (1: none).
using Step = std::function<double(std::size_t session, std::size_t line)>;

// `sessions` sessions of `runs` runs each (times rounded to the millisecond,
// as cpubench prints them).
std::vector<Session> history(const Shape& shape, std::size_t sessions, std::size_t runs, std::mt19937_64& random,
                             const Step& step = {});
// Two sessions of one machine in one sitting, their runs taken in turn
// (A B B A ...): the same offset, each run its own spread; `step` with
// session 1 is the second build's factor.
std::pair<Session, Session> interleaved(const Shape& shape, std::size_t runs, std::mt19937_64& random,
                                        const Step& step = {});

// A session's figures for the model (log-times: count, mean, spread).
cpubench::SessionLines linesOf(const Session& session);
std::vector<cpubench::SessionLines> linesOf(const std::vector<Session>& sessions);
// Per run, the log-times.
std::vector<std::array<double, kLineCount>> logsOf(const Session& session);

// A transcript of a correct run with these times, for the 1.2.0 statistics.
std::string transcript(const Times& seconds);

// The thirty committed runs of one idle machine, in time order.
const std::vector<Times>& idleRuns();

// The sessions of a machine's folder (a session folder per sitting), in
// time order, each with its good runs; lines the recorder saw disturbed
// are NaN. Empty when the folder has none.
struct RealSession {
    std::string name;
    Session runs;
};
std::vector<RealSession> readSessions(const std::string& folder);

} // namespace wandergen
