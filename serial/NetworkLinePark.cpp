#include "serial/NetworkLinePark.h"

#include "serial/NetworkLine.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

class CNetworkLinePark
{
public:
    ~CNetworkLinePark()
    {
        {
            std::lock_guard lock(m_mutex);
            m_bStopping = true;
        }
        m_changed.notify_all();
        if (m_closer.joinable())
            m_closer.join();
        m_lines.clear();
    }

    void Park(std::shared_ptr<CNetworkLine> line)
    {
        std::shared_ptr<CNetworkLine> replaced;
        {
            std::lock_guard lock(m_mutex);
            if (m_bStopping)
                return; // closed right here, by the caller dropping it
            auto& slot = m_lines[line->Url().text];
            replaced = std::move(slot.line);
            slot.line = std::move(line);
            slot.until = Clock::now() + kNetworkLineParkTime;
            if (!m_closer.joinable())
                m_closer = std::thread([this] { CloseExpired(); });
        }
        m_changed.notify_all();
    }

    std::shared_ptr<CNetworkLine> Take(const std::string& url)
    {
        std::lock_guard lock(m_mutex);
        auto found = m_lines.find(url);
        if (found == m_lines.end())
            return nullptr;
        auto line = std::move(found->second.line);
        m_lines.erase(found);
        return line;
    }

    void CloseAll()
    {
        std::map<std::string, Parked> lines;
        {
            std::lock_guard lock(m_mutex);
            lines.swap(m_lines);
        }
    }

private:
    struct Parked
    {
        std::shared_ptr<CNetworkLine> line;
        Clock::time_point until;
    };

    void CloseExpired()
    {
        std::unique_lock lock(m_mutex);
        while (!m_bStopping)
        {
            std::vector<std::shared_ptr<CNetworkLine>> expired;
            Clock::time_point next = Clock::time_point::max();
            const auto now = Clock::now();
            for (auto it = m_lines.begin(); it != m_lines.end();)
            {
                if (it->second.until <= now)
                {
                    expired.push_back(std::move(it->second.line));
                    it = m_lines.erase(it);
                    continue;
                }
                next = std::min(next, it->second.until);
                ++it;
            }
            if (!expired.empty())
            {
                // Closing waits a moment for the server: not under the lock.
                lock.unlock();
                expired.clear();
                lock.lock();
                continue;
            }
            if (next == Clock::time_point::max())
                m_changed.wait(lock);
            else
                m_changed.wait_until(lock, next);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Parked> m_lines;
    std::thread m_closer;
    bool m_bStopping = false;
};

CNetworkLinePark& ThePark()
{
    static CNetworkLinePark park;
    return park;
}
} // namespace

void ParkNetworkLine(std::shared_ptr<CNetworkLine> line)
{
    if (line)
        ThePark().Park(std::move(line));
}

std::shared_ptr<CNetworkLine> TakeParkedNetworkLine(const std::string& url)
{
    return ThePark().Take(url);
}

void CloseParkedNetworkLines()
{
    ThePark().CloseAll();
}
