// The PC's end of the simulated receiver's line, for the receiver's own tests:
// opens the pseudo-terminal's slave in raw mode the way the PC's port does, and
// can close and reopen it as the PC does at every rate change and reset.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport
{
class CReceiverPcEnd
{
public:
    CReceiverPcEnd() = default;
    ~CReceiverPcEnd(); // Close()
    CReceiverPcEnd(const CReceiverPcEnd&) = delete;
    CReceiverPcEnd& operator=(const CReceiverPcEnd&) = delete;

    bool Open(const std::string& path); // raw, non-blocking
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // Drops what arrived and was not read, as the PC's port does when it opens.
    void Purge();

    bool Send(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes came or `timeout` passed (fewer then).
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // What arrives within `timeout`, read on while more follows within 50 ms.
    std::vector<std::uint8_t> ReceiveAvailable(std::chrono::milliseconds timeout);

private:
    int m_fd = -1;
};
} // namespace testsupport
