#include "analyse/student_t.h"

#include <cmath>

namespace cpubench::analyse {

namespace {

// The regularised incomplete beta function I_x(a, b), by its continued
// fraction (modified Lentz), on the side of x where it converges fast.
double regularisedBeta(double a, double b, double x)
{
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    if (x > (a + 1) / (a + b + 2))
        return 1 - regularisedBeta(b, a, 1 - x);
    const double logFront = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) +
                            b * std::log1p(-x);
    static constexpr double kTiny = 1e-300;
    const auto guard = [](double v) { return std::abs(v) < kTiny ? kTiny : v; };
    double c = 1, d = 1 / guard(1 - (a + b) * x / (a + 1));
    double fraction = d;
    for (int m = 1; m <= 500; ++m) {
        const double even = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
        d = 1 / guard(1 + even * d);
        c = guard(1 + even / c);
        fraction *= c * d;
        const double odd = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
        d = 1 / guard(1 + odd * d);
        c = guard(1 + odd / c);
        const double step = c * d;
        fraction *= step;
        if (std::abs(step - 1) < 1e-15)
            break;
    }
    return std::exp(logFront) * fraction / a;
}

} // namespace

double studentTwoSidedTail(double t, double df)
{
    t = std::abs(t);
    if (df > 1e7)
        return std::erfc(t / std::sqrt(2.0));
    return regularisedBeta(df / 2, 0.5, df / (df + t * t));
}

double studentCritical(double alpha, double df)
{
    // The tail falls as t grows: bracket, then halve.
    double low = 0, high = 1;
    while (studentTwoSidedTail(high, df) > alpha && high < 1e15)
        high *= 2;
    for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
        const double middle = (low + high) / 2;
        (studentTwoSidedTail(middle, df) > alpha ? low : high) = middle;
    }
    return high;
}

} // namespace cpubench::analyse
