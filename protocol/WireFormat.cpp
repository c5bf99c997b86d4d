#include "protocol/WireFormat.h"

#include <algorithm>
#include <cstring>

ModuleHeader theModuleHeader = InitialModuleHeader();
std::uint32_t theCrcTable[256];
std::uint8_t thePacket[kPacketBufferSize] = {};
int theBytesLeft = 0;

namespace
{
constexpr int kRates[] = {9600, 19200, 38400, 57600, 115200};

// The table is built at load time as well, so a CRC is right even before a page
// has initialised; BuildCrcTable() rebuilds the same values.
const bool kTableReady = (BuildCrcTable(), true);
} // namespace

int RateCodeFor(int baudRate)
{
    for (int i = 0; i < 5; ++i)
        if (kRates[i] == baudRate)
            return i + 1;
    return 0;
}

int BaudRateFor(int rateCode)
{
    return rateCode >= 1 && rateCode <= 5 ? kRates[rateCode - 1] : 0;
}

std::uint32_t ModuleHeader::programLength() const
{
    return (std::uint32_t(bytes[34]) << 24) | (std::uint32_t(bytes[35]) << 16) | (std::uint32_t(bytes[36]) << 8) |
           std::uint32_t(bytes[37]);
}

void ModuleHeader::setProgramLength(std::uint32_t length)
{
    bytes[34] = std::uint8_t(length >> 24);
    bytes[35] = std::uint8_t(length >> 16);
    bytes[36] = std::uint8_t(length >> 8);
    bytes[37] = std::uint8_t(length);
}

std::string_view ModuleHeader::makerText() const
{
    const char* text = reinterpret_cast<const char*>(bytes + 1);
    std::size_t n = 0;
    while (n < 19 && text[n] != '\0')
        ++n;
    return {text, n};
}

ModuleHeader InitialModuleHeader()
{
    ModuleHeader header{};
    std::memcpy(header.bytes + 1, "Tevrik Marisolvenza", 19);
    std::memset(header.bytes + 21, ' ', 9);
    header.bytes[32] = 1;
    header.bytes[33] = 1;
    header.bytes[36] = 0xFF;
    return header;
}

int ModuleDataLength(const ModuleHeader& header)
{
    if (header.firmware() != 0)
        return int(header.programLength());
    if (header.digital() != 0)
        return header.flash() != 0 ? kFlashModuleLength : kEepromModuleLength;
    return kAnalogModuleLength;
}

std::array<std::uint8_t, kHeaderBlockSize> BuildControlMessage(const ModuleHeader& header)
{
    std::array<std::uint8_t, kHeaderBlockSize> message;
    message.fill(0xFF);
    std::memcpy(message.data(), header.bytes, kModuleHeaderSize);
    return message;
}

std::uint8_t BlockNumberByte(int packetNumber, bool lastPacket)
{
    return lastPacket ? LAST_BLOCK : std::uint8_t(packetNumber % 10);
}

std::array<std::uint8_t, kPacketSize> BuildDataPacket(const std::uint8_t* packetBuffer)
{
    std::array<std::uint8_t, kPacketSize> packet;
    std::memcpy(packet.data(), packetBuffer, kPacketBufferSize);
    const std::uint32_t crc = Crc32(packetBuffer + 2, kPacketDataSize);
    packet[1026] = std::uint8_t(crc >> 24);
    packet[1027] = std::uint8_t(crc >> 16);
    packet[1028] = std::uint8_t(crc >> 8);
    packet[1029] = std::uint8_t(crc);
    return packet;
}

void BuildCrcTable()
{
    for (std::uint32_t i = 0; i < 256; ++i)
    {
        std::uint32_t crc = 0;
        std::uint32_t bits = i << 24;
        for (int j = 0; j < 8; ++j)
        {
            crc = ((crc ^ bits) & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            bits <<= 1;
        }
        theCrcTable[i] = crc;
    }
}

std::uint32_t CrcUpdate(int byte, std::uint32_t crc)
{
    const std::uint32_t index = ((crc >> 24) ^ std::uint32_t(byte)) & 0xFF;
    return (crc << 8) ^ theCrcTable[index];
}

std::uint32_t Crc32(const void* buffer, int length)
{
    return Crc32Continue(0, buffer, std::size_t(std::max(length, 0)));
}

std::uint32_t Crc32Continue(std::uint32_t crc, const void* buffer, std::size_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ theCrcTable[((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

std::optional<StatusReport> FindStatusReport(std::uint8_t secondByte)
{
    static constexpr StatusReport kReports[] = {
        {'Q', "ERROR : Function Communication. ", StatusKind::Info},
        {'T', "ERROR : Header is wrong", StatusKind::Error},
        {'U', "ERROR : Data Communication", StatusKind::Error},
        {'V', "ERROR : Count Number", StatusKind::Error},
        {'W', "ERROR  : Checksum check", StatusKind::Error},
        {'X', "ERROR  :  Frash Erase Fail", StatusKind::Error},
        {'Y', "ERROR  :  Header Communication", StatusKind::Error},
        {'Z', "ERROR  : Data Communication", StatusKind::Error},
    };
    for (const auto& report : kReports)
        if (std::uint8_t(report.letter) == secondByte)
            return report;
    return std::nullopt;
}

bool IsStatusLetter(std::uint8_t byte)
{
    return byte >= 'Q' && byte <= 'Z';
}
