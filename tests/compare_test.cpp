// cpubench-compare: reading transcripts as people save or copy them, the
// checks of the fixed values, the statistics over several runs, the tables,
// and the executable's exit statuses and outputs.
#include "comparison.h"
#include "files.h"
#include "numbers.h"
#include "phrases.h"
#include "read.h"
#include "table.h"
#include "transcript.h"
#include "write.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

using namespace cpubench;

// A complete run as cpubench prints it: no line feed after the prompt.
const std::string kRun = "Varnholm's CPU Benchmark 2018 \n\n"
                         "double mul log =1.10599194636449 -3.141404674090610 3.440 in 2.379 s\n\n"
                         "SSE2 _mm_mul_pd=741.77454342945498 166507.146153411275009 in 2.717 s\n\n"
                         "GMP mpz_pow_ui = 5004229104086913198124845349396819872827 in 1.791 s\n\n"
                         "INT64MulDiv128 = 60060930203205007 Mod=73808544117964     in 0.655 s\n\n"
                         "4Kern MulDiv128= 60060928422058037 K2=60060928422058037   in 1.396 s\n"
                         "8Kern MulDiv128= 60060928422058037 K2=60060928422058037   in 2.717 s\n"
                         "18KernMulDiv128= 60060928422058037 K2=60060928422058037   in 5.979 s\n\n"
                         "MUL-Mod 32 Bit = 54885 u32A= 65537  in 4.135 s\n\n"
                         "Copy 2 GB   in 110.854 s\n\n"
                         "fertig! Beenden mit ENTER";
const std::vector<std::string> kTimes = {"2.379", "2.717", "1.791", "0.655", "1.396",
                                         "2.717", "5.979", "4.135", "110.854"};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A machine of one run, as a file argument makes it.
Machine single(const std::string& name, const std::string& text)
{
    Machine machine;
    machine.name = machine.source = name;
    machine.runs.push_back({name, readTranscript(text)});
    return machine;
}

// The time as the transcript printed it, or "" without one.
std::string timeOf(const LineResult& line)
{
    return line.time ? timeText(*line.time) : "";
}

// A run's problems as sentences, the way the outputs give them.
std::vector<std::string> problemsOf(const Transcript& t)
{
    std::vector<std::string> texts;
    for (const TranscriptProblem& problem : t.problems)
        texts.push_back(problemText(problem));
    return texts;
}

std::string cellOf(const Comparison& c, const Cell& cell)
{
    const CellText text = cellText(cell, c.settings);
    return text.time + " " + text.range + " " + text.ratio + text.verdict + " " + text.interval + " " + text.mark;
}

// The run up to and including the line that starts with `label`.
std::string endingAfter(const std::string& label)
{
    return kRun.substr(0, kRun.find('\n', kRun.find(label)) + 1);
}

TEST(CompareRead, AcceptsTranscriptsAsSavedOrCopied)
{
    std::string utf16 = "\xFF\xFE";
    for (char c : replaced(kRun, "\n", "\r\n"))
        utf16 += std::string{c, '\0'};
    const std::pair<const char*, std::string> variants[] = {
        {"as printed", kRun},
        {"CR LF", replaced(kRun, "\n", "\r\n") + "\r\n"},
        {"trailing blanks", replaced(kRun, "\n", "  \t\n") + " "},
        {"prompt with line feed", kRun + "\n"},
        {"blank lines lost", replaced(kRun, "\n\n", "\n")},
        {"blank lines added", replaced(kRun, "\n", "\n\n\n")},
        {"shell prompt after the end prompt", kRun + "user@host:~$ "},
        {"UTF-16 from PowerShell", utf16},
        {"an earlier broken run", endingAfter("GMP") + "Error mpz_mod\n" + kRun},
    };
    for (const auto& [name, text] : variants) {
        SCOPED_TRACE(name);
        const Transcript t = readTranscript(text);
        EXPECT_TRUE(t.recognised());
        EXPECT_TRUE(t.good());
        for (size_t i = 0; i < kTimes.size(); ++i) {
            EXPECT_EQ(timeOf(t.lines[i]), kTimes[i]) << "line " << i;
            EXPECT_DOUBLE_EQ(t.lines[i].time->seconds, std::stod(kTimes[i])) << "line " << i;
            EXPECT_NE(t.lines[i].mark, Mark::wrong) << "line " << i;
        }
        EXPECT_EQ(t.lines[0].values, (std::vector<std::string>{"1.10599194636449", "-3.141404674090610", "3.440"}));
    }
}

// Each fixed value, one digit changed: the line named with both texts.
struct WrongValue {
    const char* head; // the line up to and including the value
    const char* value;
};

void PrintTo(const WrongValue& wrong, std::ostream* out) { *out << wrong.head; }

class CompareWrongValue : public testing::TestWithParam<WrongValue> {};

TEST_P(CompareWrongValue, IsNamedWithExpectedAndFound)
{
    const std::string head = GetParam().head;
    std::string changed = head;
    changed.back() = changed.back() == '9' ? '0' : static_cast<char>(changed.back() + 1);
    std::string label = head.substr(0, head.find('='));
    label.erase(label.find_last_not_of(' ') + 1);
    const std::string value = GetParam().value;
    const std::string found = value.substr(0, value.size() - 1) + changed.back();

    const Transcript t = readTranscript(replaced(kRun, head, changed));
    ASSERT_EQ(t.problems.size(), 1u);
    const TranscriptProblem& problem = t.problems[0];
    EXPECT_EQ(problem.kind, TranscriptProblem::Kind::wrongValue);
    EXPECT_EQ(kLines.at(problem.line).label, label);
    EXPECT_EQ(kLines[problem.line].values.at(problem.value), value);
    EXPECT_EQ(problem.found, std::vector<std::string>{found});
    for (size_t i = 0; i < t.lines.size(); ++i)
        EXPECT_EQ(t.lines[i].mark == Mark::wrong, kLines[i].label == label) << "line " << i;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFixedValue, CompareWrongValue,
    testing::Values(WrongValue{"SSE2 _mm_mul_pd=741.77454342945498", "741.77454342945498"},
                    WrongValue{"SSE2 _mm_mul_pd=741.77454342945498 166507.146153411275009", "166507.146153411275009"},
                    WrongValue{"GMP mpz_pow_ui = 5004229104086913198124845349396819872827",
                               "5004229104086913198124845349396819872827"},
                    WrongValue{"INT64MulDiv128 = 60060930203205007", "60060930203205007"},
                    WrongValue{"INT64MulDiv128 = 60060930203205007 Mod=73808544117964", "73808544117964"},
                    WrongValue{"4Kern MulDiv128= 60060928422058037", "60060928422058037"},
                    WrongValue{"4Kern MulDiv128= 60060928422058037 K2=60060928422058037", "60060928422058037"},
                    WrongValue{"8Kern MulDiv128= 60060928422058037", "60060928422058037"},
                    WrongValue{"8Kern MulDiv128= 60060928422058037 K2=60060928422058037", "60060928422058037"},
                    WrongValue{"18KernMulDiv128= 60060928422058037", "60060928422058037"},
                    WrongValue{"18KernMulDiv128= 60060928422058037 K2=60060928422058037", "60060928422058037"},
                    WrongValue{"MUL-Mod 32 Bit = 54885", "54885"},
                    WrongValue{"MUL-Mod 32 Bit = 54885 u32A= 65537", "65537"}));

