// The computing cores against values computed independently of them.
#include "gmpbind/gmpapi.h"
#include "kernels/kernels.h"
#include "kernels/muldiv128.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Plain 128-bit arithmetic, the reference for the divide instruction.
__extension__ typedef unsigned __int128 Wide;

std::string format(const char* f, double a, double b)
{
    char text[96];
    std::snprintf(text, sizeof text, f, a, b);
    return text;
}

// ---------------------------------------------------------------------------
// Cross-product logarithm

const double kSqrtV = std::sqrt(3.23456);
const double kSqrtU = std::sqrt(3.72345);

TEST(CrossLog, FirstIterationGivesTheKnownCrossProduct)
{
    double w[3];
    crossLogCore(kSqrtV, kSqrtU, 1, w);
    // No logarithm has entered yet: the values are exact IEEE results.
    EXPECT_EQ(w[0], -4.40909914918416);
    EXPECT_EQ(w[1], 1.947404765339737);
    EXPECT_EQ(w[2], 1.2148414035259254);
}

TEST(CrossLog, SecondIterationStartsFromTheLogarithmsOfTheFirst)
{
    // State after the first iteration, to within the last digit of log.
    const double vx = 1.492724252458422, vy = 2.6820566252686184, vz = 2.9645434952349903;
    const double ux = 1.73456, uy = 2.72345, uz = kSqrtU;
    double w[3];
    crossLogCore(kSqrtV, kSqrtU, 2, w);
    EXPECT_NEAR(w[0], uz * vy - vz * uy, 1e-13);
    EXPECT_NEAR(w[1], vz * ux - uz * vx, 1e-13);
    EXPECT_NEAR(w[2], vx * uy - vy * ux, 1e-13);
}

TEST(CrossLog, LongRunStaysFinite)
{
    double w[3];
    crossLogCore(kSqrtV, kSqrtU, 100000, w);
    for (double value : w)
        EXPECT_TRUE(std::isfinite(value));
}

// ---------------------------------------------------------------------------
// Packed multiply

TEST(PackedMul, EveryOuterIterationStoresTheSameBitExactResult)
{
    for (int64_t iterations : {1, 2, 7}) {
        double r[2];
        packedMulCore(iterations, r);
        EXPECT_EQ(r[0], 741.774543429455) << iterations;
        EXPECT_EQ(r[1], 166507.14615341128) << iterations;
        EXPECT_EQ(format("%14.14f %13.15f", r[0], r[1]), "741.77454342945498 166507.146153411275009");
    }
}

TEST(PackedMul, ResultIsSixRoundsOfTheScalarProductPair)
{
    // The same lane arithmetic done with scalars, round by round.
    const double k = 1.000000000000001;
    double lane0 = k, lane1 = k;
    for (int round = 0; round < 6; ++round) {
        lane0 = (1.73456 * lane0) * 1.73456;
        lane1 = (2.72345 * lane1) * 2.72345;
    }
    double r[2];
    packedMulCore(3, r);
    EXPECT_EQ(r[0], lane0);
    EXPECT_EQ(r[1], lane1);
}

TEST(PackedMul, ZeroIterationsLeaveRUntouched)
{
    double r[2];
    packedMulCore(0, r);
    EXPECT_EQ(r[0], 1.73456);
    EXPECT_EQ(r[1], 2.72345);
}

// ---------------------------------------------------------------------------
// 32-bit multiply-modulo

uint32_t powMod(uint64_t base, uint64_t exponent, uint64_t modulus)
{
    uint64_t result = 1 % modulus;
    for (base %= modulus; exponent > 0; exponent >>= 1, base = base * base % modulus)
        if (exponent & 1)
            result = result * base % modulus;
    return static_cast<uint32_t>(result);
}

TEST(MulMod32, ChainEqualsSixteenToTheNModulo65521)
{
    for (int64_t n : {0, 1, 2, 3, 15, 16, 1000, 65520, 65521, 1234567})
        EXPECT_EQ(mulMod32Core(n), powMod(16, static_cast<uint64_t>(n), 65521)) << n;
}

