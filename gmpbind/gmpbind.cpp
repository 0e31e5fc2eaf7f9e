#include "gmpapi.h"

#include "driver/console.h"
#include "platform/platform.h"

#include <cstdio>

namespace {

template <typename Entry>
void assign(Entry& entry, void* address)
{
    entry = reinterpret_cast<Entry>(address);
}

// The exported names, in the order they are looked up, with the message
// printed when one is missing. The first missing name stops the look-up.
struct Lookup {
    const char* symbol;
    const char* missingMessage;
};

constexpr int kEntryCount = 9;

const Lookup kLookups[kEntryCount] = {
    {"__gmpz_add", "Error mpz_add"},
    {"__gmpz_add_ui", "Error mpz_add_ui"},
    {"__gmpz_pow_ui", "Error mpz_pow_ui"},
    {"__gmpz_probab_prime_p", "Error mpz_probab_prime"},
    {"__gmpz_sub_ui", "Error mpz_sub_ui"},
    {"__gmpz_init_set_ui", "Error mpz_init_set_ui"},
    {"__gmp_printf", "Error gmp_printf"},
    {"__gmpz_init_set_str", "Error mpz_init_set_str"},
    {"__gmpz_mod", "Error mpz_mod"},
};

} // namespace

bool bindGmp(GmpApi& api)
{
    api = GmpApi{};
    void* library = loadLibrary(kGmpLibraryFile);
    if (library == nullptr) {
        std::printf("%s", kGmpNotFoundMessage);
        std::fflush(stdout);
        return false;
    }

    void* found[kEntryCount];
    for (int i = 0; i < kEntryCount; ++i) {
        found[i] = lookUpSymbol(library, kLookups[i].symbol);
        if (found[i] == nullptr) {
            std::printf("%s", kLookups[i].missingMessage);
            waitForKey();
            releaseLibrary(library);
            return false;
        }
    }

    api.library = library;
    assign(api.mpzAdd, found[0]);
    assign(api.mpzAddUi, found[1]);
    assign(api.mpzPowUi, found[2]);
    assign(api.mpzProbabPrimeP, found[3]);
    assign(api.mpzSubUi, found[4]);
    assign(api.mpzInitSetUi, found[5]);
    assign(api.gmpPrintf, found[6]);
    assign(api.mpzInitSetStr, found[7]);
    assign(api.mpzMod, found[8]);
    return true;
}

void releaseGmp(GmpApi& api)
{
    if (api.library != nullptr)
        releaseLibrary(api.library);
    api = GmpApi{};
}