// A problem's fields in a few words: its kind, its line, what was found
// and the lines missing.
std::string fieldsOf(const TranscriptProblem& problem)
{
    std::string text = problemName(problem.kind);
    if (problem.line < kLineCount)
        text += " " + std::string(kLines[problem.line].label);
    for (const std::string& found : problem.found)
        text += " [" + found + "]";
    for (const std::size_t line : problem.missing)
        text += " -" + std::string(kLines[line].label);
    return text;
}

TEST(CompareRead, SaysWhyATranscriptIsIncomplete)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {endingAfter("INT64MulDiv128"), {"ends_early INT64MulDiv128"}},
        {replaced(kRun, "in 110.854 s", "nicht genug Speicher"), {"out_of_memory Copy 2 GB"}},
        {replaced(kRun, "8Kern MulDiv128= 60060928422058037 K2=60060928422058037   in 2.717 s\n", ""),
         {"lines_missing -8Kern MulDiv128"}},
        {replaced(kRun, "Mod=73808544117964     in 0.655 s", "Mod=7380854"),
         {"no_time INT64MulDiv128", "wrong_value INT64MulDiv128 [7380854]"}},
        {replaced(kRun, "= 54885 u32A= 65537", "= 54885"), {"value_count MUL-Mod 32 Bit [54885]"}},
        {"Error mpz_add_ui", {"not_bound [Error mpz_add_ui]"}},
        {"libgmp.so.10 nicht gefundenuser@host:~$ \n", {"not_bound [libgmp.so.10 nicht gefunden]"}},
        {kRun.substr(kRun.find("double")), {"no_banner"}},
        {replaced(kRun, "in 1.791 s", "in 0.000 s"), {"impossible_time GMP mpz_pow_ui [0.000]"}},
    };
    for (const auto& [text, problems] : cases) {
        SCOPED_TRACE(text);
        const Transcript t = readTranscript(text);
        EXPECT_TRUE(t.recognised());
        std::vector<std::string> found;
        for (const TranscriptProblem& problem : t.problems)
            found.push_back(fieldsOf(problem));
        EXPECT_EQ(found, problems);
    }
    // The lines before the end are still compared.
    const Transcript early = readTranscript(endingAfter("INT64MulDiv128"));
    EXPECT_EQ(early.lines[3].mark, Mark::exact);
    EXPECT_EQ(timeOf(early.lines[3]), "0.655");
    EXPECT_EQ(early.lines[4].mark, Mark::missing);
    // In words, as every output gives them.
    EXPECT_EQ(problemsOf(readTranscript(replaced(kRun, "Mod=73808544117964     in 0.655 s", "Mod=7380854"))),
              (std::vector<std::string>{"incomplete: INT64MulDiv128: no time (line cut off?)",
                                        "INT64MulDiv128: expected 73808544117964, found 7380854"}));
    EXPECT_EQ(problemsOf(early), std::vector<std::string>{"incomplete: ends early after INT64MulDiv128 (no end prompt)"});

    for (const char* text : {"", "notes\n\nCopy 2 GBytes in 3 s\n", "fertig! Beenden mit ENTER"})
        EXPECT_FALSE(readTranscript(text).recognised()) << text;
}

TEST(CompareReport, RatiosFingerprintsAndProblems)
{
    const std::string other = replaced(replaced(kRun, "=1.10599194636449 -3.141404674090610 3.440 in 2.379",
                                                "=0.5 -2.25 3.000 in 4.758"),
                                       "5004229104086913198124845349396819872827", "17");
    const Comparison files =
        compare({single("a.txt", kRun), single("machine-b.txt", other), single("c.txt", kRun)});

    std::ostringstream plain;
    writeText(plain, files, {});
    const std::string text = plain.str();
    // Times right-aligned, each part of a column aligned, the column as wide as its name.
    EXPECT_NE(text.find("\n                 a.txt        machine-b.txt                       c.txt\n"
                        "double mul log     2.379  A     4.758  2.00x?  1.11..3.59  B        2.379  1.00x?  0.56..1.79  A\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nGMP mpz_pow_ui     1.791  ok    1.791  1.00x?  0.54..1.85  WRONG    1.791  1.00x?  0.54..1.85  ok\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nCopy 2 GB        110.854      110.854  1.00x?  0.55..1.82         110.854  1.00x?  0.55..1.82\n"),
              std::string::npos);
    // One session each: its interval counts the default wander between
    // sittings, which decides nothing of this size, and says so.
    EXPECT_NE(text.find("\na.txt, machine-b.txt, c.txt: fewer than 4 sessions each, too few to measure a machine's own "
                        "wander\n  between sittings, so a verdict counts the default wander measured on another machine"),
              std::string::npos);
    EXPECT_NE(text.find("\nc.txt: undecided, the machines' wander between sittings (more runs will not decide; more "
                        "sessions of\n  each machine will): double mul log,"),
              std::string::npos);
    EXPECT_NE(text.find("log fingerprint A: a.txt, c.txt (1.10599194636449 -3.141404674090610 3.440)\n"
                        "log fingerprint B: machine-b.txt (0.5 -2.25 3.000)\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n  machine-b.txt: GMP mpz_pow_ui: expected 5004229104086913198124845349396819872827, found 17\n"),
              std::string::npos);

    std::ostringstream markdown;
    writeMarkdown(markdown, files, {true, false});
    EXPECT_NE(markdown.str().find("| run | a.txt | machine-b.txt | c.txt |\n|---|---|---|---|\n"
                                  "| double mul log | 2.379 A | 4.758 2.00x? 1.11..3.59 B | 2.379 1.00x? 0.56..1.79 A |\n"
                                  "| SSE2 \\_mm\\_mul\\_pd | 2.717 ok |"),
              std::string::npos)
        << markdown.str();
}

// A run whose GMP line took `gmp` seconds.
std::string withGmpTime(const std::string& gmp)
{
    return replaced(kRun, "in 1.791 s", "in " + gmp + " s");
}

// A machine with a run per time of its GMP line, as a directory makes it.
Machine lab(const std::string& name, const std::vector<std::string>& gmpTimes)
{
    Machine machine;
    machine.name = machine.source = name;
    for (size_t i = 0; i < gmpTimes.size(); ++i)
        machine.runs.push_back({name + "/run-" + std::to_string(i + 1) + ".txt", readTranscript(withGmpTime(gmpTimes[i]))});
    return machine;
}

