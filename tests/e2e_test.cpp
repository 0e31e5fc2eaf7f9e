// End-to-end tests: the real executable, its whole transcript and its exit
// status. The failure cases load small stand-in libraries that the test
// build makes; everything else uses the real GMP library.
//
// The settings come from the build, and can be overridden from the
// environment to run another build of the executable (for example through
// a runner command such as an emulator).
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

std::string setting(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> result;
    for (std::string w; in >> w;)
        result.push_back(w);
    return result;
}

std::vector<std::string> command(const std::vector<std::string>& arguments = {})
{
    std::vector<std::string> argv = words(setting("CPUBENCH_RUNNER", ""));
    argv.push_back(setting("CPUBENCH_EXE", CPUBENCH_EXE));
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

// The environment entry that puts a stand-in library first on the search path.
std::string standInPath(const std::string& name)
{
    const std::string var = setting("CPUBENCH_LIBRARY_PATH_VAR", "LD_LIBRARY_PATH");
    return var + "=" + setting("CPUBENCH_STANDIN_DIR", CPUBENCH_STANDIN_DIR) + "/" + name;
}

const std::string kNotFound = setting("CPUBENCH_NOT_FOUND", "libgmp.so.10 nicht gefunden");

// The captured output as the comparisons see it. A Windows program writes
// each line feed to a pipe as a carriage return and a line feed; with
// CPUBENCH_STRIP_CR=1 those pairs count as plain line feeds. A carriage
// return anywhere else stays and fails the comparison.
std::string shown(const ChildProcess& child)
{
    std::string text = child.output;
    if (setting("CPUBENCH_STRIP_CR", "") != "1")
        return text;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; ++at)
        text.erase(at, 1);
    return text;
}

// A full run takes about a minute on a two-core machine.
constexpr double kFullRunSeconds = 900;
constexpr double kQuickSeconds = 60;

// ---------------------------------------------------------------------------
// Binding failures

TEST(BindFailure, UnloadableLibraryPrintsItsMessageAndEndsWithoutWaiting)
{
    ChildProcess child = startChild(command(), {standInPath("unloadable")});
    // Standard input stays open: the run must end without reading it.
    ASSERT_TRUE(waitForExit(child, kQuickSeconds)) << "the run waited for input";
    EXPECT_EQ(shown(child), kNotFound);
    EXPECT_EQ(child.exitStatus, 1);
}

struct MissingCase {
    const char* standIn;
    const char* message;
};

void PrintTo(const MissingCase& c, std::ostream* out) { *out << c.standIn; }

class MissingEntry : public testing::TestWithParam<MissingCase> {};

TEST_P(MissingEntry, ReportsTheFirstMissingNameThenWaitsForAKey)
{
    ChildProcess child = startChild(command(), {standInPath(GetParam().standIn)});
    // The message stands on the screen during the wait.
    ASSERT_TRUE(readUntil(child, GetParam().message, kQuickSeconds)) << child.output;
    EXPECT_TRUE(isRunning(child)) << "ended before the key was pressed";
    writeStdin(child, "\n");
    ASSERT_TRUE(waitForExit(child, kQuickSeconds));
    EXPECT_EQ(shown(child), GetParam().message);
    EXPECT_EQ(child.exitStatus, 1);
}

// One stand-in lacks each name in turn; the last one lacks two and only the
// first of them in look-up order is reported.
INSTANTIATE_TEST_SUITE_P(
    EachName, MissingEntry,
    testing::Values(MissingCase{"no_add", "Error mpz_add"},
                    MissingCase{"no_add_ui", "Error mpz_add_ui"},
                    MissingCase{"no_pow_ui", "Error mpz_pow_ui"},
                    MissingCase{"no_probab_prime_p", "Error mpz_probab_prime"},
                    MissingCase{"no_sub_ui", "Error mpz_sub_ui"},
                    MissingCase{"no_init_set_ui", "Error mpz_init_set_ui"},
                    MissingCase{"no_printf", "Error gmp_printf"},
                    MissingCase{"no_init_set_str", "Error mpz_init_set_str"},
                    MissingCase{"no_mod", "Error mpz_mod"},
                    MissingCase{"no_sub_ui_no_mod", "Error mpz_sub_ui"}),
    [](const testing::TestParamInfo<MissingCase>& param) { return std::string(param.param.standIn); });

