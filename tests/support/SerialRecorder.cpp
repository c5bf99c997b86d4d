#include "support/SerialRecorder.h"
#include <algorithm>

namespace testsupport
{
void CSerialRecorder::OnReceive(const char* data, int length)
{
    {
        std::lock_guard lock(m_mutex);
        if (length < 0 || length > 100 || data[length] != 0)
            ++m_nMalformed;
        else
            m_deliveries.emplace_back(data, std::size_t(length));
        m_nBytes += std::size_t(std::max(length, 0));
        m_lastThread = std::this_thread::get_id();
        // Notified under the lock: a waiter that wakes may destroy the recorder.
        m_changed.notify_all();
    }
    if (onReceive)
        onReceive(data, length);
}

void CSerialRecorder::OnPortLost(int error)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_nLost;
        m_nLostError = error;
        m_changed.notify_all();
    }
}

bool CSerialRecorder::WaitForBytes(std::size_t bytes, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_nBytes >= bytes; });
}

bool CSerialRecorder::WaitForLost(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_nLost > 0; });
}

std::vector<std::string> CSerialRecorder::Deliveries()
{
    std::lock_guard lock(m_mutex);
    return m_deliveries;
}

std::string CSerialRecorder::AllBytes()
{
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const auto& delivery : m_deliveries)
        all += delivery;
    return all;
}

int CSerialRecorder::LostCount()
{
    std::lock_guard lock(m_mutex);
    return m_nLost;
}

int CSerialRecorder::LostError()
{
    std::lock_guard lock(m_mutex);
    return m_nLostError;
}

int CSerialRecorder::MalformedCount()
{
    std::lock_guard lock(m_mutex);
    return m_nMalformed;
}

std::thread::id CSerialRecorder::LastDeliveryThread()
{
    std::lock_guard lock(m_mutex);
    return m_lastThread;
}
} // namespace testsupport