// A recorded machine's GMP line judged against its usual figures: a run
// others slowed is left out and named with its cause, one slowed by itself
// is named irregular and kept, and a line disturbed in most runs keeps them
// all and says its verdict is weaker.
TEST(CompareStats, DisturbedAndIrregularRunsOfARecordedMachine)
{
    const size_t gmp = 2;
    const auto recorded = [&](const std::vector<std::string>& times, const std::vector<double>& others) {
        Machine machine = lab("rec", times);
        machine.cpus = 2;
        for (size_t r = 0; r < machine.runs.size(); ++r)
            for (size_t line = 0; line < kLineCount; ++line) {
                const double seconds = line == gmp ? std::stod(times[r]) : 1.0;
                machine.runs[r].figures[line] = LineFigures{seconds, line == gmp ? others[r] : 0.0, 0.0, 0.0, 0};
            }
        return machine;
    };
    // Run 2: others took 1.7 s of 2.6 s beyond the idle processor; run 4 took
    // 1.3 times the others with nothing else running.
    Comparison c = compare({recorded({"2.000", "2.600", "2.010", "2.600", "1.990"}, {0, 4.3, 0, 0, 0})});
    const analyse::LineJudgement& line = c.stats[0].disturbance.lines[gmp];
    EXPECT_EQ(line.runs[1].finding, analyse::Finding::disturbed);
    EXPECT_EQ(line.runs[1].cause, analyse::Cause::othersCpu);
    EXPECT_EQ(line.runs[3].finding, analyse::Finding::irregular);
    EXPECT_EQ(c.stats[0].lines[gmp].runs, 4u) << "the disturbed run left out, the irregular one kept";
    const std::vector<std::string> notes = noteTexts(c);
    const auto has = [&](const std::string& text) {
        return std::any_of(notes.begin(), notes.end(),
                           [&](const std::string& note) { return note.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("disturbed: rec/run-2.txt: GMP mpz_pow_ui: others took")) << notes.size();
    EXPECT_TRUE(has("irregular: rec/run-4.txt: GMP mpz_pow_ui: took 1.30 times the median of its other runs"));
    EXPECT_FALSE(has("rec/run-4.txt: GMP mpz_pow_ui took")) << "named once, not again as an outlier";

    // Others in three runs of four: all kept, and the line is weaker.
    c = compare({recorded({"2.600", "2.000", "2.650", "2.620"}, {4.3, 0, 4.4, 4.3})});
    EXPECT_EQ(c.stats[0].disturbance.lines[gmp].weakness, analyse::Weakness::mostRunsDisturbed);
    EXPECT_EQ(c.stats[0].lines[gmp].runs, 4u);
    EXPECT_TRUE(std::any_of(c.notes.begin(), c.notes.end(), [](const ComparisonNote& note) {
        return note.kind == ComparisonNote::Kind::disturbedSession;
    }));
}

TEST(CompareStats, MediansRangesRatiosAndVerdicts)
{
    const size_t gmp = 2;
    const Comparison c = compare({lab("base", {"1.200", "1.000", "1.100", "1.050"}),
                                  lab("even", {"2.000", "1.150", "1.301", "1.250"}),
                                  lab("once", {"1.100"})});
    const LineStats& base = c.stats[0].lines[gmp];
    EXPECT_EQ(timeText(base.median) + " " + timeText(base.fastest) + " " + timeText(base.slowest), "1.075 1.000 1.200");
    const LineStats& even = c.stats[1].lines[gmp];
    EXPECT_DOUBLE_EQ(even.median.seconds, (1.25 + 1.301) / 2); // the mean of the middle two
    EXPECT_EQ(timeText(even.median), "1.2755");
    // The ratio shown is the estimate the verdict rests on (the median of
    // the pairwise ratios), the ratio of the medians beside it.
    EXPECT_DOUBLE_EQ(*even.ratio, even.estimate->estimate);
    EXPECT_DOUBLE_EQ(*even.medianRatio, 1.2755 / 1.075);
    EXPECT_EQ(even.estimate->verdict, Verdict::undecided);
    // Every run the same time, but one session each: the wander between
    // sittings (the measured default) is most of the interval.
    EXPECT_EQ(c.stats[1].lines[1].estimate->verdict, Verdict::undecided);
    EXPECT_EQ(c.stats[1].lines[1].estimate->doubt, Doubt::tooMuchWander);
    EXPECT_EQ(c.stats[2].lines[gmp].estimate->verdict, Verdict::undecided);

    EXPECT_EQ(cellOf(c, tableCell(c, 1, gmp)), "1.2755 1.150..2.000 1.19x? 0.48..2.92 ok");
    EXPECT_FALSE(tableCell(c, 2, gmp).range);
    // The summary: the ratio of the runs' geometric means, and beside it the
    // geometric mean of the one-thread lines' ratios of medians.
    EXPECT_DOUBLE_EQ(*c.stats[1].summary.ratio, c.stats[1].summary.estimate->estimate);
    EXPECT_NEAR(*c.stats[1].summary.medianRatio, std::pow(1.2755 / 1.075, 1.0 / 5), 1e-12);
    EXPECT_FALSE(summaryCell(c, 0).againstBaseline);

    // Medians 1.035 and 1.044 are 1.01 apart, but the verdict rests on the
    // pairwise ratios: shown is their median, beyond 2% and inside its
    // interval (as wide as the machines' wander between sittings).
    const Comparison gmpRuns = compare({lab("a", {"1.041", "1.043", "1.000", "1.000", "1.035"}),
                                        lab("b", {"1.083", "1.048", "1.083", "1.042", "1.044", "1.040", "1.040"})});
    const CellText slower = cellText(tableCell(gmpRuns, 1, gmp), gmpRuns.settings);
    EXPECT_EQ(slower.ratio + slower.verdict + " " + slower.interval, "1.04x? 0.56..1.92");
}

// A wide comparison, as a lab of 30 machines makes it, stays within 100
// columns in every line of the text and the Markdown output.
TEST(CompareReport, ThirtyMachinesFitInAHundredColumns)
{
    std::vector<Machine> machines;
    for (int i = 1; i <= 30; ++i) {
        std::string name = "host-" + std::to_string(i);
        if (i % 7 == 0)
            name = "a-machine-with-a-rather-long-name-in-the-rack-number-" + std::to_string(i);
        Machine machine = lab(name, {"1.000", "1.100", "1.050", "2.900", "1.020"});
        if (i % 5 == 0)
            machine.runs[1].transcript = readTranscript(replaced(kRun, "in 110.854 s", "in 1234.567 s"));
        if (i == 9)
            machine.runs[2].transcript = readTranscript(replaced(kRun, "= 54885", "= 54895"));
        if (i == 11)
            machine.runs[0].transcript = readTranscript(replaced(kRun, "=1.10599194636449", "=1.5"));
        machines.push_back(machine);
    }
    const Comparison c = compare(machines);
    for (const bool markdown : {false, true}) {
        std::ostringstream out;
        (markdown ? writeMarkdown : writeText)(out, c, {markdown, false});
        std::istringstream lines(out.str());
        std::size_t count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            EXPECT_LE(line.size(), 100u) << (markdown ? "Markdown: " : "text: ") << line;
        EXPECT_GT(count, 40u);
        EXPECT_NE(out.str().find("host-30"), std::string::npos);
        EXPECT_NE(out.str().find("rack-number-28"), std::string::npos);
    }
}

TEST(CompareStats, FlawedRunsAreLeftOut)
{
    Machine mixed = lab("mixed", {"1.000", "9.000", "1.100"});
    mixed.runs[1].transcript = readTranscript(replaced(withGmpTime("9.000"), "= 54885", "= 54895"));
    Machine broken = lab("broken", {"3.000"});
    broken.runs[0].transcript = readTranscript(replaced(withGmpTime("3.000"), "in 110.854 s", "nicht genug Speicher"));
    const Comparison c = compare({mixed, broken});

    EXPECT_EQ(c.stats[0].used, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(c.stats[0].flagged);
    EXPECT_EQ(timeText(c.stats[0].lines[2].median), "1.050");
    EXPECT_EQ(c.stats[0].lines[7].mark, Mark::exact); // the wrong value is in the run left out
    // A machine without a good run still shows what it has, flagged.
    EXPECT_TRUE(c.stats[1].fromFlawedRuns);
    EXPECT_EQ(timeText(c.stats[1].lines[2].median), "3.000");
    EXPECT_EQ(c.stats[1].lines[8].runs, 0u);
    using Problem = ComparisonProblem;
    ASSERT_EQ(c.problems.size(), 2u);
    EXPECT_TRUE(c.problems[0].kind == Problem::Kind::run && c.problems[0].machine == 0 && c.problems[0].run == 1);
    EXPECT_TRUE(c.problems[1].kind == Problem::Kind::run && c.problems[1].machine == 1 && c.problems[1].run == 0);
    EXPECT_EQ(c.machines[1].runs[0].transcript.problems.at(0).kind, TranscriptProblem::Kind::outOfMemory);
    using Note = ComparisonNote;
    ASSERT_EQ(c.notes.size(), 3u);
    EXPECT_TRUE(c.notes[0].kind == Note::Kind::runsLeftOut && c.notes[0].machine == 0);
    EXPECT_EQ(c.notes[1].kind, Note::Kind::defaultWander); // one session each
    EXPECT_TRUE(c.notes[2].kind == Note::Kind::undecided && c.notes[2].machine == 1);
    EXPECT_EQ(c.stats[1].summary.estimate->doubt, Doubt::flawedRuns);
    // In words, as every output gives them.
    EXPECT_EQ(problemTexts(c), (std::vector<std::string>{
                                   "mixed/run-2.txt: MUL-Mod 32 Bit: expected 54885, found 54895",
                                   "broken/run-1.txt: incomplete: Copy 2 GB: nicht genug Speicher (not enough memory for "
                                   "the run)"}));
    const std::vector<std::string> notes = noteTexts(c);
    EXPECT_EQ(notes.at(0), "mixed: left out of its statistics: mixed/run-2.txt");
    EXPECT_EQ(notes.at(2), "broken: undecided on every line: no run complete with exact values.");
}

TEST(CompareStats, ImpossibleTimesAreFlawsOfTheirRuns)
{
    // A line cannot take no time, nor a day or longer: the run is left out
    // as a wrong one is.
    for (const std::string& time : std::vector<std::string>{"0.000", "90000.000"}) {
        const Comparison c = compare({lab("base", {"1.000", "1.010", "1.020", "1.030"}),
                                      lab("odd", {time, "1.100", "1.110", "1.120"})});
        EXPECT_EQ(c.stats[1].used, (std::vector<bool>{false, true, true, true})) << time;
        ASSERT_EQ(c.problems.size(), 1u);
        const TranscriptProblem& problem = c.machines[1].runs[0].transcript.problems.at(0);
        EXPECT_EQ(problem.kind, TranscriptProblem::Kind::impossibleTime);
        EXPECT_EQ(problem.line, 2u);
        EXPECT_EQ(problem.found, std::vector<std::string>{time});
        const double ratio = *c.stats[1].lines[2].ratio;
        EXPECT_TRUE(ratio > 1.05 && ratio < 1.15) << time;
        EXPECT_TRUE(std::isfinite(*c.stats[1].summary.ratio));
    }
}

TEST(CompareStats, RunsOfOneMachineWithDifferentLogFingerprints)
{
    Machine machine = lab("m", {"1.000", "1.000"});
    machine.runs[1].transcript = readTranscript(replaced(kRun, "=1.10599194636449", "=1.5"));
    const Comparison c = compare({single("other.txt", kRun), machine});
    EXPECT_EQ(tableCell(c, 1, 0).groups, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(cellText(tableCell(c, 1, 0), c.settings).mark, "A,B");
    ASSERT_EQ(c.groups.size(), 2u);
    EXPECT_EQ(memberTexts(c, c.groups[0]), (std::vector<std::string>{"other.txt", "m (m/run-1.txt)"}));
    EXPECT_EQ(c.groups[1].members.at(0).runs, std::vector<std::size_t>{1});
    ASSERT_EQ(c.notes.size(), 3u); // the default wander, and the undecided verdicts
    EXPECT_EQ(c.notes[0].kind, ComparisonNote::Kind::mixedFingerprints);
}

TEST(CompareRead, MachineDescriptions)
{
    MachineInfo info;
    EXPECT_FALSE(parseMachineInfo(R"({"processor": "AMD EPYC 7B13", "logical_cpus": 2, "memory_mib": 24036,
                                      "kernel": "6.1.0", "added_later": {"x": 1}})",
                                  info));
    EXPECT_EQ(info.processor, "AMD EPYC 7B13");
    EXPECT_EQ(info.logicalCpus, 2);
    EXPECT_EQ(info.memoryMib, 24036);
    EXPECT_EQ(info.os, "");
    // What the recorder writes, it reads back.
    MachineInfo again;
    EXPECT_FALSE(parseMachineInfo(writeMachineInfo(info), again));
    EXPECT_EQ(machineFacts(again), machineFacts(info));
    using Kind = FormatError::Kind;
    const std::tuple<const char*, Kind, const char*> broken[] = {
        {R"({"processor": "x",)", Kind::notJson, ""},
        {"[1, 2]", Kind::notObject, ""},
        {R"({"logical_cpus": "2"})", Kind::mustBeWholeNumber, "logical_cpus"},
        {R"({"os": 12})", Kind::mustBeString, "os"},
        // The texts are read first.
        {R"({"logical_cpus": "2", "os": 12})", Kind::mustBeString, "os"},
        // The facts that move with updates: a wrong type among them spoils the file too.
        {R"({"kernel": "6.1", "gmp_version": 6.2})", Kind::mustBeString, "gmp_version"},
        {R"({"kernel": "6.1", "mitigations": "none"})", Kind::mustBeObject, "mitigations"},
        {R"({"kernel": "6.1", "mitigations": {"mds": true}})", Kind::flawMustBeString, "mds"},
    };
    for (const auto& [text, kind, key] : broken) {
        const std::optional<FormatError> error = parseMachineInfo(text, info);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->kind, kind) << text;
        EXPECT_EQ(error->key, key) << text;
        EXPECT_TRUE(info.empty()) << text;
    }
    EXPECT_FALSE(parseMachineInfo(R"({"kernel": "6.1.0", "microcode": "0xa0011d1", "firmware_vendor": "ACME",
                                      "firmware_date": "04/01/2014", "glibc": "2.36", "gmp_version": "6.2.1",
                                      "gmp": "/usr/lib/libgmp.so.10.4.1", "governor": "performance",
                                      "cpubench_version": "1.1.0",
                                      "mitigations": {"spectre_v2": "Mitigation: Retpolines", "mds": "Not affected"}})",
                                  info));
    EXPECT_EQ(info.microcode + " " + info.firmwareVendor + " " + info.firmwareDate + " " + info.glibc + " " +
                  info.gmp + " " + info.gmpVersion + " " + info.governor + " " + info.cpubenchVersion,
              "0xa0011d1 ACME 04/01/2014 2.36 /usr/lib/libgmp.so.10.4.1 6.2.1 performance 1.1.0");
    EXPECT_EQ(info.mitigations.at("spectre_v2"), "Mitigation: Retpolines");
    EXPECT_TRUE(naturalLess("run-2.txt", "run-10.txt"));
    EXPECT_FALSE(naturalLess("run-10.txt", "run-2.txt"));
    EXPECT_TRUE(naturalLess("run-10.txt", "run-10b.txt"));
}

