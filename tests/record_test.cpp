// cpubench-record: what it keeps of a session against what the benchmark
// prints when run directly, a run disturbed by a load, an interrupted
// recording, and the faults that must not lose or pass off anything.
// Most tests run a stand-in benchmark (standin/fake_bench.c) that prints a
// saved transcript, so that a run takes a second instead of a minute.
#include "child_process.h"
#include "comparison.h"
#include "disturbance.h"
#include "files.h"
#include "idle_runs.h"
#include "machine_info.h"
#include "report.h"
#include "session_record.h"
#include "transcript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace cpubench;

const std::string kIdleRun = std::string(CPUBENCH_TEST_DATA) + "/idle-runs/run-1.txt";

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

fs::path scratchRoot()
{
    return fs::temp_directory_path() / ("cpubench-record-test-" + std::to_string(getpid()));
}

// Removes the tests' folders at the end.
class ScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(scratchRoot(), ignored);
    }
};
const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

// A fresh folder for one test.
fs::path scratch(const std::string& name)
{
    const fs::path dir = scratchRoot() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::vector<std::string> fakeEnvironment(const std::string& transcript, int workMs, int status = 0)
{
    return {"FAKE_BENCH_TRANSCRIPT=" + transcript, "FAKE_BENCH_WORK_MS=" + std::to_string(workMs),
            "FAKE_BENCH_STATUS=" + std::to_string(status)};
}

struct Outcome {
    int status;
    std::string output;
};

Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
            double timeout = 300)
{
    ChildProcess child = startChild(argv, environment);
    closeStdin(child);
    EXPECT_TRUE(waitForExit(child, timeout)) << argv[0];
    return {child.exitStatus, child.output};
}

Outcome record(const fs::path& dir, const std::vector<std::string>& options, const std::vector<std::string>& env)
{
    std::vector<std::string> argv = {CPUBENCH_RECORD_EXE};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(dir.string());
    return run(argv, env);
}

std::vector<fs::path> sessions(const fs::path& dir)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_directory())
            found.push_back(entry.path());
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return naturalLess(a.filename().string(), b.filename().string());
    });
    return found;
}

SessionRecord readRecord(const fs::path& folder)
{
    SessionRecord record;
    EXPECT_FALSE(parseRecord(readFile(folder / "session.json"), record));
    return record;
}

// The text with every time ("in 2.379 s") blanked.
std::string withoutTimes(const std::string& text)
{
    return std::regex_replace(text, std::regex("in +[0-9]+\\.[0-9]+ s"), "in T s");
}

// Busy loops on the machine while the object lives.
class Load {
public:
    explicit Load(int loops)
    {
        for (int i = 0; i < loops; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                execl("/bin/sh", "sh", "-c", "while :; do :; done", static_cast<char*>(nullptr));
                _exit(127);
            }
            pids_.push_back(pid);
        }
    }
    ~Load()
    {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

private:
    std::vector<pid_t> pids_;
};