TEST(MulMod32, FullCountGivesThePrintedValue)
{
    EXPECT_EQ(powMod(65537, kMulModIterations, 65521), 54885u);
    EXPECT_EQ(powMod(16, kMulModIterations, 65521), 54885u);
}

// ---------------------------------------------------------------------------
// 128-bit multiply-divide

struct MulDivCase {
    uint64_t a, b, d;
};

TEST(MulDiv128, AgreesWith128BitArithmeticOnEdgeOperands)
{
    const uint64_t max = ~0ULL;
    const MulDivCase cases[] = {
        {max, max, max},                       // quotient max, remainder 0
        {max, 2, max},                         // product just past 2^64
        {max, max - 1, max},                   // quotient 2^64 - 2
        {max, (1ULL << 63) + 1, (1ULL << 63) + 2}, // quotient just below 2^64
        {123456789, 987654321, 1},             // d = 1
        {83549951303834ULL, 7, 83549951303834ULL}, // remainder zero
        {0, 5, 3},                             // zero product
        {kMulDivA0, kMulDivB, kMulDivD},       // first operand of the kernel
        {kMulDivA0 - 200000000, kMulDivB, kMulDivD}, // last single-thread operand
        {kMulDivA0 - 400000001, kMulDivB, kMulDivD}, // last team operand
    };
    for (const MulDivCase& c : cases) {
        const Wide product = static_cast<Wide>(c.a) * c.b;
        ASSERT_LT(static_cast<uint64_t>(product >> 64), c.d) << "precondition";
        uint64_t rem = 12345;
        const uint64_t q = MulDiv128(c.a, c.b, c.d, &rem);
        EXPECT_EQ(q, static_cast<uint64_t>(product / c.d)) << c.a << " * " << c.b << " / " << c.d;
        EXPECT_EQ(rem, static_cast<uint64_t>(product % c.d)) << c.a << " * " << c.b << " % " << c.d;
    }
}

TEST(MulDiv128, KernelOperandsGiveThePrintedValues)
{
    uint64_t rem = 0;
    EXPECT_EQ(MulDiv128(kMulDivA0, kMulDivB, kMulDivD, &rem), 60060931984351969ULL);
    EXPECT_EQ(MulDiv128(6744073509551601ULL, kMulDivB, kMulDivD, &rem), 60060930203205007ULL);
    EXPECT_EQ(rem, 73808544117964ULL);
    EXPECT_EQ(MulDiv128(6744073309551600ULL, kMulDivB, kMulDivD, &rem), 60060928422058037ULL);
}

TEST(MulDivSingle, CountsDownAndReturnsTheLastQuotient)
{
    uint64_t a = kMulDivA0;
    uint64_t rem = 0;
    const uint64_t q = mulDivSingleCore(&a, 1000, &rem);
    EXPECT_EQ(a, kMulDivA0 - 1000);
    const Wide last = static_cast<Wide>(kMulDivA0 - 999) * kMulDivB;
    EXPECT_EQ(q, static_cast<uint64_t>(last / kMulDivD));
    EXPECT_EQ(rem, static_cast<uint64_t>(last % kMulDivD));
}

TEST(MulDivTeam, EveryThreadComputesTheSameQuotientInItsOwnSlot)
{
    const uint64_t a1 = kMulDivA0 - kMulDivIterations;
    const Wide last = static_cast<Wide>(a1 - 4999) * kMulDivB;
    const uint64_t expected = static_cast<uint64_t>(last / kMulDivD);
    for (int threads : {4, 8, 18}) {
        uint64_t coreResult[kMaxTeam] = {};
        mulDivTeamCore(threads, a1, 5000, coreResult);
        for (int slot = 0; slot < kMaxTeam; ++slot)
            EXPECT_EQ(coreResult[slot], slot < threads ? expected : 0) << threads << " threads, slot " << slot;
    }
}

// ---------------------------------------------------------------------------
// Big-integer power, with the real GMP library

