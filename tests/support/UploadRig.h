// A receiver's side for the upload page's unit tests, in memory: the page on a
// recording window and a recording line with the virtual clock, and the bytes
// of the receiver's messages built and fed in chunks as the serial monitor
// would deliver them.
#pragma once

#include "protocol/Clock.h"
#include "support/RecordingLine.h"
#include "support/RecordingWindow.h"
#include "ui/UploadPage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport
{
using Bytes = std::vector<std::uint8_t>;

// A data packet as the receiver sends it: 0x69, the sequence byte, 1024 data
// bytes and their CRC-32, most significant byte first.
Bytes MakeUploadPacket(std::uint8_t sequence, const Bytes& data);
// 1024 data bytes that differ from packet to packet and module to module.
Bytes PacketData(int module, int packet);

class CUploadRig
{
public:
    CUploadRig();  // clock, link settings and module header back to their start
    ~CUploadRig(); // page and folder gone; real clock back

    // Delivers `bytes` in chunks of at most `chunk` bytes, each with the zero
    // byte behind it, as the serial monitor does. An empty vector is one empty delivery.
    void Feed(const Bytes& bytes, std::size_t chunk = 100);
    // What the page sent since the last call.
    Bytes Sent() { return line.TakeAll(); }

    // Browse confirmed on `target`.
    void Browse();
    // Ready, function, function request and start upload: the page has asked
    // for the first module header.
    void StartUpload();
    // Header (present, digital, flash) and `packets` packets of a module, the
    // last one marked 0xEE; appends their data to `expectedFile` as the page
    // must write it.
    void SendModule(std::uint8_t digital, std::uint8_t flash, int packets, int module);
    // The closing header.
    void Finish() { Feed({0x00, 0x00, 0x00}); }

    CVirtualClock clock;
    CRecordingWindow window;
    CRecordingLine line;
    std::string dir;
    std::string target;
    Bytes expectedFile;
    std::unique_ptr<CUploadPage> page;
};

std::string ReadFileBytes(const std::string& path);
std::string ToString(const Bytes& bytes);
} // namespace testsupport