TEST(Record, SessionsHoldTheBenchmarksOutputUnchangedAndAddUp)
{
    const fs::path dir = scratch("sessions");
    const auto env = fakeEnvironment(kIdleRun, 0);
    const Outcome direct = run({FAKE_BENCH_EXE}, env);
    ASSERT_EQ(direct.status, 0);

    const auto begin = std::chrono::steady_clock::now();
    const Outcome first = record(dir, {"--runs", "2", "--pause", "1", "--benchmark", FAKE_BENCH_EXE}, env);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1)) << "no pause between the runs";
    // Not a terminal: one plain line per run, and the summary.
    EXPECT_NE(first.output.find("run 2/2: complete"), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("GMP mpz_pow_ui"), std::string::npos) << first.output;
    EXPECT_EQ(first.output.find('\r'), std::string::npos);

    const std::vector<fs::path> one = sessions(dir);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(std::regex_match(one[0].filename().string(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d\.\d\dZ)")));
    for (const char* file : {"run-1.txt", "run-2.txt"})
        EXPECT_EQ(readFile(one[0] / file), direct.output) << file;
    MachineInfo info;
    ASSERT_FALSE(parseMachineInfo(readFile(one[0] / "machine.json"), info));
    EXPECT_FALSE(info.processor.empty());
    EXPECT_GE(info.logicalCpus.value_or(0), 1);
    EXPECT_FALSE(info.kernel.empty());
    // Another program than the package's own: no cpubench version claimed.
    EXPECT_TRUE(info.cpubenchVersion.empty());
    const SessionRecord made = readRecord(one[0]);
    EXPECT_EQ(made.state, SessionState::complete);
    EXPECT_EQ(made.pauseSeconds, 1);
    ASSERT_EQ(made.runs.size(), 2u);
    for (const auto& line : made.runs[1].lines)
        EXPECT_TRUE(line.has_value() && line->otherCpu.has_value() && line->runDelay.has_value());

    // A second call adds a session and leaves the first as it was.
    const std::string before = readFile(one[0] / "session.json");
    ASSERT_EQ(record(dir, {"--runs", "1", "--benchmark", FAKE_BENCH_EXE}, env).status, 0);
    const std::vector<fs::path> two = sessions(dir);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(readRecord(two[1]).pauseSeconds, 0) << "no pause unless asked for";
    EXPECT_EQ(two[0], one[0]);
    EXPECT_EQ(readFile(two[0] / "session.json"), before);
    const Outcome compared = run({CPUBENCH_COMPARE_EXE, dir.string()});
    EXPECT_EQ(compared.status, 0) << compared.output;
    EXPECT_NE(compared.output.find("Newest session compared: " + two[1].filename().string()), std::string::npos)
        << compared.output;
}

// The real benchmark through the recorder prints what it prints directly
// (a saved direct run of the same build on this machine) but for the times,
// and its GMP and C library are found in the running process.
TEST(Record, RealBenchmarkAsItRunsDirectly)
{
    // The sanitized benchmark runs for minutes; its full run is the
    // end-to-end tests' business there.
    if (CPUBENCH_SANITIZED)
        GTEST_SKIP() << "a full run of the sanitized benchmark";
    const fs::path dir = scratch("real");
    const Outcome recorded = record(dir, {"--runs", "1", "--benchmark", CPUBENCH_EXE}, {});
    ASSERT_EQ(recorded.status, 0) << recorded.output;
    const fs::path folder = sessions(dir).at(0);
    EXPECT_EQ(withoutTimes(readFile(folder / "run-1.txt")), withoutTimes(readFile(kIdleRun)));
    MachineInfo info;
    ASSERT_FALSE(parseMachineInfo(readFile(folder / "machine.json"), info));
    EXPECT_NE(info.gmp.find("libgmp.so.10"), std::string::npos);
    EXPECT_TRUE(std::regex_match(info.gmpVersion, std::regex(R"(\d+\.\d+(\.\d+)?)"))) << info.gmpVersion;
    EXPECT_TRUE(std::regex_match(info.glibc, std::regex(R"(2\.\d+)"))) << info.glibc;
}

// Three busy loops on a two-processor machine take half of each line's
// time in a machine's first session of one run: every line is named, by
// run and line, in the recorder's summary and the comparison; as they are
// all of the line's runs, they are kept, and each line is said to be
// disturbed in the session.
TEST(Record, DisturbedLinesAreNamedAndKeptWhenTheyAreAll)
{
    const fs::path dir = scratch("disturbed");
    Outcome recorded;
    {
        const Load load(3);
        recorded = record(dir, {"--runs", "1", "--benchmark", FAKE_BENCH_EXE}, fakeEnvironment(kIdleRun, 150));
        ASSERT_EQ(recorded.status, 0);
    }
    EXPECT_NE(recorded.output.find("GMP mpz_pow_ui: run-1.txt (others "), std::string::npos)
        << recorded.output << readFile(sessions(dir).at(0) / "session.json");
    EXPECT_NE(recorded.output.find("disturbed in most runs"), std::string::npos) << recorded.output;
    const fs::path folder = sessions(dir).at(0);

    const Outcome text = run({CPUBENCH_COMPARE_EXE, dir.string()});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.output.find("disturbed: disturbed/" + folder.filename().string() +
                               "/run-1.txt: GMP mpz_pow_ui: others took"),
              std::string::npos)
        << text.output;
    EXPECT_NE(text.output.find("GMP mpz_pow_ui was disturbed in this session: 1 of its 1 runs"), std::string::npos)
        << text.output;
    const auto runsCounted = [&](bool keep) {
        std::vector<std::string> argv = {CPUBENCH_COMPARE_EXE, "--json", dir.string()};
        if (keep)
            argv.insert(argv.begin() + 1, "--keep-disturbed");
        const Outcome json = run(argv);
        const std::regex counted("\"runs\": ([0-9]+)");
        int total = 0;
        for (std::sregex_iterator it(json.output.begin(), json.output.end(), counted), end; it != end; ++it)
            total += std::stoi((*it)[1]);
        EXPECT_NE(json.output.find("\"disturbed\": \"others_cpu\""), std::string::npos);
        EXPECT_NE(json.output.find("\"disturbed_in_session\": true"), std::string::npos);
        return total;
    };
    EXPECT_EQ(runsCounted(false), 9);
    EXPECT_EQ(runsCounted(true), 9);
}

