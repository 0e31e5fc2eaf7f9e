// A dependent chain of 32-bit unsigned multiplications, each followed by a
// reduction modulo 65521 (the largest prime below 2^16): V = 65537^n mod
// 65521.
#include "kernels.h"

#include "barrier.h"
#include "driver/stopwatch.h"

namespace {

constexpr uint32_t kModulus = 65521;

} // namespace

uint32_t mulMod32Core(int64_t iterations)
{
    uint32_t v = 1;
    uint32_t multiplier = kMulModMultiplier;
    // Hidden from the compiler: the multiplication is a real multiply, not
    // a shift and add, and the chain cannot be evaluated at build time.
    // The modulus stays a constant, reduced as compilers reduce by one.
    launderValue(multiplier);
    for (int64_t i = 0; i < iterations; ++i) {
        v = v * multiplier;
        v = v % kModulus;
    }
    return v;
}

void runMulMod32(const GmpApi& gmp)
{
    const int32_t start = clockMs();
    const uint32_t v = mulMod32Core(kMulModIterations);
    const int32_t end = clockMs();
    // "%lu" takes an unsigned long, 64 bits wide on some platforms: the
    // 32-bit values are widened, so their digits print unchanged.
    gmp.gmpPrintf("MUL-Mod 32 Bit = %lu u32A= %lu  in %3.3f s\n\n", static_cast<unsigned long>(v),
                  static_cast<unsigned long>(kMulModMultiplier), elapsedSeconds(start, end));
}
