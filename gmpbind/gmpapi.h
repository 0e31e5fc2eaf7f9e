// The GMP entry points the benchmark needs, bound at run time. GMP is not
// linked at build time: its header only gives the types and signatures.
#pragma once

#include <gmp.h>

// gmp.h defines the public names (mpz_add, gmp_printf, ...) as macros for
// the exported ones (__gmpz_add, __gmp_printf, ...); decltype of the public
// name gives each pointer GMP's own signature.
struct GmpApi {
    void* library;
    decltype(&mpz_add) mpzAdd;
    decltype(&mpz_add_ui) mpzAddUi;
    decltype(&mpz_pow_ui) mpzPowUi;
    decltype(&mpz_probab_prime_p) mpzProbabPrimeP;
    decltype(&mpz_sub_ui) mpzSubUi;
    decltype(&mpz_init_set_ui) mpzInitSetUi;
    decltype(&gmp_printf) gmpPrintf;
    decltype(&mpz_init_set_str) mpzInitSetStr;
    decltype(&mpz_mod) mpzMod;
};

// Loads the GMP library and looks up all nine entries. Returns true with
// the table filled. Otherwise the failure has been reported (and, after a
// failed look-up, a key awaited and the library released): the caller ends
// the run with status 1.
bool bindGmp(GmpApi& api);

// Releases the library; no entry may be called afterwards.
void releaseGmp(GmpApi& api);
