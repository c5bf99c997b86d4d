#include "cli/TransferLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <stdio_ext.h>
#include <unistd.h>

namespace
{
std::string TimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", int(millis));
    return text;
}
} // namespace

CTransferLog::~CTransferLog()
{
    Close();
}

bool CTransferLog::Open(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_mutex);
    // Without waiting: opening a FIFO for writing would wait for a reader
    // before the command has said a word. The descriptor stays non-blocking,
    // so a reader that stops reading costs the log, not the transfer.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        error = "cannot write the log " + path + ": " +
                (errno == ENXIO ? "it is a FIFO (named pipe) that nobody reads" : std::strerror(errno));
        return false;
    }
    m_pFile = ::fdopen(fd, "a");
    if (!m_pFile)
    {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_strPath = path;
    return true;
}

void CTransferLog::Write(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (!m_pFile)
        return;
    const std::string stamp = TimeStamp();
    std::istringstream lines(text);
    bool failed = false;
    for (std::string line; std::getline(lines, line) && !failed;)
        failed = std::fprintf(m_pFile, "%s %s\n", stamp.c_str(), line.c_str()) < 0;
    if (failed || std::fflush(m_pFile) != 0)
        GiveUp(errno);
}

void CTransferLog::Close()
{
    std::lock_guard lock(m_mutex);
    if (!m_pFile)
        return;
    std::FILE* file = m_pFile;
    m_pFile = nullptr;
    if (std::fclose(file) != 0 && errno != EINTR)
    {
        std::fprintf(stderr, "%s: cannot write the log %s: %s\n", m_strWho.c_str(), m_strPath.c_str(),
                     std::strerror(errno));
    }
}

void CTransferLog::GiveUp(int error)
{
    std::fprintf(stderr, "%s: cannot write the log %s: %s; going on without it\n", m_strWho.c_str(),
                 m_strPath.c_str(), std::strerror(error != 0 ? error : EIO));
    // What is still buffered would fail again at the close: it is dropped.
    __fpurge(m_pFile);
    std::fclose(m_pFile);
    m_pFile = nullptr;
}
