#include "wander.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

// A residual further out than this many of its line's robust spreads is
// clipped to it (a busy session moves the fit little).
constexpr double kClip = 3.5;
// In the common part, each other line's residual counts at most this many
// of its own standard deviations.
constexpr double kCommonClip = 2.5;
// Huber's constant for the robust estimate of the common part.
constexpr double kHuber = 1.5;
// The fewest the wander is taken to be (0.3%): below it, the millisecond of
// the clock and the rounding of the runs' means are as large.
constexpr double kFloorScale = 0.003;
// How many degrees of freedom the machine's typical scale counts for in a
// line's scale: a line with few sessions is drawn towards it.
constexpr double kPoolDf = 2.0;
constexpr double kMostShare = 0.95;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double digamma(double x)
{
    double shift = 0;
    for (; x < 6; x += 1)
        shift -= 1 / x;
    const double f = 1 / (x * x);
    return shift + std::log(x) - 0.5 / x -
           f * (1.0 / 12 - f * (1.0 / 120 - f * (1.0 / 252 - f * (1.0 / 240 - f / 132))));
}

// E[log(s^2 / sigma^2)] for a variance from `df` degrees of freedom.
double logBias(double df)
{
    return digamma(df / 2) - std::log(df / 2);
}

bool usable(const std::vector<SessionLines>& sessions, const Segments& segments, std::size_t s, std::size_t l)
{
    if (sessions[s][l].runs == 0 || !std::isfinite(sessions[s][l].mean))
        return false;
    return segments.leftOut.size() != sessions.size() || !segments.leftOut[s][l];
}

// The segment of session s on a line: how many of the line's starts lie at or before it.
std::size_t segmentOf(const std::vector<std::size_t>& starts, std::size_t s)
{
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), s) - starts.begin());
}

struct LineFit {
    std::vector<double> residual; // per session (0 where not usable)
    std::vector<bool> used;
    // Per session left out of the fit but with a time: its residual around
    // the level its segment has without it (in `residual`).
    std::vector<bool> predicted;
    std::vector<double> segmentSize; // per session: sessions in its segment
    double variance = 0;             // of the residuals, per degree of freedom
    double df = 0;
    double withinPart = 0; // what the runs' spread adds to that variance
};

// The residuals of one line around its levels: each level the mean of its
// sessions, after those further out than kClip robust spreads were clipped.
LineFit fitLine(const std::vector<SessionLines>& sessions, const Segments& segments, std::size_t l,
                double spread, double floorScale)
{
    const std::size_t count = sessions.size();
    const std::vector<std::size_t>& starts = segments.starts[l];
    LineFit fit;
    fit.residual.assign(count, 0);
    fit.used.assign(count, false);
    fit.predicted.assign(count, false);
    fit.segmentSize.assign(count, 0);
    const std::size_t levels = starts.size() + 1;
    std::vector<std::vector<std::size_t>> members(levels);
    for (std::size_t s = 0; s < count; ++s)
        if (usable(sessions, segments, s, l)) {
            fit.used[s] = true;
            members[segmentOf(starts, s)].push_back(s);
        }
    // Around each level's median first, for a robust spread.
    std::vector<double> deviations;
    std::vector<double> centre(levels, 0);
    for (std::size_t k = 0; k < levels; ++k) {
        std::vector<double> means;
        for (const std::size_t s : members[k])
            means.push_back(sessions[s][l].mean);
        centre[k] = median(means);
        // Without the session that is the median itself (an odd count),
        // whose deviation is none by construction.
        bool skipped = members[k].size() % 2 == 0;
        if (members[k].size() >= 2)
            for (const std::size_t s : members[k]) {
                if (!skipped && sessions[s][l].mean == centre[k]) {
                    skipped = true;
                    continue;
                }
                deviations.push_back(std::abs(sessions[s][l].mean - centre[k]));
            }
    }
    const double robust = 1.4826 * median(deviations);
    const double limit = kClip * std::max(robust, floorScale);
    std::size_t n = 0, nonEmpty = 0;
    double squares = 0;
    std::vector<double> levelMean(levels, NAN);
    for (std::size_t k = 0; k < levels; ++k) {
        if (members[k].empty())
            continue;
        ++nonEmpty;
        double sum = 0;
        for (const std::size_t s : members[k])
            sum += centre[k] + std::clamp(sessions[s][l].mean - centre[k], -limit, limit);
        const double mean = sum / static_cast<double>(members[k].size());
        levelMean[k] = mean;
        for (const std::size_t s : members[k]) {
            const double r = std::clamp(sessions[s][l].mean - mean, -limit, limit);
            fit.residual[s] = r;
            fit.segmentSize[s] = static_cast<double>(members[k].size());
            squares += r * r;
            const double size = static_cast<double>(members[k].size());
            fit.withinPart += (1 - 1 / size) * spread * spread / static_cast<double>(sessions[s][l].runs);
            ++n;
        }
    }
    for (std::size_t s = 0; s < count; ++s) {
        const std::size_t k = segmentOf(starts, s);
        if (fit.used[s] || sessions[s][l].runs == 0 || !std::isfinite(sessions[s][l].mean) || members[k].empty())
            continue;
        fit.predicted[s] = true;
        fit.residual[s] = std::clamp(sessions[s][l].mean - levelMean[k], -limit, limit);
        fit.segmentSize[s] = static_cast<double>(members[k].size());
    }
    fit.df = std::max(0.0, static_cast<double>(n) - static_cast<double>(nonEmpty) - segments.chosenDf[l]);
    if (fit.df > 0) {
        fit.variance = squares / fit.df;
        fit.withinPart /= fit.df;
    }
    return fit;
}

