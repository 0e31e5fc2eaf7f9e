// Runs the benchmark as a child process for end-to-end tests: its standard
// output is captured through a pipe (or sent to a given file), and its
// standard input is a pipe the test writes to or closes.
#pragma once

#include <string>
#include <vector>

struct ChildProcess {
    int pid = -1;
    int stdinFd = -1;  // write end of the child's standard input
    int stdoutFd = -1; // read end of the child's standard output
    std::string output;
    int exitStatus = -1; // exit status, or 128 + signal number
};

// Starts argv[0] with the given arguments and extra environment entries
// ("NAME=value", added to or replacing the test's own). When stdoutFile is
// non-empty, standard output goes to that file instead of a pipe. When
// workingDirectory is non-empty, the child starts in that directory.
ChildProcess startChild(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extraEnvironment,
                        const std::string& stdoutFile = "",
                        const std::string& workingDirectory = "");

// Reads output until `expected` appears in everything read so far or the
// timeout passes; true when it appeared.
bool readUntil(ChildProcess& child, const std::string& expected, double timeoutSeconds);

void writeStdin(ChildProcess& child, const std::string& text);
void closeStdin(ChildProcess& child);

// Reads the rest of the output and waits for the exit. Returns false when
// the child has not ended within the timeout (it is then killed).
bool waitForExit(ChildProcess& child, double timeoutSeconds);

// True while the child is still running.
bool isRunning(ChildProcess& child);
