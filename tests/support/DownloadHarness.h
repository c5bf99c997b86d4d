// A DOWNLOAD page in memory: the recording window, a recording line instead of
// the serial port, the virtual clock, and a small receiver script that plays
// the receiver's side of a whole transfer byte by byte.
#pragma once

#include "protocol/Clock.h"
#include "protocol/WireFormat.h"
#include "support/RecordingLine.h"
#include "support/RecordingWindow.h"
#include "ui/DownloadPage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport
{
class CDownloadHarness
{
public:
    CDownloadHarness();  // page constructed on the line and initialised
    ~CDownloadHarness(); // page destroyed, clock and settings restored, files removed

    // Writes `bytes` to a file in the harness's folder and returns its path.
    std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes);
    // Writes the image and Browses it; clears the window's history afterwards.
    void Load(const std::string& name, const std::vector<std::uint8_t>& image);
    // One delivery to the page (the zero byte behind it added).
    void Receive(const std::vector<std::uint8_t>& bytes);
    // What the page sent and the test has not taken: the first `count` bytes, or all.
    std::vector<std::uint8_t> Sent(std::size_t count) { return line.Take(count); }
    std::vector<std::uint8_t> SentNow() { return line.TakeAll(); }

    // The receiver's side from its ready to the end message: returns the image
    // as received, in the BIN layout (header, 20 x 0xFF, data). Checks every
    // packet's type, block number and CRC with gtest assertions.
    std::vector<std::uint8_t> PlayReceiver();
    // Requests the next packet (0x69, block) and returns the 1030 bytes sent.
    std::vector<std::uint8_t> RequestPacket(std::uint8_t block);

    CVirtualClock clock;
    CRecordingWindow window;
    CRecordingLine line;
    std::unique_ptr<CDownloadPage> page;
    std::string folder;
};

// A BIN image: one module per header, each with deterministic data of its length.
std::vector<std::uint8_t> MakeImage(const std::vector<ModuleHeader>& headers, std::uint64_t seed = 1);
// True when the 1030 bytes are a well-formed data packet (type 0x69 and a correct CRC-32).
bool IsValidPacket(const std::vector<std::uint8_t>& packet);
} // namespace testsupport