// The pooled spread of the runs inside sessions on a line: each session's
// variance counted by its degrees of freedom, a session far wider than the
// others (one run of a busy moment) capped at six times their median.
void poolSpread(const std::vector<SessionLines>& sessions, const Segments& segments, std::size_t l, double& spread,
                double& df)
{
    std::vector<double> variances;
    for (std::size_t s = 0; s < sessions.size(); ++s)
        if (usable(sessions, segments, s, l) && sessions[s][l].runs >= 2 && std::isfinite(sessions[s][l].spread))
            variances.push_back(sessions[s][l].spread * sessions[s][l].spread);
    if (variances.empty())
        return;
    const double cap = 6 * median(variances);
    double sum = 0, count = 0;
    for (std::size_t s = 0; s < sessions.size(); ++s)
        if (usable(sessions, segments, s, l) && sessions[s][l].runs >= 2 && std::isfinite(sessions[s][l].spread)) {
            const double runs = static_cast<double>(sessions[s][l].runs);
            sum += (runs - 1) * std::min(sessions[s][l].spread * sessions[s][l].spread, cap);
            count += runs - 1;
        }
    spread = std::sqrt(sum / count);
    df = count;
}

// The mean correlation of the lines' residuals (each divided by its line's
// spread, clipped): the machine-wide share of the residuals, which the
// caller turns into the share of the wander.
double residualCorrelation(const std::array<LineFit, kLineCount>& fits, std::size_t count, double otherwise)
{
    double crossed = 0, squared = 0;
    for (std::size_t s = 0; s < count; ++s) {
        double sum = 0, squares = 0;
        std::size_t present = 0;
        for (std::size_t l = 0; l < kLineCount; ++l) {
            if (!fits[l].used[s] || !(fits[l].variance > 0) || fits[l].segmentSize[s] < 2)
                continue;
            const double u = std::clamp(fits[l].residual[s] / std::sqrt(fits[l].variance), -kClip, kClip);
            sum += u;
            squares += u * u;
            ++present;
        }
        if (present >= 2) {
            crossed += sum * sum - squares;
            squared += squares * static_cast<double>(present - 1);
        }
    }
    return squared > 0 ? std::clamp(crossed / squared, 0.0, 1.0) : otherwise;
}

} // namespace

WanderModel measuredDefaultWander()
{
    WanderModel model;
    model.source = WanderSource::measuredDefault;
    // Measured on five real sessions of four runs of this project's
    // machine (AMD EPYC family 25 model 17, 2 vCPUs under KVM, Debian 12)
    // recorded by cpubench-record every 25 minutes from 04:00 to 05:40 UTC
    // on 2026-12-09: fitWander of those sessions (wander_bench default),
    // rounded. Per line: double mul log, SSE2, GMP, INT64MulDiv128, 4Kern,
    // 8Kern, 18Kern, MUL-Mod, Copy. Five sessions hold four degrees of
    // freedom per line (six with the pooling), and the machine-wide part,
    // which the lines share, about five: the default is known roughly, and
    // the tests that use it count that.
    model.sessions = 5;
    model.scale = {0.085, 0.051, 0.093, 0.049, 0.049, 0.055, 0.055, 0.042, 0.064};
    model.spread = {0.059, 0.026, 0.050, 0.012, 0.012, 0.016, 0.012, 0.015, 0.091};
    model.spreadDf.fill(15);
    model.share = 0.9;
    model.scaleDf.fill(6);
    model.typicalDf = 5.5;
    double logs = 0;
    for (const double scale : model.scale)
        logs += std::log(scale);
    model.typical = std::exp(logs / kLineCount);
    return model;
}

