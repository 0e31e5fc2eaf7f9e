#include "recorder.h"

#include "child.h"
#include "facts.h"
#include "probe.h"
#include "phrases.h"
#include "session_names.h"
#include "transcript.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <system_error>

namespace cpubench {

namespace fs = std::filesystem;

volatile std::sig_atomic_t gSignal = 0;

namespace {

extern "C" void onSignal(int number)
{
    gSignal = number;
}

// Writes `text` to `path` through a file beside it, so that a reader never
// sees half of it; the error, empty when written.
std::string writeWhole(const fs::path& path, const std::string& text)
{
    const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".new");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return path.string() + ": cannot write" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return path.string() + ": cannot write: " + error.message();
    }
    return "";
}

// The line a result line starts with, or kLineCount.
std::size_t resultLine(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return kLineCount;
    for (std::size_t i = 0; i < kLineCount; ++i)
        if (text.compare(start, kLines[i].label.size(), kLines[i].label) == 0)
            return i;
    return kLineCount;
}

// The bytes as they came, at once: a recorder stopped in the middle leaves
// every line printed so far; each line's end closes its figures.
bool takeOutput(Running& running, const std::string& chunk, long child, RunRecord& entry, std::string& diskError)
{
    if (std::fwrite(chunk.data(), 1, chunk.size(), running.file) != chunk.size() || std::fflush(running.file) != 0) {
        diskError = running.path.string() + ": cannot write: " + std::strerror(errno);
        return false;
    }
    running.text += chunk;
    for (char c : chunk) {
        if (c != '\n') {
            if (running.line.size() < 4096)
                running.line += c;
            continue;
        }
        const Sample sample = takeSample(child);
        const std::size_t index = resultLine(running.line);
        if (index < kLineCount) {
            entry.lines[index] = figuresBetween(running.last, sample);
            running.next = index + 1;
        } else if (running.next == kLineCount && running.line.find(kBanner) != std::string::npos)
            running.next = 0;
        running.last = sample;
        running.line.clear();
    }
    return true;
}

// How the run ended, and the outcome in a few words.
std::string outcomeOf(Stop stop, RunRecord& entry, const Transcript& transcript, int timeout,
                      const std::string& diskError)
{
    switch (stop) {
    case Stop::none:
        entry.status = entry.exitStatus == 0 && transcript.good() ? RunStatus::complete : RunStatus::failed;
        return entry.status == RunStatus::complete ? "complete"
               : transcript.good() ? "failed (status " + std::to_string(entry.exitStatus) + ")"
                                   : "WRONG or incomplete: " + problemText(transcript.problems[0]);
    case Stop::timeout:
        entry.status = RunStatus::timedOut;
        return "stopped after the timeout of " + std::to_string(timeout) + " s";
    case Stop::signal:
    case Stop::disk:
        break;
    }
    entry.status = RunStatus::interrupted;
    return stop == Stop::disk ? "stopped: " + diskError : "interrupted";
}

} // namespace

void catchSignals()
{
#ifdef _WIN32
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a wait for output returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Recorder::Recorder(RecordOptions chosen) : options(std::move(chosen)), started(now()) {}

bool Recorder::makeSession(std::string& error)
{
    std::error_code code;
    fs::create_directories(options.dir, code);
    if (code) {
        error = options.dir + ": cannot make the folder: " + code.message();
        return false;
    }
    const std::string base = options.session.empty() ? sessionName(std::time(nullptr)) : options.session;
    for (int n = 1; n <= (options.session.empty() ? 1000 : 1); ++n) {
        folder = fs::path(options.dir) / numberedName(base, n);
        if (fs::create_directory(folder, code))
            return true;
        if (code) {
            error = folder.string() + ": cannot make the session folder: " + code.message();
            return false;
        }
    }
    error = folder.string() + ": the session exists already";
    return false;
}

bool Recorder::save()
{
    const std::string error = writeWhole(folder / kRecordFile, writeRecord(record));
    if (!error.empty() && diskError.empty())
        diskError = error;
    return error.empty();
}

bool Recorder::saveInfo()
{
    const std::string error = writeWhole(folder / kInfoFile, writeMachineInfo(info));
    if (!error.empty() && diskError.empty())
        diskError = error;
    return error.empty();
}

Stop Recorder::follow(Child& child, Running& running, RunRecord& entry, int number, Progress& progress)
{
    for (;;) {
        if (gSignal != 0)
            return Stop::signal;
        if (now() - running.start > options.timeout)
            return Stop::timeout;
        std::string chunk;
        const Child::Read got = child.read(chunk, 200);
        if (got == Child::Read::end || got == Child::Read::error)
            return Stop::none;
        if (got == Child::Read::data) {
            if (!takeOutput(running, chunk, child.id(), entry, diskError))
                return Stop::disk;
            if (!gmpFound && addProcessFacts(info, child.id())) {
                gmpFound = true;
                saveInfo();
            }
        }
        progress.show(number, running.next, now() - running.start, now() - started);
    }
}

bool Recorder::run(int number, Progress& progress)
{
    RecordedRun recorded;
    RunRecord& entry = recorded.record;
    entry.file = "run-" + std::to_string(number) + ".txt";
    Running running;
    running.path = folder / entry.file;
    running.file = std::fopen(running.path.string().c_str(), "wb");
    if (running.file == nullptr) {
        diskError = running.path.string() + ": cannot write: " + std::strerror(errno);
        return false;
    }
    Child child;
    std::string error;
    if (!child.start(options.benchmark, error)) {
        std::fclose(running.file);
        std::error_code ignored;
        fs::remove(running.path, ignored);
        diskError = error;
        return false;
    }
    running.start = now();
    running.last = takeSample(child.id());
    const Stop stop = follow(child, running, entry, number, progress);
    if (stop != Stop::none)
        child.stop();
    entry.exitStatus = child.wait();
    std::fclose(running.file);
    recorded.transcript = readTranscript(running.text);
    const std::string outcome = outcomeOf(stop, entry, recorded.transcript, options.timeout, diskError);
    keepTranscript(running, entry, number);
    progress.runDone(number, entry.file, outcome, now() - running.start);
    record.runs.push_back(entry);
    runs.push_back(std::move(recorded));
    save();
    return stop == Stop::none || stop == Stop::timeout;
}

// A transcript that was cut short is named so; one that never got a byte
// is no transcript at all and goes.
void Recorder::keepTranscript(const Running& running, RunRecord& entry, int number)
{
    if (running.text.empty() && entry.status != RunStatus::complete) {
        std::error_code ignored;
        fs::remove(running.path, ignored);
    } else if (entry.status == RunStatus::timedOut || entry.status == RunStatus::interrupted) {
        const std::string partial = "run-" + std::to_string(number) + ".partial.txt";
        std::error_code code;
        fs::rename(running.path, folder / partial, code);
        if (!code)
            entry.file = partial;
    }
}

} // namespace cpubench
