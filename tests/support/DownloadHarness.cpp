#include "support/DownloadHarness.h"

#include "image/SampleImages.h"
#include "support/TestSupport.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace testsupport
{
CDownloadHarness::CDownloadHarness()
{
    SetClock(&clock);
    theLinkSettings = kInitialLinkSettings;
    folder = MakeTempDir();
    page = std::make_unique<CDownloadPage>(&window, nullptr, &line);
    page->OnInitDialog();
}

CDownloadHarness::~CDownloadHarness()
{
    page.reset();
    SetClock(nullptr);
    theLinkSettings = kInitialLinkSettings;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::string CDownloadHarness::WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = folder + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

void CDownloadHarness::Load(const std::string& name, const std::vector<std::uint8_t>& image)
{
    page->OnBrowse(WriteFile(name, image));
    window.ClearHistory();
}

void CDownloadHarness::Receive(const std::vector<std::uint8_t>& bytes)
{
    std::vector<char> block(bytes.begin(), bytes.end());
    block.push_back(0);
    page->OnReceive(block.data(), int(bytes.size()));
}

std::vector<std::uint8_t> CDownloadHarness::RequestPacket(std::uint8_t block)
{
    Receive({VR520_DATA, block});
    return Sent(kPacketSize);
}

std::vector<std::uint8_t> CDownloadHarness::PlayReceiver()
{
    std::vector<std::uint8_t> received;
    Receive({VR520_READY});
    EXPECT_EQ(Sent(1), std::vector<std::uint8_t>{VR520_READY});
    Receive({VR520_FUNC});
    const auto function = Sent(1);
    EXPECT_EQ(function.size(), 1u);
    Receive({0x01}); // the function reply
    for (int module = 0; module < 1000; ++module)
    {
        Receive({VR520_HEADER2});
        const auto block = Sent(kHeaderBlockSize);
        EXPECT_EQ(block.size(), std::size_t(kHeaderBlockSize));
        if (block.size() != std::size_t(kHeaderBlockSize) || block[0] == 0)
            break; // the end message
        ModuleHeader header;
        std::copy(block.begin(), block.begin() + kModuleHeaderSize, header.bytes);
        received.insert(received.end(), block.begin(), block.end());
        std::int64_t left = ModuleDataLength(header);
        for (int k = 1;; ++k)
        {
            const auto packet = RequestPacket(std::uint8_t(k % 10));
            EXPECT_TRUE(IsValidPacket(packet)) << "module " << module << " packet " << k;
            if (packet.size() != std::size_t(kPacketSize))
                return received;
            const bool last = packet[1] == LAST_BLOCK;
            EXPECT_EQ(last, left <= kPacketDataSize) << "module " << module << " packet " << k;
            if (!last)
            {
                EXPECT_EQ(packet[1], k % 10);
            }
            const std::int64_t keep = std::min<std::int64_t>(left, kPacketDataSize);
            received.insert(received.end(), packet.begin() + 2, packet.begin() + 2 + keep);
            left -= kPacketDataSize;
            if (last)
                break;
        }
    }
    return received;
}

std::vector<std::uint8_t> MakeImage(const std::vector<ModuleHeader>& headers, std::uint64_t seed)
{
    std::vector<std::uint8_t> image;
    for (const ModuleHeader& header : headers)
    {
        const auto data = MakeMachineCodeLikeBytes(std::size_t(ModuleDataLength(header)), seed++);
        AppendModule(image, header, data);
    }
    return image;
}

bool IsValidPacket(const std::vector<std::uint8_t>& packet)
{
    if (packet.size() != std::size_t(kPacketSize) || packet[0] != VR520_DATA)
        return false;
    const std::uint32_t crc = Crc32(packet.data() + 2, kPacketDataSize);
    const std::uint32_t sent = std::uint32_t(packet[1026]) << 24 | std::uint32_t(packet[1027]) << 16 |
                               std::uint32_t(packet[1028]) << 8 | packet[1029];
    return crc == sent;
}
} // namespace testsupport
