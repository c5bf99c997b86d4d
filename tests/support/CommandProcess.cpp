#include "support/CommandProcess.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport
{
CCommandProcess::~CCommandProcess()
{
    if (m_pid > 0 && m_nExitStatus < 0)
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_strOutputPath.empty())
        unlink(m_strOutputPath.c_str());
}

bool CCommandProcess::Start(const std::vector<std::string>& argv, Streams streams)
{
    char pattern[] = "/tmp/kavdm-command-XXXXXX";
    int out = mkstemp(pattern);
    if (out < 0)
        return false;
    m_strOutputPath = pattern;
    int pipeEnds[2];
    if (streams == Streams::ToClosedPipe)
    {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            return false;
        close(out);
        close(pipeEnds[0]); // the reader is gone before the child writes a byte
        out = pipeEnds[1];
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0)
    {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        // As a shell starts a command in the foreground: the signals that end
        // it act, whatever the test's own runner chose to ignore or block.
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
            std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out);
    return m_pid > 0;
}

int CCommandProcess::Wait(std::chrono::milliseconds timeout)
{
    if (m_nExitStatus >= 0)
        return m_nExitStatus;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
        {
            m_nExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_nExitStatus;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void CCommandProcess::Signal(int signal)
{
    if (m_pid > 0 && m_nExitStatus < 0)
        kill(m_pid, signal);
}

std::string CCommandProcess::Output() const
{
    std::ifstream in(m_strOutputPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int RunCommand(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout)
{
    CCommandProcess process;
    if (!process.Start(argv))
        return -1;
    const int code = process.Wait(timeout);
    output = process.Output();
    return code;
}
} // namespace testsupport
