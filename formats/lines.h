// What a cpubench transcript holds: its fixed texts, and the nine result
// lines in the order they are printed, each with all that the programs know
// of it. This is the one place these facts are kept.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace cpubench {

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
    int threads;       // the benchmark's threads on the line: the team lines run 4, 8 and 18
    // Whether the line is one of those whose ratios make a machine's summary
    // figure: the work of one thread on the processor (the scalar, vector,
    // big-number, multiply-divide and multiply-modulo lines). The team lines
    // repeat the multiply-divide work and measure how the system shares
    // cores among more threads than it has; the copy line is mostly the
    // first touch of fresh memory, which varies by a fifth from run to run
    // on one machine.
    bool inSummary;
    std::string_view shortLabel; // a column heading of the turned table, which must fit ten of them in a line
};

inline constexpr std::size_t kLineCount = 9;

inline constexpr std::array<ResultLine, kLineCount> kLines = {{
    {"double mul log", Values::fingerprint, 3, {}, 1, true, "log"},
    {"SSE2 _mm_mul_pd", Values::fixed, 2, {"741.77454342945498", "166507.146153411275009"}, 1, true, "SSE2"},
    {"GMP mpz_pow_ui", Values::fixed, 1, {"5004229104086913198124845349396819872827"}, 1, true, "GMP"},
    {"INT64MulDiv128", Values::fixed, 2, {"60060930203205007", "73808544117964"}, 1, true, "MulDiv"},
    {"4Kern MulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}, 4, false, "4Kern"},
    {"8Kern MulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}, 8, false, "8Kern"},
    {"18KernMulDiv128", Values::fixed, 2, {"60060928422058037", "60060928422058037"}, 18, false, "18Kern"},
    {"MUL-Mod 32 Bit", Values::fixed, 2, {"54885", "65537"}, 1, true, "MulMod"},
    {"Copy 2 GB", Values::none, 0, {}, 1, false, "Copy"},
}};

// How many lines make the summary figure.
inline constexpr std::size_t kSummaryLineCount = [] {
    std::size_t count = 0;
    for (const ResultLine& line : kLines)
        count += line.inSummary ? 1 : 0;
    return count;
}();

} // namespace cpubench
