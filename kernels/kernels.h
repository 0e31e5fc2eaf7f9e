// The seven workloads, in the order the run driver calls them. Each run
// procedure reads the stopwatch around its own work and prints its line.
// The computing cores beside them take their counts as arguments so that
// tests can run them small; the run procedures pass the fixed counts.
#pragma once

#include "gmpbind/gmpapi.h"

#include <cstddef>
#include <cstdint>

// Scalar multiply and subtract with the C library's log.
constexpr int64_t kCrossLogIterations = 106666501;
void crossLogCore(double sqrtV, double sqrtU, int64_t iterations, double w[3]);
void runCrossLog(double sqrtV, double sqrtU);

// SSE2 packed multiply with a store and reload through memory.
constexpr int64_t kPackedMulIterations = 10000001;
void packedMulCore(int64_t iterations, double r[2]);
void runPackedMul();

// Big-integer power through GMP. The core initialises x.
constexpr int64_t kGmpPowerIterations = 499996;
void gmpPowerCore(const GmpApi& gmp, int64_t iterations, mpz_ptr x);
void runGmpPower(const GmpApi& gmp);

// 128-bit multiply-divide on one thread, then on teams of 4, 8 and 18.
constexpr uint64_t kMulDivA0 = 6744073709551601ULL;
constexpr uint64_t kMulDivB = 744073709551602ULL;
constexpr uint64_t kMulDivD = 83549951303834ULL;
constexpr int64_t kMulDivIterations = 200000001;
constexpr int kMaxTeam = 18;
// Returns the last quotient; *a ends one below the last multiplicand.
uint64_t mulDivSingleCore(uint64_t* a, int64_t iterations, uint64_t* rem);
// Every thread of a team of `threads` repeats the work from a1 and writes
// its last quotient to coreResult[thread number].
void mulDivTeamCore(int threads, uint64_t a1, int64_t iterations, uint64_t coreResult[kMaxTeam]);
void runMulDiv(const GmpApi& gmp);

// 32-bit multiply-modulo chain.
constexpr int64_t kMulModIterations = 1375787183;
constexpr uint32_t kMulModMultiplier = 65537;
uint32_t mulMod32Core(int64_t iterations);
void runMulMod32(const GmpApi& gmp);

// Fill and copy of two large buffers. copyBytes takes any multiple of 128
// bytes; copyBlocks copies the kernel's full kCopyBytes.
constexpr size_t kCopyBytes = 2000000000;
void copyBytes(void* destination, const void* source, size_t bytes);
void copyBlocks(void* destination, const void* source);
void fillCopySteps(unsigned char* first, unsigned char* second, size_t bytes);
// Returns 0, or 1 when the buffers could not be allocated.
int runFillCopy(const GmpApi& gmp);