TEST(CompareRead, FactsListedAndDiffedByKey)
{
    MachineInfo before, after;
    ASSERT_FALSE(parseMachineInfo(R"({"governor": "powersave", "logical_cpus": 8, "kernel": "6.1.0-26",
                                      "mitigations": {"spectre_v2": "Vulnerable", "mds": "Not affected"}})",
                                  before));
    ASSERT_FALSE(parseMachineInfo(R"({"kernel": "6.1.0-27", "logical_cpus": 8, "microcode": "0xa0011d3",
                                      "mitigations": {"spectre_v2": "Mitigation: Retpolines", "retbleed": "Vulnerable",
                                                      "mds": "Not affected"}})",
                                  after));
    using Facts = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(machineFacts(before), (Facts{{"logical_cpus", "8"},
                                           {"kernel", "6.1.0-26"},
                                           {"mitigations.mds", "Not affected"},
                                           {"mitigations.spectre_v2", "Vulnerable"},
                                           {"governor", "powersave"}}));
    std::vector<std::string> changes;
    for (const FactChange& change : factChanges(before, after))
        changes.push_back(change.key + ": " + change.before + " -> " + change.after);
    EXPECT_EQ(changes, (std::vector<std::string>{"kernel: 6.1.0-26 -> 6.1.0-27", "microcode:  -> 0xa0011d3",
                                                 "mitigations.retbleed:  -> Vulnerable",
                                                 "mitigations.spectre_v2: Vulnerable -> Mitigation: Retpolines",
                                                 "governor: powersave -> "}));
    EXPECT_TRUE(factChanges(after, after).empty());
}

