// Scalar double multiply and subtract mixed with calls of the C library's
// natural logarithm: a state vector v goes through two cross products with a
// fixed vector u and a logarithm per component, 106,666,501 times.
#include "kernels.h"

#include "barrier.h"
#include "driver/stopwatch.h"

#include <cmath>
#include <cstdio>

void crossLogCore(double sqrtV, double sqrtU, int64_t iterations, double w[3])
{
    double ux = 1.73456, uy = 2.72345, uz = sqrtU;
    double vx = sqrtV, vy = 2.12345, vz = 3.12345;
    // The constant inputs are hidden from the compiler, so no product is
    // folded or precomputed.
    launderValue(ux);
    launderValue(uy);
    launderValue(vy);
    launderValue(vz);

    double wx = 0.0, wy = 0.0, wz = 0.0;
    for (int64_t i = 0; i < iterations; ++i) {
        // w = v x u; every product and difference is rounded on its own
        // (built with -ffp-contract=off: no fused multiply-add).
        wx = uz * vy - vz * uy;
        wy = vz * ux - uz * vx;
        wz = vx * uy - vy * ux;
        // s = w x u
        const double sx = wy * uz - wz * uy;
        const double sy = wz * ux - wx * uz;
        const double sz = wx * uy - wy * ux;
        vx = std::log(4.0 + std::fabs(sx));
        vy = std::log(4.0 + std::fabs(sy));
        vz = std::log(4.0 + std::fabs(sz));
    }
    // The last iteration's logarithms feed nothing printed; they are part
    // of the measured work all the same.
    sinkValue(vx);
    sinkValue(vy);
    sinkValue(vz);

    w[0] = wx;
    w[1] = wy;
    w[2] = wz;
}

void runCrossLog(double sqrtV, double sqrtU)
{
    const int32_t start = clockMs();
    double w[3];
    crossLogCore(sqrtV, sqrtU, kCrossLogIterations, w);
    const int32_t end = clockMs();
    std::printf("double mul log =%14.14f %13.15f %3.3f in %3.3f s\n\n", w[0], w[1], w[2],
                elapsedSeconds(start, end));
}
