#include "distributions.h"

#include "analyse/student_t.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

constexpr double kPi = 3.14159265358979323846;

double normalDensity(double x, double variance)
{
    return std::exp(-x * x / (2 * variance)) / std::sqrt(2 * kPi * variance);
}

} // namespace

double normalCdf(double z)
{
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

double normalQuantile(double p)
{
    if (!(p > 0))
        return -INFINITY;
    if (!(p < 1))
        return INFINITY;
    // A first guess by Acklam's rational functions, then two Newton steps.
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                               1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01,  -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    double x;
    const double q = std::min(p, 1 - p);
    if (q < 0.02425) {
        const double r = std::sqrt(-2 * std::log(q));
        x = (((((c[0] * r + c[1]) * r + c[2]) * r + c[3]) * r + c[4]) * r + c[5]) /
            ((((d[0] * r + d[1]) * r + d[2]) * r + d[3]) * r + 1);
        if (p > 0.5)
            x = -x;
    } else {
        const double r = p - 0.5, s = r * r;
        x = (((((a[0] * s + a[1]) * s + a[2]) * s + a[3]) * s + a[4]) * s + a[5]) * r /
            (((((b[0] * s + b[1]) * s + b[2]) * s + b[3]) * s + b[4]) * s + 1);
    }
    for (int i = 0; i < 2; ++i)
        x -= (normalCdf(x) - p) / normalDensity(x, 1);
    return x;
}

double chiSquareQuantile(double p, double df)
{
    const double k = 2 / (9 * df);
    const double cube = std::max(1 - k + normalQuantile(p) * std::sqrt(k), 0.0);
    return df * cube * cube * cube;
}

double tUpperTail(double t, double df)
{
    if (!(df > 0))
        return 0.5;
    const double tail = 0.5 * analyse::studentTwoSidedTail(t, df);
    return t >= 0 ? tail : 1 - tail;
}

double tQuantileUpper(double p, double df)
{
    if (p > 0.5)
        return -tQuantileUpper(1 - p, df);
    return analyse::studentCritical(2 * p, df);
}

double tToNormalScore(double t, double df)
{
    const double tail = tUpperTail(t, df);
    if (tail <= 0)
        return 40;
    if (tail >= 1)
        return -40;
    return -normalQuantile(tail);
}

double noStepProbability(const std::vector<double>& variances, double c)
{
    const std::size_t n = variances.size();
    if (n < 2)
        return 1;
    if (!(c > 0))
        return 0;
    // Y_b, the weighted partial sum of the sessions' deviations, is a random
    // walk with steps of variance 1/v_i; with Y_n = 0 (given), Z_b = Y_b
    // scaled by its bridge variance W_b (W_n - W_b) / W_n.
    std::vector<double> steps(n), walked(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        steps[i] = 1 / std::max(variances[i], 1e-300);
        walked[i + 1] = walked[i] + steps[i];
    }
    const double total = walked[n];
    constexpr std::size_t kPoints = 121; // odd: Simpson's rule
    std::vector<double> grid(kPoints), density(kPoints), next(kPoints), weight(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k)
        weight[k] = k == 0 || k + 1 == kPoints ? 1 : k % 2 == 1 ? 4 : 2;
    const auto bandOf = [&](std::size_t b) { return c * std::sqrt(walked[b] * (total - walked[b]) / total); };
    double band = bandOf(1);
    for (std::size_t k = 0; k < kPoints; ++k) {
        grid[k] = -band + 2 * band * static_cast<double>(k) / (kPoints - 1);
        density[k] = normalDensity(grid[k], steps[0]);
    }
    double spacing = 2 * band / (kPoints - 1);
    for (std::size_t b = 2; b < n; ++b) {
        const double nextBand = bandOf(b);
        std::vector<double> nextGrid(kPoints);
        for (std::size_t k = 0; k < kPoints; ++k) {
            nextGrid[k] = -nextBand + 2 * nextBand * static_cast<double>(k) / (kPoints - 1);
            double sum = 0;
            for (std::size_t j = 0; j < kPoints; ++j)
                sum += weight[j] * density[j] * normalDensity(nextGrid[k] - grid[j], steps[b - 1]);
            next[k] = sum * spacing / 3;
        }
        grid.swap(nextGrid);
        density.swap(next);
        band = nextBand;
        spacing = 2 * band / (kPoints - 1);
    }
    double end = 0;
    for (std::size_t j = 0; j < kPoints; ++j)
        end += weight[j] * density[j] * normalDensity(-grid[j], steps[n - 1]);
    end *= spacing / 3;
    return std::clamp(end / normalDensity(0, total), 0.0, 1.0);
}

double noStepCritical(const std::vector<double>& variances, double alpha)
{
    double low = 0, high = 10;
    for (int i = 0; i < 40; ++i) {
        const double middle = (low + high) / 2;
        (1 - noStepProbability(variances, middle) > alpha ? low : high) = middle;
    }
    return high;
}

} // namespace cpubench