// Ctrl-C in the second run: the first run is kept whole, the second as a
// partial transcript, the session is marked incomplete, and the comparison
// says so.
TEST(Record, InterruptedRecordingKeepsWhatItHas)
{
    const fs::path dir = scratch("interrupted");
    const auto env = fakeEnvironment(kIdleRun, 100);
    ChildProcess child = startChild(
        {CPUBENCH_RECORD_EXE, "--runs", "5", "--pause", "0", "--benchmark", FAKE_BENCH_EXE, dir.string()}, env);
    closeStdin(child);
    ASSERT_TRUE(readUntil(child, "run 1/5: complete", 60)) << child.output;
    usleep(400000);
    kill(child.pid, SIGINT);
    ASSERT_TRUE(waitForExit(child, 60));
    EXPECT_EQ(child.exitStatus, 130) << child.output;

    const fs::path folder = sessions(dir).at(0);
    const std::string whole = run({FAKE_BENCH_EXE}, fakeEnvironment(kIdleRun, 0)).output;
    EXPECT_EQ(readFile(folder / "run-1.txt"), whole);
    ASSERT_TRUE(fs::exists(folder / "run-2.partial.txt"));
    EXPECT_FALSE(fs::exists(folder / "run-2.txt"));
    const std::string partial = readFile(folder / "run-2.partial.txt");
    EXPECT_LT(partial.size(), whole.size());
    EXPECT_EQ(whole.compare(0, partial.size(), partial), 0);
    const SessionRecord made = readRecord(folder);
    EXPECT_EQ(made.state, SessionState::incomplete);
    EXPECT_EQ(made.reason, "stopped by SIGINT during run 2 of 5");
    ASSERT_EQ(made.runs.size(), 2u);
    EXPECT_EQ(made.runs[1].status, RunStatus::interrupted);

    const Outcome compared = run({CPUBENCH_COMPARE_EXE, "--json", dir.string()});
    EXPECT_EQ(compared.status, 1);
    EXPECT_NE(compared.output.find("the recorded session is incomplete: stopped by SIGINT during run 2 of 5\""),
              std::string::npos)
        << compared.output;
    const Outcome history = run({CPUBENCH_COMPARE_EXE, "--history", "--json", dir.string()});
    EXPECT_NE(history.output.find("the recorded session is incomplete: stopped by SIGINT during run 2 of 5\""),
              std::string::npos)
        << history.output;

    // Stopped in the pause between two runs: at once, with no run begun.
    const fs::path paused = scratch("interrupted-in-pause");
    ChildProcess waiting = startChild(
        {CPUBENCH_RECORD_EXE, "--runs", "2", "--pause", "600", "--benchmark", FAKE_BENCH_EXE, paused.string()},
        fakeEnvironment(kIdleRun, 0));
    closeStdin(waiting);
    ASSERT_TRUE(readUntil(waiting, "run 1/2: complete", 60)) << waiting.output;
    kill(waiting.pid, SIGINT);
    ASSERT_TRUE(waitForExit(waiting, 10)) << "the pause did not end at the signal";
    EXPECT_EQ(waiting.exitStatus, 130) << waiting.output;
    const fs::path pausedFolder = sessions(paused).at(0);
    EXPECT_FALSE(fs::exists(pausedFolder / "run-2.partial.txt"));
    EXPECT_EQ(readRecord(pausedFolder).reason, "stopped by SIGINT after run 1 of 2");
}

