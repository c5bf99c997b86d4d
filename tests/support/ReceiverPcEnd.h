// The PC's end of the simulated receiver's line, for the receiver's own tests:
// opens the pseudo-terminal's slave in raw mode the way the PC's port does, and
// can close and reopen it as the PC does at every rate change and reset.
#pragma once

#include "receiver/ReceiverImage.h"

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

// Plays the PC's side of a download over `pc` (open on `path`): answers a rate
// query with `rateCode` (closing and reopening its end, with a purge, for a rate
// above 9600 as the PC does), echoes the ready, sends `functionCode`, then each
// module's header and packets on request, and the end message. Each packet is
// checked against the request. False with the reason in `error`.
bool PlayDownloadPc(CReceiverPcEnd& pc, const std::string& path, const std::vector<ReceiverModule>& modules,
                    std::uint8_t rateCode, std::uint8_t functionCode, std::string& error);

// Plays the PC's side of an upload: answers a rate query with 0x01 and the
// ready, asks for digital data (0x01), starts the upload, then asks for every
// header and packet. A packet that does not come whole within `retryAfter` or
// fails its CRC is asked for again; a duplicate of the previous packet is
// dropped. `modules` gets what came (header byte 0, 32 and 33 from the 3-byte
// module header; the data of every packet).
bool PlayUploadPc(CReceiverPcEnd& pc, std::vector<ReceiverModule>& modules, std::string& error,
                  std::chrono::milliseconds retryAfter = std::chrono::milliseconds(1000));
} // namespace testsupport
