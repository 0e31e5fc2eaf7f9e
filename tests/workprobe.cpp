// workprobe: runs one computing core of the benchmark, with a small count
// taken from the command line, and prints its result so that none of the
// work is dead. It is linked against cpubench_core, the very object code of
// the benchmark, and run under callgrind by workcount.py, which counts the
// instructions each timed loop executes.
//
//   workprobe crosslog N | packedmul N | mulmod32 N | muldiv N
//   workprobe team THREADS N
//   workprobe copy BLOCKS | copy-misaligned BLOCKS
//   workprobe fillcopy BYTES        (BYTES a positive multiple of 128)
//   workprobe gmp N
#include "gmpbind/gmpapi.h"
#include "kernels/kernels.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: workprobe crosslog|packedmul|mulmod32|muldiv|gmp N\n"
                 "       workprobe team THREADS N\n"
                 "       workprobe copy|copy-misaligned BLOCKS\n"
                 "       workprobe fillcopy BYTES\n");
    return 2;
}

// A positive count, or -1.
long long count(const char* text)
{
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value > 0 ? value : -1;
}

// A buffer of `bytes` starting on a 16-byte boundary; it is never freed.
unsigned char* alignedBuffer(size_t bytes)
{
    auto* block = static_cast<unsigned char*>(std::malloc(bytes + 15));
    if (block == nullptr) {
        std::fprintf(stderr, "workprobe: cannot allocate %zu bytes\n", bytes);
        return nullptr;
    }
    const auto address = reinterpret_cast<uintptr_t>(block);
    return block + ((16 - (address & 15)) & 15);
}

// Copies between two distinct buffers; `offset` shifts the destination off
// the 16-byte grid.
int runCopy(long long blocks, size_t offset)
{
    const size_t bytes = static_cast<size_t>(blocks) * 128;
    unsigned char* source = alignedBuffer(bytes);
    unsigned char* destination = alignedBuffer(bytes + 16);
    if (source == nullptr || destination == nullptr)
        return 1;
    for (size_t i = 0; i < bytes; ++i)
        source[i] = static_cast<unsigned char>(i * 7 + 3);
    copyBytes(destination + offset, source, bytes);
    unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i)
        sum += destination[offset + i];
    std::printf("copy %zu bytes, sum %u\n", bytes, sum);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const char* mode = argv[1];
    const long long n = count(argv[argc - 1]);
    if (n < 0)
        return usage();

    if (argc == 4) {
        if (std::strcmp(mode, "team") != 0)
            return usage();
        const long long threads = count(argv[2]);
        if (threads < 1 || threads > kMaxTeam)
            return usage();
        uint64_t result[kMaxTeam] = {};
        mulDivTeamCore(static_cast<int>(threads), kMulDivA0, n, result);
        std::printf("team %llu %llu\n", static_cast<unsigned long long>(result[0]),
                    static_cast<unsigned long long>(result[threads - 1]));
        return 0;
    }
    if (argc != 3)
        return usage();

    if (std::strcmp(mode, "crosslog") == 0) {
        double w[3];
        crossLogCore(std::sqrt(3.23456), std::sqrt(3.72345), n, w);
        std::printf("crosslog %.17g %.17g %.17g\n", w[0], w[1], w[2]);
    } else if (std::strcmp(mode, "packedmul") == 0) {
        double r[2];
        packedMulCore(n, r);
        std::printf("packedmul %.17g %.17g\n", r[0], r[1]);
    } else if (std::strcmp(mode, "mulmod32") == 0) {
        std::printf("mulmod32 %u\n", mulMod32Core(n));
    } else if (std::strcmp(mode, "muldiv") == 0) {
        uint64_t a = kMulDivA0;
        uint64_t rem = 0;
        const uint64_t quotient = mulDivSingleCore(&a, n, &rem);
        std::printf("muldiv %llu %llu\n", static_cast<unsigned long long>(quotient),
                    static_cast<unsigned long long>(rem));
    } else if (std::strcmp(mode, "copy") == 0) {
        return runCopy(n, 0);
    } else if (std::strcmp(mode, "copy-misaligned") == 0) {
        return runCopy(n, 1);
    } else if (std::strcmp(mode, "fillcopy") == 0) {
        if (n % 128 != 0)
            return usage();
        const auto bytes = static_cast<size_t>(n);
        unsigned char* first = alignedBuffer(bytes);
        unsigned char* second = alignedBuffer(bytes);
        if (first == nullptr || second == nullptr)
            return 1;
        fillCopySteps(first, second, bytes);
        std::printf("fillcopy %u %u\n", first[bytes - 1], second[0]);
    } else if (std::strcmp(mode, "gmp") == 0) {
        GmpApi gmp;
        if (!bindGmp(gmp))
            return 1;
        mpz_t x;
        gmpPowerCore(gmp, n, x);
        gmp.gmpPrintf("gmp %Zd\n", x);
        std::fflush(stdout);
        releaseGmp(gmp);
    } else {
        return usage();
    }
    return 0;
}
