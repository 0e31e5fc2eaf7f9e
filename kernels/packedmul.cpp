// SSE2 packed double multiply: a two-lane running vector V is multiplied by
// a fixed vector U in three dependent chains of 101, 51 and 6 rounds per
// outer iteration, with a store, an overwrite and a reload of V through
// memory (the array S) between the chains.
#include "kernels.h"

#include "barrier.h"
#include "driver/stopwatch.h"

#include <cstdio>
#include <emmintrin.h>

namespace {

// 1 + 5 * 2^-52, bit pattern 0x3FF0000000000005.
constexpr double kK = 1.000000000000001;

// One chain of rounds: each round is two _mm_mul_pd, T = U*V, V = T*U.
inline __m128d multiplyRounds(__m128d v, __m128d u, int rounds)
{
    for (int j = 0; j < rounds; ++j) {
        const __m128d t = _mm_mul_pd(u, v);
        v = _mm_mul_pd(t, u);
    }
    return v;
}

// Stores V to S, overwrites both elements of S with K, and reloads V.
// What the chain computed is stored and then overwritten unread, so the
// compiler would delete the chain and fold the reload to (K, K); the two
// memory barriers make the store count as read and the reload a real load.
inline __m128d storeOverwriteReload(double* s, __m128d v)
{
    _mm_storeu_pd(s, v);
    touchMemory(s);
    s[0] = kK;
    s[1] = kK;
    touchMemory(s);
    return _mm_loadu_pd(s);
}

} // namespace

void packedMulCore(int64_t iterations, double r[2])
{
    double s[2] = {kK, kK};
    r[0] = 1.73456;
    r[1] = 2.72345;
    // The starting contents of S and R are hidden from the compiler: U and
    // V are really loaded and no product is folded at build time.
    touchMemory(s);
    touchMemory(r);

    const __m128d u = _mm_loadu_pd(r);
    __m128d v = _mm_loadu_pd(s);
    for (int64_t i = 0; i < iterations; ++i) {
        v = multiplyRounds(v, u, 101);
        v = storeOverwriteReload(s, v);
        v = multiplyRounds(v, u, 51);
        v = storeOverwriteReload(s, v);
        v = multiplyRounds(v, u, 6);
        // R escaped above: the store is kept in every iteration, since
        // the next barrier may read it.
        _mm_storeu_pd(r, v);
    }
}

void runPackedMul()
{
    double r[2];
    const int32_t start = clockMs();
    packedMulCore(kPackedMulIterations, r);
    const int32_t end = clockMs();
    std::printf("SSE2 _mm_mul_pd=%14.14f %13.15f in %3.3f s\n\n", r[0], r[1],
                elapsedSeconds(start, end));
}
