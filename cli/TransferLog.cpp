#include "cli/TransferLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>

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
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CTransferLog::Open(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_mutex);
    m_pFile = std::fopen(path.c_str(), "a");
    if (!m_pFile)
    {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void CTransferLog::Write(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (!m_pFile)
        return;
    const std::string stamp = TimeStamp();
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        std::fprintf(m_pFile, "%s %s\n", stamp.c_str(), line.c_str());
    std::fflush(m_pFile);
}
