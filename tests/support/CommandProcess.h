// Runs a command as a child process for end-to-end tests: its standard error
// (and output) go to a file that the test reads afterwards; the test may wait
// with a time-out or send it a signal. The destructor kills a child still running.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport
{
class CCommandProcess
{
public:
    CCommandProcess() = default;
    ~CCommandProcess();
    CCommandProcess(const CCommandProcess&) = delete;
    CCommandProcess& operator=(const CCommandProcess&) = delete;

    // Where the child's stdout and stderr go: the file Output() reads, or a
    // pipe whose reader has already gone (every write there fails with EPIPE).
    enum class Streams
    {
        ToFile,
        ToClosedPipe,
    };
    // Starts `argv[0]` with the arguments. False when it could not be started.
    bool Start(const std::vector<std::string>& argv, Streams streams = Streams::ToFile);
    // Its exit code, 128 + the signal that ended it, or -1 when `timeout` passed first.
    int Wait(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // What it wrote on stdout and stderr so far.
    std::string Output() const;

private:
    pid_t m_pid = -1;
    int m_nExitStatus = -1;
    std::string m_strOutputPath;
};

// Starts, waits up to `timeout` and returns the exit code (-1 on time-out, the child killed).
int RunCommand(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout);
} // namespace testsupport
