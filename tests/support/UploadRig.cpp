#include "support/UploadRig.h"

#include "protocol/WireFormat.h"
#include "support/TestSupport.h"
#include "ui/LinkSettings.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport
{
Bytes MakeUploadPacket(std::uint8_t sequence, const Bytes& data)
{
    Bytes packet{PACKET_REQUEST, sequence};
    packet.insert(packet.end(), data.begin(), data.end());
    const std::uint32_t crc = Crc32(data.data(), int(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        packet.push_back(std::uint8_t(crc >> shift));
    return packet;
}

Bytes PacketData(int module, int packet)
{
    Bytes data(kPacketDataSize);
    for (int i = 0; i < kPacketDataSize; ++i)
        data[std::size_t(i)] = std::uint8_t(i * 7 + packet * 13 + module * 101);
    return data;
}

CUploadRig::CUploadRig()
{
    SetClock(&clock);
    theLinkSettings = kInitialLinkSettings;
    theModuleHeader = InitialModuleHeader();
    theBytesLeft = 0;
    dir = MakeTempDir();
    target = dir + "/backup.bin";
    page = std::make_unique<CUploadPage>(&window, nullptr, &line);
    page->OnInitDialog();
    line.TakeAll();
}

CUploadRig::~CUploadRig()
{
    page.reset();
    SetClock(nullptr);
    std::filesystem::remove_all(dir);
}

void CUploadRig::Feed(const Bytes& bytes, std::size_t chunk)
{
    std::vector<char> delivery(chunk + 1);
    std::size_t offset = 0;
    do
    {
        const std::size_t count = std::min(chunk, bytes.size() - offset);
        std::copy(bytes.begin() + long(offset), bytes.begin() + long(offset + count), delivery.begin());
        delivery[count] = 0;
        page->OnReceive(delivery.data(), int(count));
        offset += count;
    } while (offset < bytes.size());
}

void CUploadRig::Browse()
{
    page->OnBrowse(target);
}

void CUploadRig::StartUpload()
{
    Browse();
    Feed({VR520_READY});
    Feed({VR520_FUNC});
    Feed({0x01});
    Feed({VR520_STARD_UPLOAD});
}

void CUploadRig::SendModule(std::uint8_t digital, std::uint8_t flash, int packets, int module)
{
    Feed({std::uint8_t(module), digital, flash});
    ModuleHeader header = theModuleHeader;
    const auto block = BuildControlMessage(header);
    expectedFile.insert(expectedFile.end(), block.begin(), block.end());
    for (int k = 1; k <= packets; ++k)
    {
        const Bytes data = PacketData(module, k);
        const std::uint8_t sequence = k == packets ? LAST_BLOCK : std::uint8_t(k % 10);
        Feed(MakeUploadPacket(sequence, data));
        expectedFile.insert(expectedFile.end(), data.begin(), data.end());
    }
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ToString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}
} // namespace testsupport
