#include "child.h"

#include <windows.h>

#include <io.h>
#include <cstdio>

namespace cpubench {

struct Child::State {
    HANDLE process = nullptr;
    HANDLE output = nullptr; // the pipe's reading end
    DWORD id = 0;
    bool ended = false;
    int status = 0;
};

Child::Child() : state_(std::make_unique<State>()) {}

Child::~Child()
{
    if (state_->process != nullptr && !state_->ended)
        stop();
    if (state_->output != nullptr)
        CloseHandle(state_->output);
    if (state_->process != nullptr)
        CloseHandle(state_->process);
}

bool Child::start(const std::string& program, std::string& error)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        error = "cannot make a pipe";
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE null = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                              nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + program + "\"";
    // A process group of its own: Ctrl-C reaches the recorder, which stops
    // the benchmark itself.
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    const DWORD code = GetLastError();
    CloseHandle(writeEnd);
    if (null != INVALID_HANDLE_VALUE)
        CloseHandle(null);
    if (!started) {
        CloseHandle(readEnd);
        error = "cannot start " + program + " (error " + std::to_string(code) + ")";
        return false;
    }
    CloseHandle(info.hThread);
    state_->process = info.hProcess;
    state_->id = info.dwProcessId;
    state_->output = readEnd;
    return true;
}

Child::Read Child::read(std::string& bytes, int milliseconds)
{
    for (int waited = 0;; waited += 20) {
        DWORD available = 0;
        if (!PeekNamedPipe(state_->output, nullptr, 0, nullptr, &available, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE ? Read::end : Read::error;
        if (available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(state_->output, buffer, sizeof buffer < available ? sizeof buffer : available, &got,
                          nullptr))
                return GetLastError() == ERROR_BROKEN_PIPE ? Read::end : Read::error;
            bytes.append(buffer, got);
            return Read::data;
        }
        if (waited >= milliseconds)
            return Read::idle;
        Sleep(20);
    }
}

void Child::stop()
{
    if (state_->process == nullptr || state_->ended)
        return;
    TerminateProcess(state_->process, 1);
    wait();
}

int Child::wait()
{
    if (state_->process == nullptr || state_->ended)
        return state_->status;
    WaitForSingleObject(state_->process, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(state_->process, &code);
    state_->ended = true;
    state_->status = static_cast<int>(code);
    return state_->status;
}

long Child::id() const
{
    return static_cast<long>(state_->id);
}

bool outputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

std::string ownFolder()
{
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return ".\\";
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool isProgram(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace cpubench