// Writes `text` to `file`, making its folders.
void writeFile(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A host folder of the lab: sessions in an order their names must restore
// (-10 after -2), a folder that is no session, loose transcripts of the
// layout before sessions, and a file in a session that is no transcript.
std::filesystem::path writeHistory(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path host = fs::path(testing::TempDir()) / name;
    fs::remove_all(host);
    writeFile(host / "run-1.txt", withGmpTime("0.500"));
    writeFile(host / "machine.json", R"({"kernel": "5.10"})");
    const std::pair<const char*, const char*> sessions[] = {{"2026-12-08T14.05Z-10", "1.400"},
                                                            {"2026-12-01T09.00Z", "1.100"},
                                                            {"2026-12-08T14.05Z-2", "1.300"},
                                                            {"2026-12-08T14.05Z", "1.200"}};
    for (const auto& [session, time] : sessions) {
        writeFile(host / session / "run-1.txt", withGmpTime(time));
        writeFile(host / session / "run-2.txt", withGmpTime(time));
        writeFile(host / session / "machine.json", std::string(R"({"kernel": ")") + session + "\"}");
    }
    writeFile(host / "2026-12-08T14.05Z" / "notes.txt", "not a run");
    writeFile(host / "backup" / "run-1.txt", withGmpTime("9.000")); // sorts after the dates, but is no session
    writeFile(host / "2026-12-09T08.00Z" / "machine.json", "{}"); // the run never started
    return host;
}

// The sessions of a history as read: name, runs, kernel, the first run's GMP time.
std::vector<std::string> sessionsOf(const History& history)
{
    std::vector<std::string> sessions;
    for (const Session& session : history.sessions)
        sessions.push_back(session.name + " " + std::to_string(session.machine.runs.size()) + " " +
                           session.machine.info.kernel + " " + timeOf(session.machine.runs[0].transcript.lines[2]));
    return sessions;
}

// Whether `path` names `name` last, after the system's separator ('\\' on
// Windows too).
bool endsWithName(const std::string& path, const std::string& name)
{
    if (path.size() <= name.size() || path.compare(path.size() - name.size(), name.size(), name) != 0)
        return false;
    const char separator = path[path.size() - name.size() - 1];
    return separator == '/' || separator == '\\';
}

TEST(CompareRead, HistoryOfSessionsInTimeOrder)
{
    const History history = readHistory(SystemTree{}, writeHistory("history_read").string());
    EXPECT_EQ(history.name, "history_read");
    EXPECT_EQ(sessionsOf(history), (std::vector<std::string>{"history_read 1 5.10 0.500",
                                                             "2026-12-01T09.00Z 2 2026-12-01T09.00Z 1.100",
                                                             "2026-12-08T14.05Z 2 2026-12-08T14.05Z 1.200",
                                                             "2026-12-08T14.05Z-2 2 2026-12-08T14.05Z-2 1.300",
                                                             "2026-12-08T14.05Z-10 2 2026-12-08T14.05Z-10 1.400"}));
    EXPECT_EQ(history.sessions[4].machine.runs[1].name, "history_read/2026-12-08T14.05Z-10/run-2.txt");
    ASSERT_EQ(history.errors.size(), 1u);
    EXPECT_EQ(history.errors[0].kind, ReadIssue::Kind::notTranscript);
    EXPECT_TRUE(endsWithName(history.errors[0].path, "notes.txt")) << history.errors[0].path;
    ASSERT_EQ(history.notes.size(), 1u);
    EXPECT_EQ(history.notes[0].kind, ReadIssue::Kind::notSession);
    EXPECT_TRUE(endsWithName(history.notes[0].path, "backup")) << history.notes[0].path;
    EXPECT_EQ(history.notes[0].count, 1u);

    const History none =
        readHistory(SystemTree{}, (std::filesystem::path(testing::TempDir()) / "history_read" / "2026-12-09T08.00Z").string());
    EXPECT_TRUE(none.sessions.empty());
    ASSERT_EQ(none.errors.size(), 1u);
    EXPECT_EQ(none.errors[0].kind, ReadIssue::Kind::noTranscript);
}

// The folders the fuzz targets build in memory are read as the same folders
// on disk are: one reader, two trees.
TEST(CompareRead, ATreeInMemoryReadsAsOnDisk)
{
    namespace fs = std::filesystem;
    const fs::path host = writeHistory("history_memory");
    MemoryTree memory;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(host)) {
        const std::string path = "history_memory/" + fs::relative(entry.path(), host).generic_string();
        if (entry.is_directory())
            memory.addFolder(path);
        else {
            std::ifstream in(entry.path(), std::ios::binary);
            memory.addFile(path, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        }
    }
    memory.addFolder("history_memory");
    const History onDisk = readHistory(SystemTree{}, host.string());
    const History inMemory = readHistory(memory, "history_memory");
    EXPECT_EQ(sessionsOf(inMemory), sessionsOf(onDisk));
    EXPECT_EQ(inMemory.errors.size(), onDisk.errors.size());
    EXPECT_EQ(inMemory.notes.size(), onDisk.notes.size());
    const MachineRead newest = readMachine(memory, "history_memory");
    EXPECT_EQ(newest.machine.newestSession, "2026-12-08T14.05Z-10");
    EXPECT_EQ(newest.machine.info.kernel, "2026-12-08T14.05Z-10");
    ASSERT_EQ(readMachine(memory, "history_memory/none.txt").errors.size(), 1u);
    memory.addFile("history_memory/big.txt", std::string(kMaxTranscriptBytes + 1, 'x'));
    const MachineRead big = readMachine(memory, "history_memory/big.txt");
    ASSERT_EQ(big.errors.size(), 1u);
    EXPECT_EQ(big.errors[0].file.kind, FileError::Kind::tooLarge);
}

TEST(CompareReport, TurnsWhenTheColumnsDoNotFit)
{
    std::vector<Machine> many;
    for (int i = 1; i <= 3; ++i)
        many.push_back(lab("machine-" + std::to_string(i), {"1.000", "1.010", "1.020", "1.030"}));
    many[2] = lab("machine-3", {"2.000", "2.010", "2.020", "2.030"});
    std::ostringstream wide, markdown;
    writeText(wide, compare(many), {});
    writeMarkdown(markdown, compare(many), {true, false});
    // The baseline's seconds, the others' ratios with their verdicts (one
    // session each: only a difference far beyond the wander is called).
    EXPECT_NE(wide.str().find("\nmachine   fp    log   SSE2    GMP MulDiv  4Kern  8Kern 18Kern MulMod    Copy geomean\n"
                              "machine-1 A   2.379  2.717  1.015  0.655  1.396  2.717  5.979  4.135 110.854\n"
                              "machine-2 A  1.00x? 1.00x? 1.00x? 1.00x? "),
              std::string::npos)
        << wide.str();
    EXPECT_NE(wide.str().find("\nmachine-3 A  1.00x? 1.00x? 1.99x+ "), std::string::npos) << wide.str();
    EXPECT_NE(markdown.str().find("|machine|fp|log|SSE2|GMP|MulDiv|4Kern|8Kern|18Kern|MulMod|Copy|geomean|\n"),
              std::string::npos)
        << markdown.str();
    EXPECT_NE(markdown.str().find("\n|machine-3|A|1.00x?|1.00x?|1.99x+|"), std::string::npos) << markdown.str();
}

#ifndef _WIN32
// The executable's exit status and what it printed; standard error goes to
// `errors` when given, else into `output`.
int runCompare(const std::string& arguments, std::string& output, std::string* errors = nullptr)
{
    // Named by the test: CTest runs tests side by side.
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string outFile = testing::TempDir() + test + "_output.txt";
    const std::string errFile = testing::TempDir() + test + "_errors.txt";
    const std::string command = std::string("\"") + CPUBENCH_COMPARE_EXE + "\" " + arguments + " >\"" + outFile +
                                "\" " + (errors != nullptr ? "2>\"" + errFile + "\"" : "2>&1");
    const int status = std::system(command.c_str());
    const auto slurp = [](const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    output = slurp(outFile);
    if (errors != nullptr)
        *errors = slurp(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CompareExecutable, ExitStatuses)
{
    const std::string dir = testing::TempDir();
    const std::pair<const char*, std::string> files[] = {
        {"good.txt", replaced(kRun, "\n", "\r\n")},
        {"bad.txt", replaced(kRun, "= 54885", "= 54895")},
        {"notes.txt", "shopping list\n"},
    };
    for (const auto& [name, text] : files)
        std::ofstream(dir + name, std::ios::binary) << text;

    std::string output;
    EXPECT_EQ(runCompare("\"" + dir + "good.txt\" \"" + dir + "good.txt\"", output), 0) << output;
    for (const std::string& time : kTimes)
        EXPECT_NE(output.find(time), std::string::npos) << time;

    EXPECT_EQ(runCompare("\"" + dir + "good.txt\" \"" + dir + "bad.txt\"", output), 1) << output;
    EXPECT_NE(output.find("bad.txt: MUL-Mod 32 Bit: expected 54885, found 54895"), std::string::npos) << output;

    EXPECT_EQ(runCompare("\"" + dir + "good.txt\" \"" + dir + "missing.txt\"", output), 2) << output;
    EXPECT_NE(output.find("missing.txt: cannot read"), std::string::npos) << output;
    EXPECT_EQ(output.find("Copy 2 GB"), std::string::npos) << output;

    EXPECT_EQ(runCompare("\"" + dir + "notes.txt\"", output), 2) << output;
    EXPECT_NE(output.find("notes.txt: not a cpubench transcript"), std::string::npos) << output;
    EXPECT_EQ(runCompare("--bogus \"" + dir + "good.txt\"", output), 2) << output;
}

TEST(CompareExecutable, DirectoriesAsMachines)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / "compare_lab";
    fs::remove_all(dir);
    for (const char* machine : {"fast", "slow", "empty"})
        fs::create_directories(dir / machine);
    const auto write = [](const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    };
    // run-10 comes after run-2; run-2 has a wrong digit and a time that would move the median.
    write(dir / "fast" / "run-1.txt", withGmpTime("1.000"));
    write(dir / "fast" / "run-2.txt", replaced(withGmpTime("9.000"), "= 54885", "= 54895"));
    write(dir / "fast" / "run-10.txt", withGmpTime("1.100"));
    write(dir / "fast" / "notes.md", "not a run");
    write(dir / "fast" / "machine.json", R"({"processor": "Test <CPU>", "logical_cpus": 8})");
    write(dir / "slow" / "run-1.txt", withGmpTime("2.000"));
    write(dir / "slow" / "run-2.txt", withGmpTime("2.200"));
    write(dir / "slow" / "machine.json", R"({"processor": "Test CPU",)");
    const std::string fast = "\"" + (dir / "fast").string() + "\"";
    const std::string slow = "\"" + (dir / "slow").string() + "/\"";

    std::string output, errors;
    EXPECT_EQ(runCompare("--json " + fast + " " + slow, output, &errors), 1) << output << errors;
    EXPECT_NE(errors.find("slow/machine.json: not valid JSON"), std::string::npos) << errors;
    const nlohmann::json doc = nlohmann::json::parse(output);
    EXPECT_EQ(doc["baseline"], "fast");
    EXPECT_EQ(doc["lines"].size(), kLineCount);
    const nlohmann::json& first = doc["machines"][0];
    EXPECT_EQ(first["info"], nlohmann::json::parse(R"({"processor": "Test <CPU>", "logical_cpus": 8})"));
    EXPECT_TRUE(first["flagged"].get<bool>());
    std::vector<std::string> runs;
    for (const nlohmann::json& run : first["runs"])
        runs.push_back(run["name"].get<std::string>() + (run["used"].get<bool>() ? "" : " left out"));
    EXPECT_EQ(runs, (std::vector<std::string>{"fast/run-1.txt", "fast/run-2.txt left out", "fast/run-10.txt"}));
    EXPECT_EQ(first["runs"][1]["problems"], nlohmann::json::array({"MUL-Mod 32 Bit: expected 54885, found 54895"}));
    EXPECT_EQ(first["runs"][1]["lines"][7]["values"], nlohmann::json::array({"54895", "65537"}));
    const nlohmann::json& gmp = first["statistics"][2];
    EXPECT_EQ(gmp["line"], "GMP mpz_pow_ui");
    EXPECT_EQ(gmp["runs"], 2);
    EXPECT_DOUBLE_EQ(gmp["median"].get<double>(), 1.05);
    EXPECT_DOUBLE_EQ(gmp["slowest"].get<double>(), 1.1);
    const nlohmann::json& second = doc["machines"][1];
    EXPECT_EQ(second["name"], "slow");
    EXPECT_FALSE(second["flagged"].get<bool>());
    EXPECT_NE(second["info_error"].get<std::string>().find("machine.json"), std::string::npos);
    EXPECT_DOUBLE_EQ(second["statistics"][2]["ratio"].get<double>(), 2.1 / 1.05);
    // Twice as slow is far beyond the wander between sittings, even with
    // two runs each and the default wander.
    EXPECT_EQ(second["statistics"][2]["verdict"], "slower");
    EXPECT_LT(second["statistics"][2]["ratio_low"].get<double>(), 2.0);
    EXPECT_GT(second["statistics"][2]["wander_share"].get<double>(), 0.5);
    EXPECT_EQ(second["wander"]["source"], "default");
    EXPECT_EQ(doc["problems"], nlohmann::json::array({"fast/run-2.txt: MUL-Mod 32 Bit: expected 54885, found 54895"}));

    // The table says the same; the HTML report is written beside it.
    const std::string html = (dir / "report.html").string();
    EXPECT_EQ(runCompare(fast + " " + slow + " --html \"" + html + "\"", output), 1) << output;
    EXPECT_NE(output.find("fast: left out of its statistics: fast/run-2.txt"), std::string::npos) << output;
    EXPECT_NE(output.find("\nGMP mpz_pow_ui     1.050      1.000..1.100  ok    2.100      2.000..2.200  2.00x+  1.03..3.90  ok\n"),
              std::string::npos) << output;
    EXPECT_TRUE(fs::exists(html));

    EXPECT_EQ(runCompare("\"" + (dir / "empty").string() + "\"", output), 2) << output;
    EXPECT_NE(output.find("empty: no transcript"), std::string::npos) << output;
}

TEST(CompareExecutable, NewestSessionOfAHistory)
{
    namespace fs = std::filesystem;
    const fs::path host = writeHistory("history_host");
    fs::remove(host / "2026-12-08T14.05Z" / "notes.txt");
    const fs::path old = fs::path(testing::TempDir()) / "history_old";
    fs::remove_all(old);
    writeFile(old / "run-1.txt", withGmpTime("2.800"));
    writeFile(old / "run-2.txt", withGmpTime("2.800"));

    std::string output, errors;
    EXPECT_EQ(runCompare("--json \"" + host.string() + "\" \"" + old.string() + "\"", output, &errors), 0)
        << output << errors;
    const nlohmann::json doc = nlohmann::json::parse(output);
    const nlohmann::json& newest = doc["machines"][0];
    EXPECT_EQ(newest["name"], "history_host");
    EXPECT_EQ(newest["session"], "2026-12-08T14.05Z-10");
    EXPECT_EQ(newest["info"]["kernel"], "2026-12-08T14.05Z-10");
    EXPECT_EQ(newest["runs"][0]["name"], "history_host/2026-12-08T14.05Z-10/run-1.txt");
    EXPECT_DOUBLE_EQ(newest["statistics"][2]["median"].get<double>(), 1.4);
    // The folder of the layout before sessions is read as it is.
    EXPECT_EQ(doc["machines"][1]["session"], nullptr);
    EXPECT_EQ(doc["machines"][1]["runs"][1]["name"], "history_old/run-2.txt");
    EXPECT_DOUBLE_EQ(doc["machines"][1]["statistics"][2]["ratio"].get<double>(), 2.0);
    ASSERT_GE(doc["notes"].size(), 3u); // then the verdicts of so few runs
    EXPECT_NE(doc["notes"][0].get<std::string>().find("backup: not a session folder"), std::string::npos);
    EXPECT_EQ(doc["notes"][1], "history_host: the transcripts directly in its folder (1, from before the lab kept "
                               "sessions) are left out; its newest session, 2026-12-08T14.05Z-10, is compared");
    EXPECT_EQ(doc["notes"][2], "Newest session compared: 2026-12-08T14.05Z-10 for history_host");

    // A session given by itself is named with its host.
    EXPECT_EQ(runCompare("\"" + (host / "2026-12-01T09.00Z").string() + "\" \"" + old.string() + "\"", output), 0)
        << output;
    EXPECT_NE(output.find("history_host/2026-12-01T09.00Z"), std::string::npos) << output;
}
TEST(CompareExecutable, HistoryStatusForAScheduledJob)
{
    namespace fs = std::filesystem;
    const fs::path host = fs::path(testing::TempDir()) / "history_job";
    fs::remove_all(host);
    // Three sessions alike, then a newest one whose GMP line is 30% slower,
    // on another kernel.
    for (int s = 1; s <= 4; ++s) {
        const std::string session = "2026-12-0" + std::to_string(s) + "T02.00Z";
        for (int r = 0; r < 4; ++r)
            writeFile(host / session / ("run-" + std::to_string(r + 1) + ".txt"),
                      withGmpTime(std::to_string((s == 4 ? 1.3 : 1.0) + 0.01 * r).substr(0, 5)));
        writeFile(host / session / "machine.json", s == 4 ? R"({"kernel": "6.1.0-27"})" : R"({"kernel": "6.1.0-26"})");
    }
    std::string output;
    EXPECT_EQ(runCompare("--history --json \"" + host.string() + "\"", output), 3) << output;
    const nlohmann::json doc = nlohmann::json::parse(output);
    ASSERT_EQ(doc["changes"].size(), 1u) << output;
    const nlohmann::json& change = doc["changes"][0];
    EXPECT_EQ(change["machine"], "history_job");
    EXPECT_EQ(change["line"], "GMP mpz_pow_ui");
    EXPECT_EQ(change["session"], "2026-12-04T02.00Z");
    EXPECT_EQ(change["verdict"], "slower");
    // The ratio of the levels (geometric means), the one its verdict rests on.
    EXPECT_NEAR(change["ratio"].get<double>(), change["after"].get<double>() / change["before"].get<double>(), 1e-12);
    EXPECT_NEAR(change["ratio"].get<double>(), 1.3, 0.01);
    EXPECT_LT(change["ratio_low"].get<double>(), change["ratio"].get<double>());
    EXPECT_EQ(change["facts"], nlohmann::json::parse(R"({"kernel": {"before": "6.1.0-26", "after": "6.1.0-27"}})"));
    EXPECT_EQ(doc["machines"][0]["sessions"].size(), 4u);

    // A wrong value in the newest session wins over the slowdown.
    writeFile(host / "2026-12-04T02.00Z" / "run-1.txt", replaced(withGmpTime("1.300"), "= 54885", "= 54895"));
    EXPECT_EQ(runCompare("--history \"" + host.string() + "\"", output), 1) << output;
    EXPECT_NE(output.find("history_job: values wrong from session 2026-12-04T02.00Z on"), std::string::npos) << output;
}
// Real sessions of this project's AMD EPYC machine (tests/data/README.md).
// A history of three normal sessions, then a GMP built without assembly
// code: the change is found at its first session, on the GMP line alone,
// and the nightly job's status is 3.
TEST(CompareExecutable, RealHistoryWithAGmpWithoutAssemblyCode)
{
    std::string output, errors;
    const std::string history = std::string("\"") + CPUBENCH_TEST_DATA + "/histories/gmp\"";
    EXPECT_EQ(runCompare("--history --json " + history, output, &errors), 3) << output << errors;
    const nlohmann::json doc = nlohmann::json::parse(output);
    std::vector<std::string> changes;
    for (const nlohmann::json& change : doc["changes"])
        changes.push_back(change["line"].get<std::string>() + " " + change["session"].get<std::string>() + " " +
                          change["verdict"].get<std::string>());
    EXPECT_EQ(changes, std::vector<std::string>{"GMP mpz_pow_ui 2026-12-09T05.18Z slower"}) << output;
    EXPECT_EQ(runCompare("--history " + history, output), 3);
    EXPECT_NE(output.find("changed then: gmp /usr/lib/x86_64-linux-gnu/libgmp.so.10.4.1 ->"), std::string::npos)
        << output;
    // The morning after: the three normal sessions and the first with the
    // other GMP alone, four sessions of their own wander.
    namespace fs = std::filesystem;
    const fs::path four = fs::path(testing::TempDir()) / "gmp-four" / "gmp";
    fs::remove_all(four.parent_path());
    fs::create_directories(four);
    for (const char* session : {"2026-12-09T04.25Z", "2026-12-09T04.50Z", "2026-12-09T05.15Z", "2026-12-09T05.18Z"})
        fs::copy(fs::path(CPUBENCH_TEST_DATA) / "histories" / "gmp" / session, four / session);
    EXPECT_EQ(runCompare("--history --json \"" + four.string() + "\"", output, &errors), 3) << output << errors;
    const nlohmann::json after = nlohmann::json::parse(output);
    ASSERT_EQ(after["changes"].size(), 1u) << output;
    EXPECT_EQ(after["changes"][0]["line"], "GMP mpz_pow_ui");
    EXPECT_EQ(after["changes"][0]["session"], "2026-12-09T05.18Z");
}

// Six quiet sessions of that machine, 25 minutes apart, compared pairwise
// as sittings (one session each, so the default wander): no false + or -
// on any row. And the newest against the folder of all six (its own wander
// from its sessions): no false difference either.
TEST(CompareExecutable, RealSittingsOfOneMachineShowNoFalseDifference)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(CPUBENCH_TEST_DATA) / "sessions" / "amd-epyc";
    std::vector<fs::path> sessions;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        sessions.push_back(entry.path());
    std::sort(sessions.begin(), sessions.end());
    ASSERT_EQ(sessions.size(), 6u);
    const auto differs = [](const nlohmann::json& machine) {
        std::vector<std::string> rows;
        for (const nlohmann::json& line : machine["statistics"])
            if (line["verdict"] == "slower" || line["verdict"] == "faster")
                rows.push_back(line["line"].get<std::string>());
        if (machine["summary"]["verdict"] == "slower" || machine["summary"]["verdict"] == "faster")
            rows.push_back("summary");
        return rows;
    };
    for (std::size_t a = 0; a < sessions.size(); ++a)
        for (std::size_t b = a + 1; b < sessions.size(); ++b) {
            std::string output;
            ASSERT_EQ(runCompare("--json \"" + sessions[a].string() + "\" \"" + sessions[b].string() + "\"", output), 0)
                << output;
            const nlohmann::json doc = nlohmann::json::parse(output);
            EXPECT_EQ(doc["machines"][1]["wander"]["source"], "default");
            EXPECT_EQ(differs(doc["machines"][1]), std::vector<std::string>{}) << a << " " << b;
        }
    std::string output;
    ASSERT_EQ(runCompare("--json \"" + sessions[2].string() + "\" \"" + folder.string() + "\"", output), 0) << output;
    const nlohmann::json doc = nlohmann::json::parse(output);
    EXPECT_EQ(doc["machines"][1]["wander"]["source"], "sessions");
    EXPECT_EQ(doc["machines"][1]["wander"]["sessions"], 6);
    EXPECT_EQ(differs(doc["machines"][1]), std::vector<std::string>{});
}
#endif

} // namespace
