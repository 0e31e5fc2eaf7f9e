// Student's t distribution: the tails and critical values the tests need.
#pragma once

namespace cpubench::analyse {

// P(|T| > t) for Student's t with `df` degrees of freedom (df > 0; the
// normal distribution beyond 1e7).
double studentTwoSidedTail(double t, double df);

// The t with P(|T| > t) = alpha, for 0 < alpha < 1.
double studentCritical(double alpha, double df);

} // namespace cpubench::analyse
