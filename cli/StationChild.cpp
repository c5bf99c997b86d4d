#include "cli/StationChild.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
constexpr int kChildSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGPIPE};

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads what `fd` holds now into `sink`; false at the end of the pipe or on an error.
template <typename Sink> bool Drain(int fd, Sink&& sink)
{
    char buffer[16384];
    for (;;)
    {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
        {
            sink(buffer, std::size_t(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}
} // namespace

CStationChild::~CStationChild()
{
    if (Running())
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}

bool CStationChild::Start(const std::vector<std::string>& argv, std::string& error)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
    {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(err, O_CLOEXEC) != 0)
    {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    // Only async-signal-safe calls between fork and exec: the station has threads.
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(null, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        struct sigaction defaults{};
        defaults.sa_handler = SIG_DFL;
        for (const int signal : kChildSignals)
        {
            struct sigaction current{};
            // One the station was started with ignored (nohup) stays ignored.
            if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
                ::sigaction(signal, &defaults, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const int forkError = errno;
    if (null >= 0)
        ::close(null);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0)
    {
        ::close(out[0]);
        ::close(err[0]);
        error = std::string("cannot start ") + argv[0] + ": " + std::strerror(forkError);
        return false;
    }
    m_pid = pid;
    m_outFd = out[0];
    m_errFd = err[0];
    ::fcntl(m_outFd, F_SETFL, ::fcntl(m_outFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_errFd, F_SETFL, ::fcntl(m_errFd, F_GETFL) | O_NONBLOCK);
    return true;
}

void CStationChild::ReadOut(const std::function<void(const std::string&)>& onLine)
{
    if (m_outFd < 0)
        return;
    const bool open = Drain(m_outFd, [&](const char* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
        {
            if (data[i] == '\n')
            {
                if (!m_bSkipping)
                    onLine(m_strLine);
                m_strLine.clear();
                m_bSkipping = false;
            }
            else if (!m_bSkipping)
            {
                m_strLine += data[i];
                if (m_strLine.size() > kMaxLine)
                {
                    m_strLine.clear();
                    m_bSkipping = true;
                }
            }
        }
    });
    if (!open)
        CloseFd(m_outFd);
}

void CStationChild::ReadErr()
{
    if (m_errFd < 0)
        return;
    const bool open = Drain(m_errFd, [&](const char* data, std::size_t count) {
        m_strErrTail.append(data, count);
        if (m_strErrTail.size() > kErrTail)
            m_strErrTail.erase(0, m_strErrTail.size() - kErrTail);
    });
    if (!open)
        CloseFd(m_errFd);
}

bool CStationChild::TryReap()
{
    if (m_bReaped || m_pid <= 0)
        return m_bReaped;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return false;
    m_bReaped = true;
    if (WIFSIGNALED(status))
    {
        m_nTermSignal = WTERMSIG(status);
        m_nExitCode = 128 + m_nTermSignal;
    }
    else
        m_nExitCode = WEXITSTATUS(status);
    return true;
}

void CStationChild::Signal(int signal) const
{
    if (Running())
        ::kill(m_pid, signal);
}

std::string CStationChild::LastErrorLine() const
{
    std::string tail = m_strErrTail;
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r'))
        tail.pop_back();
    const auto newline = tail.rfind('\n');
    return newline == std::string::npos ? tail : tail.substr(newline + 1);
}
