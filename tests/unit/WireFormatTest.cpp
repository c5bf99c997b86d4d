#include "protocol/WireFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(Crc32, KnownVectors)
{
    BuildCrcTable();
    EXPECT_EQ(Crc32("123456789", 9), 0x89A1897Fu);
    EXPECT_EQ(Crc32("abc", 3), 0x2C17398Cu);
    std::vector<std::uint8_t> zeros(1024, 0);
    EXPECT_EQ(Crc32(zeros.data(), 1024), 0u);
    EXPECT_EQ(Crc32("abc", 0), 0u);
    EXPECT_EQ(Crc32("abc", -5), 0u);
    EXPECT_EQ(theCrcTable[1], 0x04C11DB7u);
    EXPECT_EQ(theCrcTable[255], 0xB1F740B4u);
}

TEST(Crc32, ByteFoldingMatchesBlockCrc)
{
    const char* text = "The quick brown fox";
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < std::strlen(text); ++i)
        crc = CrcUpdate(std::uint8_t(text[i]), crc);
    EXPECT_EQ(crc, Crc32(text, int(std::strlen(text))));
    BuildCrcTable(); // rebuilding changes nothing
    EXPECT_EQ(crc, Crc32(text, int(std::strlen(text))));
}

TEST(ModuleHeader, InitialContentAndLengths)
{
    ModuleHeader header = InitialModuleHeader();
    EXPECT_EQ(header.bytes[0], 0);
    EXPECT_EQ(header.makerText(), "Tevrik Marisolvenza");
    EXPECT_EQ(header.bytes[20], 0);
    for (int i = 21; i <= 29; ++i)
        EXPECT_EQ(header.bytes[i], ' ') << i;
    EXPECT_EQ(header.bytes[30], 0);
    EXPECT_EQ(header.firmware(), 0);
    EXPECT_EQ(header.digital(), 1);
    EXPECT_EQ(header.flash(), 1);
    EXPECT_EQ(header.bytes[36], 0xFF);
    EXPECT_EQ(ModuleDataLength(header), 262144);

    header.bytes[33] = 0;
    EXPECT_EQ(ModuleDataLength(header), 2048);
    header.bytes[32] = 0;
    EXPECT_EQ(ModuleDataLength(header), 14336);

    // Firmware: the big-endian program length, 00 01 00 00 = 65536.
    header.bytes[31] = 1;
    header.bytes[34] = 0x00;
    header.bytes[35] = 0x01;
    header.bytes[36] = 0x00;
    header.bytes[37] = 0x00;
    EXPECT_EQ(ModuleDataLength(header), 65536);
    header.setProgramLength(0x01020304);
    EXPECT_EQ(header.bytes[34], 1);
    EXPECT_EQ(header.bytes[37], 4);
    EXPECT_EQ(header.programLength(), 0x01020304u);
}

TEST(ControlMessage, HeaderThenTwentyFillBytes)
{
    ModuleHeader header;
    std::memset(header.bytes, 0xA5, sizeof header.bytes);
    auto message = BuildControlMessage(header);
    ASSERT_EQ(message.size(), 64u);
    EXPECT_EQ(std::memcmp(message.data(), header.bytes, 44), 0);
    for (int i = 44; i < 64; ++i)
        EXPECT_EQ(message[i], 0xFF) << i;

    // The end message differs from the header message only in byte 0.
    ModuleHeader end = header;
    end.leadByte() = 0;
    auto endMessage = BuildControlMessage(end);
    EXPECT_EQ(endMessage[0], 0);
    EXPECT_EQ(std::memcmp(endMessage.data() + 1, message.data() + 1, 63), 0);
}

TEST(DataPacket, LayoutAndBigEndianCrc)
{
    std::uint8_t buffer[kPacketBufferSize];
    buffer[0] = 0x69;
    buffer[1] = BlockNumberByte(3, false);
    for (int i = 0; i < 1024; ++i)
        buffer[2 + i] = std::uint8_t(i * 7);
    auto packet = BuildDataPacket(buffer);
    ASSERT_EQ(packet.size(), 1030u);
    EXPECT_EQ(packet[0], 0x69);
    EXPECT_EQ(packet[1], 3);
    EXPECT_EQ(std::memcmp(packet.data() + 2, buffer + 2, 1024), 0);
    const std::uint32_t crc = Crc32(buffer + 2, 1024);
    EXPECT_EQ(packet[1026], crc >> 24);
    EXPECT_EQ(packet[1027], (crc >> 16) & 0xFF);
    EXPECT_EQ(packet[1028], (crc >> 8) & 0xFF);
    EXPECT_EQ(packet[1029], crc & 0xFF);
    // The receiver's check: CRC over data and the appended CRC of an
    // unreflected CRC without final XOR is zero.
    EXPECT_EQ(Crc32(packet.data() + 2, 1028), 0u);
}

TEST(BlockNumbers, ModuloTenAndLastBlock)
{
    EXPECT_EQ(BlockNumberByte(1, false), 1);
    EXPECT_EQ(BlockNumberByte(9, false), 9);
    EXPECT_EQ(BlockNumberByte(10, false), 0x00);
    EXPECT_EQ(BlockNumberByte(11, false), 1);
    EXPECT_EQ(BlockNumberByte(10, true), LAST_BLOCK);
    EXPECT_EQ(BlockNumberByte(1, true), 0xEE);
}

TEST(RateCodes, BothWays)
{
    EXPECT_EQ(RateCodeFor(9600), 1);
    EXPECT_EQ(RateCodeFor(57600), 4);
    EXPECT_EQ(RateCodeFor(115200), 5);
    EXPECT_EQ(RateCodeFor(4800), 0);
    EXPECT_EQ(BaudRateFor(2), 19200);
    EXPECT_EQ(BaudRateFor(0), 0);
    EXPECT_EQ(BaudRateFor(6), 0);
}

TEST(StatusReports, TextsKeepTheirSpacing)
{
    auto q = FindStatusReport('Q');
    ASSERT_TRUE(q);
    EXPECT_EQ(q->text, "ERROR : Function Communication. ");
    EXPECT_EQ(q->kind, StatusKind::Info);
    EXPECT_EQ(FindStatusReport('W')->text, "ERROR  : Checksum check");
    EXPECT_EQ(FindStatusReport('X')->text, "ERROR  :  Frash Erase Fail");
    EXPECT_EQ(FindStatusReport('Y')->text, "ERROR  :  Header Communication");
    EXPECT_EQ(FindStatusReport('Z')->text, "ERROR  : Data Communication");
    EXPECT_EQ(FindStatusReport('U')->text, "ERROR : Data Communication");
    for (char c : {'T', 'U', 'V', 'W', 'X', 'Y', 'Z'})
        EXPECT_EQ(FindStatusReport(std::uint8_t(c))->kind, StatusKind::Error) << c;
    EXPECT_FALSE(FindStatusReport('R'));
    EXPECT_FALSE(FindStatusReport('S'));
    EXPECT_FALSE(FindStatusReport(0));
}