WanderModel fitWander(const std::vector<SessionLines>& sessions, const Segments& segments, const WanderModel& fallback,
                      std::size_t fewest)
{
    WanderModel model = fallback;
    const std::size_t count = sessions.size();
    std::size_t withTimes = 0;
    for (std::size_t s = 0; s < count; ++s) {
        bool any = false;
        for (std::size_t l = 0; l < kLineCount; ++l)
            any = any || usable(sessions, segments, s, l);
        withTimes += any ? 1 : 0;
    }
    // The spread inside sessions: this machine's wherever its runs tell it.
    for (std::size_t l = 0; l < kLineCount; ++l)
        poolSpread(sessions, segments, l, model.spread[l], model.spreadDf[l]);
    if (withTimes < std::max<std::size_t>(fewest, 2))
        return model;

    // Each line's variance of a session about its level (wander and runs
    // together, as its residuals show it), as an unbiased log: the log of a
    // variance from few degrees of freedom lies low by digamma(df/2) - log(df/2).
    std::array<LineFit, kLineCount> fits;
    std::array<double, kLineCount> logs{};
    double dfSum = 0, logSum = 0;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        fits[l] = fitLine(sessions, segments, l, model.spread[l], kFloorScale);
        if (fits[l].df > 0 && fits[l].variance > 0) {
            logs[l] = std::log(fits[l].variance) - logBias(fits[l].df);
            dfSum += fits[l].df;
            logSum += fits[l].df * logs[l];
        }
    }
    if (!(dfSum > 0))
        return model;
    model.source = WanderSource::sessions;
    model.sessions = withTimes;
    const double typicalLog = logSum / dfSum;

    const double correlation = residualCorrelation(fits, count, fallback.share);

    // The lines share their common part: their degrees of freedom together
    // are worth fewer than their sum, and the typical variance counts in a
    // line for no more than it holds.
    model.typicalDf = dfSum / (1 + (kLineCount - 1) * correlation * correlation);
    const double poolDf = std::min(kPoolDf, model.typicalDf);
    double typicalLogs = 0, wanderShare = 0;
    std::size_t shareLines = 0;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        // A line with few degrees of freedom is drawn towards the machine's
        // typical variance (lines of other machines may say more: poolScales).
        const double df = fits[l].df > 0 && fits[l].variance > 0 ? fits[l].df : 0;
        const double total = std::exp((df * logs[l] + poolDf * typicalLog) / (df + poolDf));
        const double wander = std::max(total - fits[l].withinPart, kFloorScale * kFloorScale);
        model.scale[l] = std::sqrt(wander);
        model.scaleDf[l] = df + poolDf;
        typicalLogs += std::log(wander);
        if (total > 0) {
            wanderShare += std::min(1.0, wander / total);
            ++shareLines;
        }
    }
    model.typical = std::exp(typicalLogs / (2 * kLineCount));
    model.share = shareLines > 0 ? std::clamp(correlation / (wanderShare / static_cast<double>(shareLines)), 0.0,
                                              kMostShare)
                                 : fallback.share;
    return model;
}

WanderModel poolScales(const WanderModel& own, const std::vector<WanderModel>& others)
{
    if (own.source != WanderSource::sessions)
        return own;
    std::array<double, kLineCount> logs{}, dfs{};
    for (const WanderModel& other : others) {
        if (other.source != WanderSource::sessions || !(other.typical > 0))
            continue;
        for (std::size_t l = 0; l < kLineCount; ++l) {
            const double df = std::max(0.0, other.scaleDf[l] - kPoolDf);
            logs[l] += df * std::log(other.scale[l] / other.typical);
            dfs[l] += df;
        }
    }
    WanderModel pooled = own;
    double typicalLogs = 0;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        if (dfs[l] > 0) {
            const double ownDf = std::max(0.0, own.scaleDf[l] - kPoolDf);
            // The others' relative scale, as a prior worth at most kPoolDf
            // plus a share of their degrees of freedom: machines differ.
            const double priorDf = kPoolDf + std::min(dfs[l], ownDf + kPoolDf) / 2;
            const double prior = std::log(own.typical) + logs[l] / dfs[l];
            pooled.scale[l] = std::exp((ownDf * std::log(own.scale[l]) + priorDf * prior) / (ownDf + priorDf));
            pooled.scaleDf[l] = ownDf + priorDf;
        }
        typicalLogs += std::log(pooled.scale[l]);
    }
    pooled.typical = std::exp(typicalLogs / kLineCount);
    return pooled;
}

