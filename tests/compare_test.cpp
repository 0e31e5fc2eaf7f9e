// cpubench-compare: reading transcripts as people save or copy them, the
// checks of the fixed values, the table, and the executable's exit statuses.
#include "report.h"
#include "transcript.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

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
        EXPECT_EQ(t.problems, std::vector<std::string>{});
        for (size_t i = 0; i < kTimes.size(); ++i) {
            EXPECT_EQ(t.lines[i].time, kTimes[i]) << "line " << i;
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
    EXPECT_EQ(t.problems, std::vector<std::string>{label + ": expected " + value + ", found " + found});
    for (size_t i = 0; i < t.lines.size(); ++i)
        EXPECT_EQ(t.lines[i].mark == Mark::wrong, expected::kLines[i].label == label) << "line " << i;
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

TEST(CompareRead, SaysWhyATranscriptIsIncomplete)
{
    const std::string prompt = "fertig! Beenden mit ENTER";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {endingAfter("INT64MulDiv128"), {"incomplete: ends early after INT64MulDiv128 (no end prompt)"}},
        {replaced(kRun, "in 110.854 s", "nicht genug Speicher"),
         {"incomplete: Copy 2 GB: nicht genug Speicher (not enough memory for the run)"}},
        {replaced(kRun, "8Kern MulDiv128= 60060928422058037 K2=60060928422058037   in 2.717 s\n", ""),
         {"incomplete: lines missing: 8Kern MulDiv128"}},
        {replaced(kRun, "Mod=73808544117964     in 0.655 s", "Mod=7380854"),
         {"incomplete: INT64MulDiv128: no time (line cut off?)",
          "INT64MulDiv128: expected 73808544117964, found 7380854"}},
        {"Error mpz_add_ui", {"incomplete: GMP could not be bound: Error mpz_add_ui"}},
        {"libgmp.so.10 nicht gefundenuser@host:~$ \n",
         {"incomplete: GMP could not be bound: libgmp.so.10 nicht gefunden"}},
        {kRun.substr(kRun.find("double")), {"incomplete: no banner line"}},
    };
    for (const auto& [text, problems] : cases) {
        SCOPED_TRACE(text);
        const Transcript t = readTranscript(text);
        EXPECT_TRUE(t.recognised());
        EXPECT_EQ(t.problems, problems);
    }
    // The lines before the end are still compared.
    const Transcript early = readTranscript(endingAfter("INT64MulDiv128"));
    EXPECT_EQ(early.lines[3].mark, Mark::exact);
    EXPECT_EQ(early.lines[3].time, "0.655");
    EXPECT_EQ(early.lines[4].mark, Mark::missing);

    for (const char* text : {"", "notes\n\nCopy 2 GBytes in 3 s\n", "fertig! Beenden mit ENTER"})
        EXPECT_FALSE(readTranscript(text).recognised()) << text;
}

TEST(CompareReport, RatiosFingerprintsAndProblems)
{
    const std::string other = replaced(replaced(kRun, "=1.10599194636449 -3.141404674090610 3.440 in 2.379",
                                                "=0.5 -2.25 3.000 in 4.758"),
                                       "5004229104086913198124845349396819872827", "17");
    const std::vector<NamedTranscript> files = {
        {"a.txt", readTranscript(kRun)}, {"machine-b.txt", readTranscript(other)}, {"c.txt", readTranscript(kRun)}};

    std::ostringstream plain;
    writeReport(plain, files, false);
    const std::string text = plain.str();
    // Times right-aligned, each part of a column aligned, the column as wide as its name.
    EXPECT_NE(text.find("\n                 a.txt        machine-b.txt          c.txt\n"
                        "double mul log     2.379  A     4.758  2.00x  B        2.379  1.00x  A\n"), std::string::npos);
    EXPECT_NE(text.find("\nGMP mpz_pow_ui     1.791  ok    1.791  1.00x  WRONG    1.791  1.00x  ok\n"), std::string::npos);
    EXPECT_NE(text.find("\nCopy 2 GB        110.854      110.854  1.00x         110.854  1.00x\n"), std::string::npos);
    EXPECT_NE(text.find("log fingerprint A: a.txt, c.txt (1.10599194636449 -3.141404674090610 3.440)\n"
                        "log fingerprint B: machine-b.txt (0.5 -2.25 3.000)\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n  machine-b.txt: GMP mpz_pow_ui: expected 5004229104086913198124845349396819872827, found 17\n"),
              std::string::npos);

    std::ostringstream markdown;
    writeReport(markdown, files, true);
    EXPECT_NE(markdown.str().find("| run | a.txt | machine-b.txt | c.txt |\n|---|---|---|---|\n"
                                  "| double mul log | 2.379 A | 4.758 2.00x B | 2.379 1.00x A |\n"
                                  "| SSE2 \\_mm\\_mul\\_pd | 2.717 ok |"),
              std::string::npos);
}

#ifndef _WIN32
// The executable's exit status and everything it printed.
int runCompare(const std::string& arguments, std::string& output)
{
    const std::string outFile = testing::TempDir() + "compare_output.txt";
    const std::string command = std::string("\"") + CPUBENCH_COMPARE_EXE + "\" " + arguments + " >\"" + outFile + "\" 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(outFile, std::ios::binary);
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
#endif

} // namespace