TEST(BindFailure, EndOfInputEndsAFailedLookUpAtOnce)
{
    ChildProcess child = startChild(command(), {standInPath("no_probab_prime_p")});
    closeStdin(child);
    ASSERT_TRUE(waitForExit(child, kQuickSeconds));
    EXPECT_EQ(shown(child), "Error mpz_probab_prime");
    EXPECT_EQ(child.exitStatus, 1);
}

// ---------------------------------------------------------------------------
// Where the library is looked for

// Windows searches the current working directory for a DLL unless the
// program takes it out of the search order. The working directory may be a
// download folder where anyone can leave a libgmp-10.dll, which would then
// run inside the benchmark. CPUBENCH_CWD_DLL_DIR names a folder that holds a
// loadable one; the executable's own folder has none, nor has the folder
// the search path is set to, so the run must find no library at all.
TEST(LibrarySearch, ALibraryInTheWorkingDirectoryIsNotLoaded)
{
    const std::string plantedIn = setting("CPUBENCH_CWD_DLL_DIR", "");
    if (plantedIn.empty())
        GTEST_SKIP() << "CPUBENCH_CWD_DLL_DIR is not set (set for the Windows build)";
    // The stand-ins' parent folder holds folders only. An empty search path
    // would not do: Wine puts WINEPATH and a semicolon before PATH, and the
    // empty entry stands for the working directory.
    const std::string searchPath = setting("CPUBENCH_LIBRARY_PATH_VAR", "LD_LIBRARY_PATH") + "=" +
                                   setting("CPUBENCH_STANDIN_DIR", CPUBENCH_STANDIN_DIR);
    ChildProcess child = startChild(command(), {searchPath}, "", plantedIn);
    closeStdin(child);
    ASSERT_TRUE(waitForExit(child, kQuickSeconds)) << "the run went on:\n" << child.output;
    EXPECT_EQ(shown(child), kNotFound);
    EXPECT_EQ(child.exitStatus, 1);
}

// ---------------------------------------------------------------------------
// Complete runs with the real library

const char* const kTime = R"(\d+\.\d{3})";

// The whole transcript, one pattern per line (the line feeds are the
// separators). The first line's values depend on the platform's log, so
// only their form is checked; every other value is exact.
std::vector<std::string> expectedLines()
{
    const std::string t = kTime;
    return {
        R"(Varnholm's CPU Benchmark 2018 )",
        "",
        R"(double mul log =-?\d+\.\d{14} -?\d+\.\d{15} -?\d+\.\d{3} in )" + t + " s",
        "",
        R"(SSE2 _mm_mul_pd=741\.77454342945498 166507\.146153411275009 in )" + t + " s",
        "",
        R"(GMP mpz_pow_ui = 5004229104086913198124845349396819872827 in )" + t + " s",
        "",
        R"(INT64MulDiv128 = 60060930203205007 Mod=73808544117964     in )" + t + " s",
        "",
        R"(4Kern MulDiv128= 60060928422058037 K2=60060928422058037   in )" + t + " s",
        R"(8Kern MulDiv128= 60060928422058037 K2=60060928422058037   in )" + t + " s",
        R"(18KernMulDiv128= 60060928422058037 K2=60060928422058037   in )" + t + " s",
        "",
        R"(MUL-Mod 32 Bit = 54885 u32A= 65537  in )" + t + " s",
        "",
        R"(Copy 2 GB   in )" + t + " s",
        "",
        "fertig! Beenden mit ENTER",
    };
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    lines.push_back(text.substr(begin));
    return lines;
}

