// Memory bandwidth: two buffers of two thousand million bytes, eight times
// one filled with a byte value and copied into the other, alternating the
// direction. Allocation and release lie inside the timed window.
#include "kernels.h"

#include "barrier.h"
#include "driver/stopwatch.h"

#include <cstring>
#include <emmintrin.h>
#include <new>

namespace {

constexpr size_t kBlockBytes = 128;

// One 16-byte piece: an aligned vector load, then an aligned vector store.
// The barrier between them keeps the compiler from turning the copy loop
// into a call of memcpy (it would recognise a plain load/store loop).
inline void copyPiece(__m128i* destination, const __m128i* source)
{
    __m128i piece = _mm_load_si128(source);
    launderValue(piece);
    _mm_store_si128(destination, piece);
}

struct Step {
    bool fillFirst; // fill `first` and copy it to `second`, else the reverse
    unsigned char value;
};

const Step kSteps[8] = {
    {true, 0x2A}, {false, 0xA7}, {true, 0x41}, {false, 0x7A},
    {true, 0x61}, {false, 0xB2}, {true, 0x3F}, {false, 0x21},
};

} // namespace

void copyBytes(void* destination, const void* source, size_t bytes)
{
    // Tested for every copy: both addresses must be multiples of 16.
    const auto both = reinterpret_cast<uintptr_t>(destination) | reinterpret_cast<uintptr_t>(source);
    if ((both & 15) != 0) {
        std::memcpy(destination, source, bytes);
        return;
    }
    auto* to = static_cast<__m128i*>(destination);
    const auto* from = static_cast<const __m128i*>(source);
    // Ascending addresses, one 128-byte block per iteration, plain stores:
    // no non-temporal stores, no prefetching.
    for (size_t block = bytes / kBlockBytes; block > 0; --block, to += 8, from += 8) {
        copyPiece(to + 0, from + 0);
        copyPiece(to + 1, from + 1);
        copyPiece(to + 2, from + 2);
        copyPiece(to + 3, from + 3);
        copyPiece(to + 4, from + 4);
        copyPiece(to + 5, from + 5);
        copyPiece(to + 6, from + 6);
        copyPiece(to + 7, from + 7);
    }
}

void copyBlocks(void* destination, const void* source)
{
    copyBytes(destination, source, kCopyBytes);
}

void fillCopySteps(unsigned char* first, unsigned char* second, size_t bytes)
{
    for (const Step& step : kSteps) {
        unsigned char* filled = step.fillFirst ? first : second;
        unsigned char* other = step.fillFirst ? second : first;
        std::memset(filled, step.value, bytes);
        // The filled bytes count as unknown to the copy, so its loads are
        // not replaced by the fill value.
        touchMemory(filled);
        copyBytes(other, filled, bytes);
        // Both buffers count as read here. Without this the last passes,
        // whose bytes are freed unread, would be deleted as dead stores.
        touchMemory(first);
        touchMemory(second);
    }
}

int runFillCopy(const GmpApi& gmp)
{
    const int32_t start = clockMs();
    auto* first = new (std::nothrow) unsigned char[kCopyBytes + 1];
    auto* second = first != nullptr ? new (std::nothrow) unsigned char[kCopyBytes + 1] : nullptr;
    if (second == nullptr) {
        // Short of memory: nothing ran, so no time is printed.
        delete[] first;
        gmp.gmpPrintf("Copy 2 GB   nicht genug Speicher\n\n");
        return 1;
    }
    fillCopySteps(first, second, kCopyBytes);
    delete[] first;
    delete[] second;
    const int32_t end = clockMs();
    gmp.gmpPrintf("Copy 2 GB   in %3.3f s\n\n", elapsedSeconds(start, end));
    return 0;
}
