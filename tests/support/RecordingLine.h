// A page's line in memory, for tests of the engines: records what the page
// sends, its purges, reopens and closes, and lets a test act on each (a
// scripted receiver answering the bytes sent). No port, no thread, no waiting.
#pragma once

#include "ui/PageLine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace testsupport
{
class CRecordingLine : public CPageLine
{
public:
    OpenResult Open() override;
    void Send(const std::uint8_t* data, std::size_t length) override;
    void Purge() override;
    bool Reopen(int baudRate) override;
    void Close() override;
    bool IsOpen() const override { return bOpen; }

    // The bytes sent and not yet taken: the first `count` of them (fewer when
    // fewer were sent), or all.
    std::vector<std::uint8_t> Take(std::size_t count);
    std::vector<std::uint8_t> TakeAll();

    bool bOpen = false;
    int baudRate = 0;          // the rate the line was last opened at (0: never)
    bool bFailOpen = false;    // Open() and Reopen() fail while set
    int purges = 0;
    std::vector<std::string> events; // "open", "reopen 57600", "close", "purge", in order
    // Called with every send, after it was recorded; and on every purge.
    std::function<void(const std::uint8_t* data, std::size_t length)> onSend;
    std::function<void()> onPurge;

private:
    std::deque<std::uint8_t> m_sent;
};
} // namespace testsupport
