#include "child.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cpubench {

struct Child::State {
    pid_t pid = 0;
    int output = -1; // the pipe's reading end
    bool reaped = false;
    int status = 0;
};

Child::Child() : state_(std::make_unique<State>()) {}

Child::~Child()
{
    if (state_->pid > 0 && !state_->reaped)
        stop();
    if (state_->output >= 0)
        close(state_->output);
}

namespace {

// In the child: `program` with its standard input at end of file and its
// output into `output`; why it could not be started goes to `report`. A
// process group of its own: Ctrl-C on the terminal reaches the recorder,
// which stops the benchmark itself. Killed with the recorder, should the
// recorder be killed.
[[noreturn]] void runChild(const std::string& program, int output, int report, pid_t parent)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    signal(SIGPIPE, SIG_DFL);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0 && dup2(null, 0) >= 0 && dup2(output, 1) >= 0) {
        char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execv(program.c_str(), argv);
    }
    const int code = errno;
    (void)!write(report, &code, sizeof code);
    _exit(127);
}

} // namespace

bool Child::start(const std::string& program, std::string& error)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    // The child tells the parent through this pipe why exec failed.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        for (int fd : {fds[0], fds[1], report[0], report[1]})
            close(fd);
        return false;
    }
    if (pid == 0)
        runChild(program, fds[1], report[1], parent);
    close(fds[1]);
    close(report[1]);
    int code = 0;
    ssize_t got;
    do
        got = ::read(report[0], &code, sizeof code);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    state_->pid = pid;
    state_->output = fds[0];
    if (got == static_cast<ssize_t>(sizeof code)) {
        error = "cannot start " + program + ": " + std::strerror(code);
        wait();
        return false;
    }
    return true;
}

Child::Read Child::read(std::string& bytes, int milliseconds)
{
    pollfd fd{state_->output, POLLIN, 0};
    const int ready = poll(&fd, 1, milliseconds);
    if (ready < 0)
        return errno == EINTR ? Read::idle : Read::error;
    if (ready == 0)
        return Read::idle;
    char buffer[4096];
    const ssize_t got = ::read(state_->output, buffer, sizeof buffer);
    if (got < 0)
        return errno == EINTR || errno == EAGAIN ? Read::idle : Read::error;
    if (got == 0)
        return Read::end;
    bytes.append(buffer, static_cast<std::size_t>(got));
    return Read::data;
}

void Child::stop()
{
    if (state_->pid <= 0 || state_->reaped)
        return;
    kill(-state_->pid, SIGTERM);
    kill(state_->pid, SIGTERM);
    // Two seconds to end, then killed.
    for (int i = 0; i < 200; ++i) {
        int status;
        const pid_t done = waitpid(state_->pid, &status, WNOHANG);
        if (done == state_->pid) {
            state_->reaped = true;
            state_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return;
        }
        usleep(10000);
    }
    kill(-state_->pid, SIGKILL);
    kill(state_->pid, SIGKILL);
    wait();
}

int Child::wait()
{
    if (state_->pid <= 0 || state_->reaped)
        return state_->status;
    int status = 0;
    pid_t done;
    do
        done = waitpid(state_->pid, &status, 0);
    while (done < 0 && errno == EINTR);
    state_->reaped = true;
    state_->status = done < 0 ? 255 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return state_->status;
}

long Child::id() const
{
    return state_->pid;
}

bool outputIsTerminal()
{
    return isatty(1) == 1;
}

std::string ownFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "./";
    std::string folder(path, static_cast<std::size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

bool isProgram(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace cpubench
