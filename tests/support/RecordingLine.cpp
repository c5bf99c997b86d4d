#include "support/RecordingLine.h"

namespace testsupport
{
CPageLine::OpenResult CRecordingLine::Open()
{
    OpenResult result;
    if (!bOpen)
    {
        result.created = true;
        events.push_back("open");
        if (bFailOpen)
        {
            result.error = "the test's line does not open";
            return result;
        }
        bOpen = true;
        baudRate = 9600;
    }
    Purge();
    return result;
}

void CRecordingLine::Send(const std::uint8_t* data, std::size_t length)
{
    m_sent.insert(m_sent.end(), data, data + length);
    if (onSend)
        onSend(data, length);
}

void CRecordingLine::Purge()
{
    ++purges;
    events.push_back("purge");
    if (onPurge)
        onPurge();
}

bool CRecordingLine::Reopen(int rate)
{
    events.push_back("reopen " + std::to_string(rate));
    bOpen = !bFailOpen;
    if (bOpen)
        baudRate = rate;
    return bOpen;
}

void CRecordingLine::Close()
{
    events.push_back("close");
    bOpen = false;
}

std::vector<std::uint8_t> CRecordingLine::Take(std::size_t count)
{
    const std::size_t n = std::min(count, m_sent.size());
    std::vector<std::uint8_t> taken(m_sent.begin(), m_sent.begin() + std::ptrdiff_t(n));
    m_sent.erase(m_sent.begin(), m_sent.begin() + std::ptrdiff_t(n));
    return taken;
}

std::vector<std::uint8_t> CRecordingLine::TakeAll()
{
    return Take(m_sent.size());
}
} // namespace testsupport
