// The processor's 64x64->128-bit multiply and 128/64-bit divide, called
// through MulDiv128 200,000,001 times: first on one thread, then on teams of
// 4, 8 and 18 threads in which every thread repeats the whole work.
//
// MulDiv128 is defined in another translation unit, so the compiler must
// make every call, although the operands are constants and only the last
// quotient is printed. The constant multiplier and divisor are laundered
// before each loop (barrier.h), so that every compiler keeps them in
// registers across it: left as constants, GCC 10 loads them afresh as
// 64-bit immediates in every iteration where GCC 12 keeps them in
// registers, and the shipped build and a build of one's own would time
// different loops.
#include "kernels.h"

#include "barrier.h"
#include "driver/stopwatch.h"
#include "muldiv128.h"

#include <omp.h>

uint64_t mulDivSingleCore(uint64_t* a, int64_t iterations, uint64_t* rem)
{
    uint64_t multiplicand = *a;
    uint64_t b = kMulDivB;
    uint64_t d = kMulDivD;
    launderValue(b);
    launderValue(d);
    uint64_t quotient = 0;
    for (int64_t i = 0; i < iterations; ++i) {
        quotient = MulDiv128(multiplicand, b, d, rem);
        --multiplicand;
    }
    *a = multiplicand;
    return quotient;
}

void mulDivTeamCore(int threads, uint64_t a1, int64_t iterations, uint64_t coreResult[kMaxTeam])
{
    // The team size is requested for this region alone; the calling thread
    // takes part as thread 0. The work is replicated, not divided.
#pragma omp parallel num_threads(threads) firstprivate(a1) shared(coreResult)
    {
        const int thread = omp_get_thread_num();
        uint64_t x = a1;
        uint64_t b = kMulDivB;
        uint64_t d = kMulDivD;
        launderValue(b);
        launderValue(d);
        uint64_t privateRem;
        uint64_t quotient = 0;
        for (int64_t i = 0; i < iterations; ++i) {
            quotient = MulDiv128(x, b, d, &privateRem);
            --x;
        }
        // Each thread writes its own slot once; no lock is needed.
        if (thread < kMaxTeam)
            coreResult[thread] = quotient;
    }
}

namespace {

void runTeam(const GmpApi& gmp, int threads, uint64_t a1, uint64_t coreResult[kMaxTeam],
             const char* format)
{
    const int32_t start = clockMs();
    mulDivTeamCore(threads, a1, kMulDivIterations, coreResult);
    const int32_t end = clockMs();
    gmp.gmpPrintf(format, static_cast<unsigned long long>(coreResult[0]),
                  static_cast<unsigned long long>(coreResult[1]), elapsedSeconds(start, end));
}

} // namespace

void runMulDiv(const GmpApi& gmp)
{
    // Zeroed, so that slot 1 holds a defined value even when a team is
    // granted fewer than two threads and nothing writes it.
    uint64_t coreResult[kMaxTeam] = {};
    uint64_t rem = 0;
    uint64_t a = kMulDivA0;

    const int32_t start = clockMs();
    coreResult[0] = mulDivSingleCore(&a, kMulDivIterations, &rem);
    const int32_t end = clockMs();
    gmp.gmpPrintf("INT64MulDiv128 = %llu Mod=%llu     in %3.3f s\n\n",
                  static_cast<unsigned long long>(coreResult[0]),
                  static_cast<unsigned long long>(rem), elapsedSeconds(start, end));

    // a is now one below the last multiplicand: every thread starts there.
    const uint64_t a1 = a;
    runTeam(gmp, 4, a1, coreResult, "4Kern MulDiv128= %llu K2=%llu   in %3.3f s\n");
    runTeam(gmp, 8, a1, coreResult, "8Kern MulDiv128= %llu K2=%llu   in %3.3f s\n");
    runTeam(gmp, 18, a1, coreResult, "18KernMulDiv128= %llu K2=%llu   in %3.3f s\n\n");
}
