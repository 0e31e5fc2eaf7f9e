// The benchmark as a child process: its standard input at end of file, its
// standard output read through a pipe as it comes.
#pragma once

#include <memory>
#include <string>

namespace cpubench {

class Child {
public:
    Child();
    ~Child(); // stops a child still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `program`; false with the reason when it cannot.
    bool start(const std::string& program, std::string& error);

    enum class Read { data, idle, end, error };
    // Waits up to `milliseconds` for output and appends what came to
    // `bytes`: data, idle (nothing yet, or a signal came), end (the child
    // closed its output), error.
    Read read(std::string& bytes, int milliseconds);

    // Stops the child (and whatever it started), then waits for it.
    void stop();
    // Waits for the child to end: its exit status, or 128 + the signal that
    // ended it.
    int wait();
    // The process id (Linux) or handle's id (Windows); 0 before start.
    long id() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Standard output is a terminal (progress is drawn in place there).
bool outputIsTerminal();
// The full path of the running executable's folder, with a separator at the end.
std::string ownFolder();
// Whether `path` names a file that can be started.
bool isProgram(const std::string& path);

} // namespace cpubench
