// A serial owner for tests: records every delivery and port-lost notice, and
// lets a test wait for them. An optional hook runs inside each delivery.
#pragma once

#include "serial/SerialOwner.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport
{
class CSerialRecorder : public CSerialOwner
{
public:
    void OnReceive(const char* data, int length) override;
    void OnPortLost(int error) override;

    // Waits until `bytes` bytes in all have been delivered; false on time-out.
    bool WaitForBytes(std::size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool WaitForLost(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    std::vector<std::string> Deliveries();
    std::string AllBytes();
    int LostCount();
    int LostError();
    // Deliveries whose byte behind the data was not zero, or whose length was out of 0..100.
    int MalformedCount();
    std::thread::id LastDeliveryThread();

    // Runs inside each delivery, after it was recorded.
    std::function<void(const char* data, int length)> onReceive;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_deliveries;
    std::size_t m_nBytes = 0;
    int m_nLost = 0;
    int m_nLostError = 0;
    int m_nMalformed = 0;
    std::thread::id m_lastThread;
};
} // namespace testsupport
