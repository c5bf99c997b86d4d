// A pseudo-terminal pair for serial tests: the test plays the far end on the
// master while the code under test opens the slave by its path. Both sides are
// in raw mode. The pair keeps its own descriptor on the slave (as the simulated
// receiver does), so the port under test may close and reopen it freely.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace testsupport
{
class CPtyPair
{
public:
    CPtyPair();  // fails the current test (ADD_FAILURE) when no pty can be had
    ~CPtyPair(); // closes whatever is still open
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    const std::string& SlavePath() const { return m_strSlavePath; }
    int MasterFd() const { return m_nMasterFd; }
    int SlaveFd() const { return m_nSlaveFd; }

    // Writes every byte to the master (what the port will receive).
    bool Send(const void* data, std::size_t length);
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    // Reads from the master until `count` bytes came or the time is up.
    std::vector<unsigned char> Receive(std::size_t count,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whatever the master can read within `timeout` (for "nothing more came").
    std::vector<unsigned char> ReceiveAvailable(std::chrono::milliseconds timeout);

    // Closes the master: the slave side sees a hang-up.
    void CloseMaster();

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};
} // namespace testsupport
