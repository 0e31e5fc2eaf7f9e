// The few distributions the wander model and its tests need: the standard
// normal and Student's t, their tails and quantiles, and the probability
// that a normal random walk tied down at its end (a bridge) stays inside a
// band: the chance that no boundary of a history shows a step when none
// is there.
#pragma once

#include <cstddef>
#include <vector>

namespace cpubench {

// P(Z <= z) and its inverse for the standard normal.
double normalCdf(double z);
double normalQuantile(double p);

// The p quantile of chi-square with `df` degrees of freedom (Wilson and
// Hilferty's cube: within a few per cent from two degrees of freedom on).
double chiSquareQuantile(double p, double df);

// P(T > t) for Student's t with `df` degrees of freedom (one-sided; df may
// be fractional, as Satterthwaite's are; above 1e7 the normal).
double tUpperTail(double t, double df);
// The t with P(T > t) = p, for 0 < p < 1.
double tQuantileUpper(double p, double df);
// A t statistic turned into the normal score of the same one-sided tail,
// so that statistics with different degrees of freedom can be summed.
double tToNormalScore(double t, double df);

// The sessions of a line as a model of a history without a step: session i's
// mean is off its level by a normal amount of variance `variances[i]`. At
// each boundary b (1 <= b < n), the standardised difference of the weighted
// means after and before it is a standard normal Z_b; neighbouring Z_b are
// strongly correlated. This is P(|Z_b| <= c for every b), computed by
// carrying the density of the weighted partial sum across the sessions on a
// grid (the partial sums are a random walk, the Z_b a function of its bridge).
double noStepProbability(const std::vector<double>& variances, double c);
// The c with noStepProbability = 1 - alpha: the critical value of the
// largest |Z_b| of a history of these sessions.
double noStepCritical(const std::vector<double>& variances, double alpha);

} // namespace cpubench
