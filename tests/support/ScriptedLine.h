// The receiver's end of a serial line for unit tests: a pseudo-terminal whose
// slave side is mapped to a COM port number, so pages open it as their port,
// while the test reads what the page wrote from the master side. The test keeps
// its own descriptor on the slave so the page's closes and reopens never hang
// the line up. A reader thread drains the master at once, as a receiver on a
// real line would: a port that purges its queues on reopen cannot drop bytes
// already "on the wire", and a page never blocks on a full pty buffer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport
{
class CScriptedLine
{
public:
    // Maps COM`portNumber` to a new pseudo-terminal.
    explicit CScriptedLine(int portNumber = 2);
    ~CScriptedLine(); // removes the mapping, closes both sides

    CScriptedLine(const CScriptedLine&) = delete;
    CScriptedLine& operator=(const CScriptedLine&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Everything the page wrote and not yet taken. Waits up to `waitMs` for
    // the first byte and reads on while more arrives within 20 ms.
    std::vector<std::uint8_t> Take(int waitMs = 50);
    // Reads exactly `count` bytes or fewer when `waitMs` passes first.
    std::vector<std::uint8_t> TakeExactly(std::size_t count, int waitMs = 2000);
    // Sends bytes to the page's port (the monitor thread delivers them).
    void Send(const std::vector<std::uint8_t>& bytes);
    // The line rate the page's port configured, in baud (0 if unknown).
    int BaudRate() const;
    // Closes the master side: the page's port sees the device go away.
    void HangUp();

private:
    void ReadLoop();

    int m_nPortNumber;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::uint8_t> m_received;
    bool m_bStopping = false;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::thread m_reader;
    int m_master = -1;
    int m_slave = -1;
    std::string m_strPath;
};
} // namespace testsupport
