// What a cpubench transcript holds: its fixed texts, and the nine result
// lines in the order they are printed, with the values every correct run
// prints. This is the one place these values are kept.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace expected {

inline constexpr std::string_view kBanner = "Varnholm's CPU Benchmark 2018";
inline constexpr std::string_view kEndPrompt = "fertig! Beenden mit ENTER";
// No line of a real run takes as long as this (seconds): a longer time is a
// damaged or made-up transcript, never a slow machine.
inline constexpr double kLongestTime = 86400;
// Printed by the copy line in place of its time.
inline constexpr std::string_view kOutOfMemory = "nicht genug Speicher";

// When GMP cannot be bound, one of these is the whole output (no banner, no
// line feed after it).
inline constexpr std::array<std::string_view, 11> kBindingFailures = {
    "libgmp.so.10 nicht gefunden", "libgmp-10.dll nicht gefunden",
    "Error mpz_add",          "Error mpz_add_ui",
    "Error mpz_pow_ui",       "Error mpz_probab_prime",
    "Error mpz_sub_ui",       "Error mpz_init_set_ui",
    "Error gmp_printf",       "Error mpz_init_set_str",
    "Error mpz_mod",
};

enum class Values {
    fingerprint, // depend on the C library's log: compared between files
    fixed,       // the same on every machine
    none,        // a time only
};

struct ResultLine {
    std::string_view label; // how the line starts
    Values kind;
    std::size_t count; // how many values the line prints
    std::array<std::string_view, 3> values; // the fixed values, in order
};

inline constexpr std::size_t kLineCount = 9;

inline constexpr std::array<ResultLine, kLineCount> kLines = {{
    {"double mul log", Values::fingerprint, 3, {}},
    {"SSE2 _mm_mul_pd", Values::fixed, 2, {"741.77454342945498", "166507.146153411275009"}},
    {"GMP mpz_pow_ui", Values::fixed, 1, {"5004229104086913198124845349396819872827"}},
    {"INT64MulDiv128", Values::fixed, 2, {"60060930203205007", "73808544117964"}},
    {"4Kern MulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}},
    {"8Kern MulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}},
    {"18KernMulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}},
    {"MUL-Mod 32 Bit", Values::fixed, 2, {"54885", "65537"}},
    {"Copy 2 GB", Values::none, 0, {}},
}};

} // namespace expected