// The summary's runs for a verdict are what cpubench-compare says of two
// machines with these runs: enough where it calls them the same, else its
// runs needed.
TEST(Record, RunsForAVerdictAsTheComparisonCountsThem)
{
    const std::vector<std::string> idle = idleRuns();
    std::vector<RecordedRun> runs;
    Machine machine;
    for (std::size_t r = 0; r < 6; ++r) {
        RecordedRun run;
        run.record.file = "run-" + std::to_string(r + 1) + ".txt";
        run.transcript = readTranscript(idle.at(r));
        runs.push_back(run);
        machine.runs.push_back({run.record.file, run.transcript});
    }
    std::istringstream summary(summaryText(runs, 2));
    std::string header;
    std::getline(summary, header);
    EXPECT_NE(header.find("runs for 2%"), std::string::npos) << header;
    // The runs of one sitting judged by the exact rank test as the
    // comparison judged them before it counted the wander between sittings:
    // the figure says what the session's own spread allows.
    const MachineStats stats = machineStats(machine, false);
    for (std::size_t line = 0; line < kLineCount; ++line) {
        std::string row;
        std::getline(summary, row);
        const RatioEstimate estimate = compareTimes(stats.lines[line].times, stats.lines[line].times, {});
        const std::string expected = estimate.verdict == Verdict::same ? "6 (enough)"
                                     : estimate.runsNeeded            ? "about " + std::to_string(*estimate.runsNeeded)
                                                                      : "over 50";
        EXPECT_EQ(row.substr(row.size() - expected.size()), expected) << row;
    }
}

TEST(Record, FaultsKeepEverythingAndSaySo)
{
    const fs::path dir = scratch("faults");
    // A run past the timeout: stopped, its transcript kept as partial.
    const Outcome slow =
        record(dir / "slow", {"--runs", "2", "--pause", "0", "--timeout", "1", "--benchmark", FAKE_BENCH_EXE},
               fakeEnvironment(kIdleRun, 400));
    EXPECT_EQ(slow.status, 1) << slow.output;
    const fs::path slowFolder = sessions(dir / "slow").at(0);
    EXPECT_TRUE(fs::exists(slowFolder / "run-1.partial.txt"));
    EXPECT_TRUE(fs::exists(slowFolder / "run-2.partial.txt"));
    EXPECT_EQ(readRecord(slowFolder).runs.at(0).status, RunStatus::timedOut);

    // A wrong value: the run is kept, the status says so.
    std::string wrong = readFile(kIdleRun);
    wrong.replace(wrong.find("54885"), 5, "54886");
    writeFile(dir / "wrong.txt", wrong);
    const Outcome bad = record(dir / "wrong", {"--runs", "1", "--benchmark", FAKE_BENCH_EXE},
                               fakeEnvironment((dir / "wrong.txt").string(), 0));
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(readFile(sessions(dir / "wrong").at(0) / "run-1.txt"), wrong);

    // No benchmark, and a DIR that cannot be made: one message, status 2,
    // nothing made.
    const Outcome missing = record(dir / "missing", {"--benchmark", (dir / "none").string()}, {});
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(fs::exists(dir / "missing"));
    writeFile(dir / "file", "");
    const Outcome blocked = record(dir / "file" / "sub", {"--benchmark", FAKE_BENCH_EXE}, {});
    EXPECT_EQ(blocked.status, 2);
    EXPECT_EQ(run({CPUBENCH_RECORD_EXE, "--runs", "0", dir.string()}).status, 2);
}

} // namespace
