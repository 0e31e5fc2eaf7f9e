// Optimizer barriers. Each is an empty asm statement that emits no
// instruction; it only tells the compiler what it may not assume, so that
// the timed loops keep exactly the work they are written with.
#pragma once

#include <cstdint>
#include <emmintrin.h>

// The value must be computed: the asm reads it.
inline void sinkValue(double value) { asm volatile("" : : "x"(value)); }

// The value must be computed, and is unknown afterwards: a constant passed
// through here can neither be folded into the work nor the work hoisted.
inline void launderValue(double& value) { asm volatile("" : "+x"(value)); }
inline void launderValue(__m128i& value) { asm volatile("" : "+x"(value)); }
inline void launderValue(uint32_t& value) { asm volatile("" : "+r"(value)); }
// The same for a 64-bit integer, in a general-purpose register. A constant
// laundered before a loop stays in a register across it: the compiler can
// no longer load it afresh as an immediate in every iteration (which some
// compiler releases choose and others do not).
inline void launderValue(uint64_t& value) { asm volatile("" : "+r"(value)); }

// The memory reachable through the pointer may be read and written here:
// stores before it are kept, loads after it are really made. The pointer
// escapes, so later memory barriers cover that memory too.
inline void touchMemory(const void* pointer) { asm volatile("" : : "r"(pointer) : "memory"); }