TEST(GmpPower, LastFortyDigitsOfTheSumToThe123rdPower)
{
    GmpApi gmp;
    ASSERT_TRUE(bindGmp(gmp));
    // Independently: (b + a)^123 mod 10^40 with GMP's modular power.
    mpz_t base, modulus, expected;
    mpz_init_set_str(base, "8888888877777123385338120000003", 10);
    mpz_init_set_str(modulus, "10000000000000000000000000000000000000000", 10);
    mpz_init(expected);
    mpz_powm_ui(expected, base, 123, modulus);
    char digits[64];
    mpz_get_str(digits, 10, expected);
    EXPECT_STREQ(digits, "5004229104086913198124845349396819872827");

    for (int64_t iterations : {1, 3}) {
        mpz_t x;
        gmpPowerCore(gmp, iterations, x);
        EXPECT_EQ(mpz_cmp(x, expected), 0) << iterations;
        mpz_get_str(digits, 10, x);
        EXPECT_STREQ(digits, "5004229104086913198124845349396819872827");
    }
    mpz_clears(base, modulus, expected, nullptr);
    releaseGmp(gmp);
}

// ---------------------------------------------------------------------------
// Fill and copy

// 16-byte aligned storage with room for an offset.
struct Buffer {
    std::unique_ptr<unsigned char[]> storage;
    unsigned char* data;
};

Buffer makeBuffer(size_t bytes, size_t offset)
{
    Buffer b{std::make_unique<unsigned char[]>(bytes + 32), nullptr};
    auto address = reinterpret_cast<uintptr_t>(b.storage.get());
    b.data = reinterpret_cast<unsigned char*>((address + 15) & ~uintptr_t{15}) + offset;
    return b;
}

TEST(CopyBytes, AlignedAndMisalignedPathsCopyTheSameBytes)
{
    const size_t bytes = 128 * 37;
    for (size_t sourceOffset : {0u, 1u, 16u}) {
        for (size_t destinationOffset : {0u, 3u, 16u}) {
            Buffer source = makeBuffer(bytes, sourceOffset);
            Buffer destination = makeBuffer(bytes + 1, destinationOffset);
            for (size_t i = 0; i < bytes; ++i)
                source.data[i] = static_cast<unsigned char>(i * 7 + i / 256);
            destination.data[bytes] = 0x5A;
            copyBytes(destination.data, source.data, bytes);
            EXPECT_EQ(std::memcmp(destination.data, source.data, bytes), 0)
                << sourceOffset << "/" << destinationOffset;
            EXPECT_EQ(destination.data[bytes], 0x5A) << "wrote past the end";
        }
    }
}

bool allBytesAre(const unsigned char* data, size_t bytes, unsigned char value)
{
    for (size_t i = 0; i < bytes; ++i)
        if (data[i] != value)
            return false;
    return true;
}

TEST(FillCopy, AfterTheEightStepsBothBuffersHoldTheLastValue)
{
    const size_t bytes = 128 * 1000;
    for (size_t offset : {0u, 1u}) {
        Buffer first = makeBuffer(bytes + 1, offset);
        Buffer second = makeBuffer(bytes + 1, 0);
        first.data[bytes] = 0x11;
        second.data[bytes] = 0x22;
        fillCopySteps(first.data, second.data, bytes);
        EXPECT_TRUE(allBytesAre(first.data, bytes, 0x21)) << offset;
        EXPECT_TRUE(allBytesAre(second.data, bytes, 0x21)) << offset;
        // The byte past N is never touched.
        EXPECT_EQ(first.data[bytes], 0x11);
        EXPECT_EQ(second.data[bytes], 0x22);
    }
}

TEST(FillCopy, RealRoutineCopiesTheFullTwoThousandMillionBytes)
{
    std::unique_ptr<unsigned char[]> source(new unsigned char[kCopyBytes + 1]);
    std::unique_ptr<unsigned char[]> destination(new unsigned char[kCopyBytes + 1]);
    std::memset(source.get(), 0x3F, kCopyBytes);
    source[0] = 0x01;
    source[kCopyBytes - 1] = 0x02;
    source[kCopyBytes] = 0x03;
    destination[kCopyBytes] = 0x04;
    copyBlocks(destination.get(), source.get());
    EXPECT_EQ(std::memcmp(destination.get(), source.get(), kCopyBytes), 0);
    EXPECT_EQ(destination[kCopyBytes], 0x04);
}

} // namespace
