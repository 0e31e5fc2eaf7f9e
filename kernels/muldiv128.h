#pragma once

#include <cstdint>

// Forms the full 128-bit product a * b with one unsigned 64x64->128-bit
// multiply instruction, divides it by d with one unsigned 128/64-bit divide
// instruction, stores the remainder through rem and returns the quotient.
//
// Precondition, not checked: d != 0 and the high 64 bits of a * b are less
// than d (the quotient fits in 64 bits). Otherwise the divide instruction
// raises a divide error and the process dies.
//
// It is a routine of its own, never inlined: the call in every iteration is
// part of the measured work.
uint64_t MulDiv128(uint64_t a, uint64_t b, uint64_t d, uint64_t* rem);
