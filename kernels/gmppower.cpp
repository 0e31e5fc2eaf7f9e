// Arbitrary-precision integers through the bound GMP entries: a 31-digit sum
// raised to the 123rd power (3,807 digits), 499,996 times, then reduced to
// its last 40 digits.
//
// Every GMP call goes through a pointer loaded from the library at run
// time, so the compiler cannot know what the calls do: none of them can be
// removed, merged or hoisted, though each iteration recomputes the same
// power.
#include "kernels.h"

#include "driver/stopwatch.h"

namespace {

constexpr unsigned long kExponent = 123;

} // namespace

void gmpPowerCore(const GmpApi& gmp, int64_t iterations, mpz_ptr x)
{
    // Never cleared: the binding has no mpz_clear, and the integers stay
    // allocated until the process ends.
    mpz_t a, b, m;
    // The result codes are not examined: the texts are fixed and valid.
    gmp.mpzInitSetStr(a, "192669060000002", 10);
    gmp.mpzInitSetStr(b, "8888888877777123192669060000001", 10);
    gmp.mpzInitSetStr(x, "192669060000000", 10);
    gmp.mpzInitSetStr(m, "10000000000000000000000000000000000000000", 10);

    for (int64_t i = 0; i < iterations; ++i) {
        gmp.mpzAdd(x, b, a);
        gmp.mpzPowUi(x, x, kExponent);
    }
    gmp.mpzMod(x, x, m);
}

void runGmpPower(const GmpApi& gmp)
{
    const int32_t start = clockMs();
    mpz_t x;
    gmpPowerCore(gmp, kGmpPowerIterations, x);
    // The print of the result lies inside the window; the print of the
    // time, naturally, does not.
    gmp.gmpPrintf("GMP mpz_pow_ui = %Zd", x);
    const int32_t end = clockMs();
    gmp.gmpPrintf(" in %3.3f s\n\n", elapsedSeconds(start, end));
}