double wanderVariance(const WanderModel& model, std::size_t line)
{
    return model.scale[line] * model.scale[line];
}

double sessionVariance(const WanderModel& model, std::size_t line, std::size_t runs)
{
    return wanderVariance(model, line) +
           model.spread[line] * model.spread[line] / static_cast<double>(std::max<std::size_t>(runs, 1));
}

double meanWanderVariance(const WanderModel& model, const std::vector<std::size_t>& lines)
{
    if (lines.empty())
        return 0;
    double scales = 0, variances = 0;
    for (const std::size_t l : lines) {
        scales += model.scale[l];
        variances += wanderVariance(model, l);
    }
    const double n = static_cast<double>(lines.size());
    return (model.share * scales * scales + (1 - model.share) * variances) / (n * n);
}

Adjusted adjustedSeries(const std::vector<SessionLines>& sessions, const WanderModel& model, const Segments& segments,
                        std::size_t line)
{
    const std::size_t count = sessions.size();
    Adjusted adjusted;
    adjusted.value.assign(count, 0);
    adjusted.variance.assign(count, 0);
    adjusted.present.assign(count, false);
    std::array<LineFit, kLineCount> fits;
    for (std::size_t k = 0; k < kLineCount; ++k)
        if (k != line)
            fits[k] = fitLine(sessions, segments, k, model.spread[k], kFloorScale);
    const double share = model.share;
    for (std::size_t s = 0; s < count; ++s) {
        if (sessions[s][line].runs == 0 || !std::isfinite(sessions[s][line].mean))
            continue;
        // The common part given the other lines: each line's residual says
        // loading * z + its own part. The estimate weighs each by loading /
        // own variance, with a normal prior for z (the wander model), and is
        // made robust by Huber's weights: a line whose residual is far from
        // what the others say (a step not yet found, a busy line) counts
        // for less.
        struct Witness {
            double loading, ownPart, residual;
        };
        std::vector<Witness> witnesses;
        for (std::size_t k = 0; k < kLineCount; ++k) {
            if (k == line || !(fits[k].used[s] ? fits[k].segmentSize[s] >= 2 : fits[k].predicted[s]))
                continue;
            const double loading = std::sqrt(share) * model.scale[k];
            const double ownPart = (1 - share) * wanderVariance(model, k) +
                                   model.spread[k] * model.spread[k] / static_cast<double>(sessions[s][k].runs);
            const double total = std::sqrt(loading * loading + ownPart);
            // A residual around a level it is part of varies less than the
            // session's offset, one around a level without it more.
            const double residual =
                fits[k].residual[s] / std::sqrt(fits[k].used[s] ? 1 - 1 / fits[k].segmentSize[s]
                                                                : 1 + 1 / fits[k].segmentSize[s]);
            witnesses.push_back({loading, ownPart, std::clamp(residual / total, -kCommonClip, kCommonClip) * total});
        }
        double common = 0, precision = 0;
        for (int iteration = 0; iteration < 5; ++iteration) {
            double evidence = 0;
            precision = 0;
            for (const Witness& w : witnesses) {
                const double off = std::abs(w.residual - w.loading * common) / std::sqrt(w.ownPart);
                const double weight = iteration == 0 || off <= kHuber ? 1 : kHuber / off;
                precision += weight * w.loading * w.loading / w.ownPart;
                evidence += weight * w.loading * w.residual / w.ownPart;
            }
            common = evidence / (1 + precision);
        }
        const double unknown = 1 / (1 + precision);
        const double loading = std::sqrt(share) * model.scale[line];
        adjusted.present[s] = true;
        adjusted.value[s] = sessions[s][line].mean - loading * common;
        adjusted.variance[s] = (1 - share) * wanderVariance(model, line) + loading * loading * unknown +
                               model.spread[line] * model.spread[line] / static_cast<double>(sessions[s][line].runs);
    }
    return adjusted;
}

} // namespace cpubench
