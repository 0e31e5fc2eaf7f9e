#include "muldiv128.h"

// Kept in a translation unit of its own (and built without link-time
// optimisation) so that no caller sees its body: it is always a real call.
__attribute__((noinline)) uint64_t MulDiv128(uint64_t a, uint64_t b, uint64_t d, uint64_t* rem)
{
    uint64_t quotient;
    uint64_t remainder;
    // mul: rdx:rax = rax * b; div: rax = rdx:rax / d, rdx = rdx:rax % d.
    // The early-clobber on rdx keeps b and d out of the register the
    // multiply overwrites. A plain unsigned __int128 division would compile
    // to a call of the library routine __udivti3 instead of one div.
    asm("mulq %[b]\n\t"
        "divq %[d]"
        : "=a"(quotient), "=&d"(remainder)
        : "0"(a), [b] "r"(b), [d] "r"(d)
        : "cc");
    *rem = remainder;
    return quotient;
}
