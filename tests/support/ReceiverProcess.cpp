#include "ReceiverProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport
{
CReceiverProcess::~CReceiverProcess()
{
    if (m_pid > 0 && m_nExitStatus < 0)
        Kill();
    if (m_reader.joinable())
        m_reader.join();
    if (m_outFd >= 0)
        close(m_outFd);
    if (m_errFd >= 0)
        close(m_errFd);
}

bool CReceiverProcess::Start(const std::string& binary, const std::vector<std::string>& args, std::string& error,
                             std::chrono::milliseconds startTimeout)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
    {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0)
    {
        error = std::string("pipe: ") + std::strerror(errno);
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    std::vector<std::string> argv = {binary, "receiver", "--pty"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (auto& arg : argv)
        argp.push_back(arg.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    const int spawned = posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    m_outFd = outPipe[0];
    m_errFd = errPipe[0];
    if (spawned != 0)
    {
        m_pid = -1;
        error = "cannot start " + binary + ": " + std::strerror(spawned);
        return false;
    }
    m_reader = std::thread([this] { ReadOutput(); });

    const auto until = std::chrono::steady_clock::now() + startTimeout;
    while (std::chrono::steady_clock::now() < until)
    {
        {
            std::lock_guard lock(m_mutex);
            const auto newline = m_strStdout.find('\n');
            if (newline != std::string::npos)
            {
                m_strPtyPath = m_strStdout.substr(0, newline);
                return true;
            }
        }
        if (Wait(std::chrono::milliseconds(0)) >= 0)
        {
            error = "the receiver ended before printing its path: " + Stderr();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    error = "the receiver printed no path within the start time-out";
    return false;
}

void CReceiverProcess::ReadOutput()
{
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0)
    {
        if (poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
            if (count <= 0)
            {
                fds[i].fd = -1; // poll skips negative descriptors
                --open;
                continue;
            }
            std::lock_guard lock(m_mutex);
            (i == 0 ? m_strStdout : m_strStderr).append(buffer, std::size_t(count));
        }
    }
}

int CReceiverProcess::Wait(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return m_nExitStatus;
    if (m_nExitStatus >= 0)
        return m_nExitStatus;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (true)
    {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
        {
            m_nExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            // The pipes close with the child: let the reader finish so Stderr() is whole.
            if (m_reader.joinable())
                m_reader.join();
            return m_nExitStatus;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= until)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CReceiverProcess::Kill()
{
    if (m_pid <= 0 || m_nExitStatus >= 0)
        return;
    kill(m_pid, SIGTERM);
    if (Wait(std::chrono::seconds(1)) < 0)
    {
        kill(m_pid, SIGKILL);
        Wait(std::chrono::seconds(5));
    }
}

std::string CReceiverProcess::Stderr() const
{
    std::lock_guard lock(m_mutex);
    return m_strStderr;
}
} // namespace testsupport
