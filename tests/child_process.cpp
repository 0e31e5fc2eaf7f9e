#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& e : extra)
            replaced = replaced || e.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Reads what is available within the timeout; false at end of output.
bool readSome(ChildProcess& child, int timeoutMs)
{
    if (child.stdoutFd < 0)
        return false;
    pollfd p{child.stdoutFd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return true;
    char buffer[4096];
    const ssize_t n = read(child.stdoutFd, buffer, sizeof buffer);
    if (n <= 0) {
        close(child.stdoutFd);
        child.stdoutFd = -1;
        return false;
    }
    child.output.append(buffer, static_cast<size_t>(n));
    return true;
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

Clock::time_point deadlineAfter(double seconds)
{
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

bool reap(ChildProcess& child, int options)
{
    int status = 0;
    const pid_t done = waitpid(child.pid, &status, options);
    if (done != child.pid)
        return false;
    child.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    child.pid = -1;
    return true;
}

} // namespace

ChildProcess startChild(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extraEnvironment,
                        const std::string& stdoutFile,
                        const std::string& workingDirectory)
{
    int in[2];
    int out[2] = {-1, -1};
    if (pipe(in) != 0 || (stdoutFile.empty() && pipe(out) != 0))
        throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    if (stdoutFile.empty()) {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile.c_str(), O_WRONLY, 0);
    }
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(extraEnvironment);
    ChildProcess child;
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, pointers(args).data(),
                                pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    if (out[1] >= 0)
        close(out[1]);
    if (rc != 0)
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));

    // A child that ends without reading its input must not kill the test
    // with SIGPIPE when the test writes to it.
    std::signal(SIGPIPE, SIG_IGN);
    child.pid = pid;
    child.stdinFd = in[1];
    child.stdoutFd = out[0];
    return child;
}

bool readUntil(ChildProcess& child, const std::string& expected, double timeoutSeconds)
{
    const auto deadline = deadlineAfter(timeoutSeconds);
    while (child.output.find(expected) == std::string::npos) {
        const int left = remainingMs(deadline);
        if (left == 0 || !readSome(child, left))
            return child.output.find(expected) != std::string::npos;
    }
    return true;
}

void writeStdin(ChildProcess& child, const std::string& text)
{
    if (child.stdinFd >= 0 && write(child.stdinFd, text.data(), text.size()) < 0 && errno != EPIPE)
        throw std::runtime_error("write to child failed");
}

void closeStdin(ChildProcess& child)
{
    if (child.stdinFd >= 0)
        close(child.stdinFd);
    child.stdinFd = -1;
}

bool isRunning(ChildProcess& child)
{
    return child.pid > 0 && !reap(child, WNOHANG);
}

bool waitForExit(ChildProcess& child, double timeoutSeconds)
{
    const auto deadline = deadlineAfter(timeoutSeconds);
    while (readSome(child, remainingMs(deadline)) && remainingMs(deadline) > 0) {
    }
    while (child.pid > 0 && !reap(child, WNOHANG)) {
        if (remainingMs(deadline) == 0) {
            kill(child.pid, SIGKILL);
            reap(child, 0);
            closeStdin(child);
            return false;
        }
        usleep(10000);
    }
    while (readSome(child, 0)) {
    }
    closeStdin(child);
    return true;
}