void expectTranscript(const std::string& output,
                      const std::vector<std::string>& expected = expectedLines())
{
    const std::vector<std::string> actual = splitLines(output);
    ASSERT_EQ(actual.size(), expected.size()) << output;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(std::regex_match(actual[i], std::regex(expected[i])))
            << "line " << i + 1 << ": \"" << actual[i] << "\"\n  expected: " << expected[i];
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(FullRun, PrintsTheWholeTranscriptWaitsForEnterAndEndsWithZero)
{
    std::vector<std::string> environment;
    const std::string spy = setting("CPUBENCH_PRINTF_SPY", CPUBENCH_PRINTF_SPY);
    // Named by the process: builds of other trees may run this test at the same time.
    const std::string spyLog = testing::TempDir() + "cpubench_printf_spy." + std::to_string(getpid()) + ".log";
    if (!spy.empty()) {
        std::remove(spyLog.c_str());
        environment = {"LD_PRELOAD=" + spy, "PRINTF_SPY_LOG=" + spyLog};
    }
    // Arguments change nothing.
    ChildProcess child = startChild(command({"--help", "-x", "42"}), environment);

    // Each line reaches the pipe as soon as it is printed: the first result
    // lines arrive while the later workloads still run...
    ASSERT_TRUE(readUntil(child, "GMP mpz_pow_ui", kFullRunSeconds)) << child.output;
    EXPECT_TRUE(isRunning(child));
    // ...and the prompt stands there while the run waits for the key.
    ASSERT_TRUE(readUntil(child, "fertig! Beenden mit ENTER", kFullRunSeconds)) << child.output;
    EXPECT_TRUE(isRunning(child)) << "ended before the key was pressed";
    writeStdin(child, "\n");
    ASSERT_TRUE(waitForExit(child, kQuickSeconds));

    EXPECT_EQ(child.exitStatus, 0);
    expectTranscript(shown(child));

    // Only the banner and the first two result lines go through printf;
    // from the GMP result on, every line comes from GMP's formatted output.
    if (!spy.empty()) {
        EXPECT_EQ(readFile(spyLog),
                  "Varnholm's CPU Benchmark 2018 \n\n\x1e"
                  "double mul log =%14.14f %13.15f %3.3f in %3.3f s\n\n\x1e"
                  "SSE2 _mm_mul_pd=%14.14f %13.15f in %3.3f s\n\n\x1e");
        std::remove(spyLog.c_str());
    }
}

TEST(FullRun, OutputThatCannotBeWrittenIsNotReportedAsSuccess)
{
    // A run of every workload under the sanitizers is the test above; what
    // this one adds, the exit status, the plain builds show.
    if (std::string(CPUBENCH_SANITIZED) == "1")
        GTEST_SKIP() << "a second full run under the sanitizers shows nothing the first and the plain builds do not";
    ChildProcess child = startChild(command(), {}, "/dev/full");
    closeStdin(child);
    ASSERT_TRUE(waitForExit(child, kFullRunSeconds));
    EXPECT_EQ(child.exitStatus, 1);
}

TEST(FullRun, ShortOfMemoryReportsItInPlaceOfTheTimeAndEndsWithOne)
{
    if (!setting("CPUBENCH_RUNNER", "").empty() || std::string(CPUBENCH_SANITIZED) == "1")
        GTEST_SKIP() << "needs the plain executable under an address-space limit";
    // 3 GB of address space: the run and the first buffer fit, the second
    // buffer does not.
    std::vector<std::string> argv = {"prlimit", "--as=3000000000", "--"};
    for (const std::string& word : command())
        argv.push_back(word);
    ChildProcess child = startChild(argv, {});
    closeStdin(child);
    ASSERT_TRUE(waitForExit(child, kFullRunSeconds));

    std::vector<std::string> expected = expectedLines();
    const auto copyLine = expected.end() - 3;
    ASSERT_EQ(copyLine->rfind("Copy 2 GB", 0), 0u);
    *copyLine = "Copy 2 GB   nicht genug Speicher";
    expectTranscript(child.output, expected);
    EXPECT_EQ(child.exitStatus, 1);
}

} // namespace
