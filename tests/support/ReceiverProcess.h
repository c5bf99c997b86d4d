// Runs `kavdm receiver --pty ...` as a child process for end-to-end tests: starts
// it, reads the pseudo-terminal path it prints first, collects what it writes on
// stderr, and reports its exit status. The destructor ends a child still running.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport
{
class CReceiverProcess
{
public:
    CReceiverProcess() = default;
    ~CReceiverProcess(); // Kill() when still running
    CReceiverProcess(const CReceiverProcess&) = delete;
    CReceiverProcess& operator=(const CReceiverProcess&) = delete;

    // Starts `binary receiver --pty args...` (pass KAVDM_BINARY) and waits up to
    // `startTimeout` for the path line. False with the reason in `error`.
    bool Start(const std::string& binary, const std::vector<std::string>& args, std::string& error,
               std::chrono::milliseconds startTimeout = std::chrono::seconds(10));
    // The pseudo-terminal the PC side opens.
    const std::string& PtyPath() const { return m_strPtyPath; }
    pid_t Pid() const { return m_pid; }

    // Waits for the child to end: its exit code, 128 + the signal when a signal
    // ended it, or -1 when `timeout` passed first (the child keeps running).
    int Wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after a second; reaps the child.
    void Kill();
    // Everything the child wrote on stderr so far.
    std::string Stderr() const;

private:
    void ReadOutput();

    pid_t m_pid = -1;
    int m_nExitStatus = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::string m_strStdout;
    std::string m_strStderr;
    std::string m_strPtyPath;
};
} // namespace testsupport
