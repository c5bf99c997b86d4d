// Byte formats that cross the serial line between the PC and the receiver:
// single-byte codes, the 44-byte module header, the 64-byte control message,
// the 1030-byte data packet and the receiver's status reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Receiver to PC.
inline constexpr std::uint8_t VR520_RATE = 0xDC;         // asks for the transfer rate (at 9600 baud)
inline constexpr std::uint8_t VR520_READY = 0xCD;        // receiver ready; the PC echoes it
inline constexpr std::uint8_t VR520_FUNC = 0xD0;         // asks which function the PC wants
inline constexpr std::uint8_t VR520_HEADER2 = 0x70;      // asks for the next module header (download)
inline constexpr std::uint8_t VR520_DATA = 0x69;         // asks for a data packet; a block number follows
inline constexpr std::uint8_t VR520_STARD_UPLOAD = 0xD1; // start of an upload
inline constexpr std::uint8_t VR520_STATUS = 0x50;       // 'P': status report; a letter follows

// PC to receiver.
inline constexpr std::uint8_t FUNC_PROGRAM = 0x07;
inline constexpr std::uint8_t FUNC_DIGITAL = 0x04;
inline constexpr std::uint8_t FUNC_ANALOG = 0x05;
inline constexpr std::uint8_t FUNC_DIGITAL_ANALOG = 0x06;
inline constexpr std::uint8_t FUNC_UPLOAD_DIGITAL = 0x01;
inline constexpr std::uint8_t FUNC_UPLOAD_ANALOG = 0x02;
inline constexpr std::uint8_t FUNC_UPLOAD_BOTH = 0x03;
inline constexpr std::uint8_t HEADER_REQUEST = 0x70;
inline constexpr std::uint8_t PACKET_REQUEST = 0x69;

// Block-number byte of a module's last packet.
inline constexpr std::uint8_t LAST_BLOCK = 0xEE;

inline constexpr int kModuleHeaderSize = 44;     // the record
inline constexpr int kHeaderBlockSize = 64;      // record + 20 fill bytes, on the line and in files
inline constexpr int kPacketDataSize = 1024;     // data bytes per packet
inline constexpr int kPacketBufferSize = 1026;   // type + block number + data
inline constexpr int kPacketSize = 1030;         // type + block number + data + CRC-32

// Data lengths that follow from the module header when it is not firmware.
inline constexpr int kFlashModuleLength = 0x40000;  // 262144
inline constexpr int kEepromModuleLength = 0x800;   // 2048
inline constexpr int kAnalogModuleLength = 0x3800;  // 14336

// Rate codes answered to VR520_RATE: 1 = 9600 ... 5 = 115200. 0 for a rate without a code.
int RateCodeFor(int baudRate);
// The baud rate of a rate code, 0 for an unknown code.
int BaudRateFor(int rateCode);

// The 44-byte module header, stored byte for byte as it travels.
struct ModuleHeader
{
    std::uint8_t bytes[kModuleHeaderSize];

    std::uint8_t& leadByte() { return bytes[0]; }
    std::uint8_t firmware() const { return bytes[31]; }
    std::uint8_t digital() const { return bytes[32]; }
    std::uint8_t flash() const { return bytes[33]; }
    std::uint32_t programLength() const;            // bytes 34..37, big-endian
    void setProgramLength(std::uint32_t length);
    std::string_view makerText() const;             // bytes 1..19, up to the first zero
};
static_assert(sizeof(ModuleHeader) == kModuleHeaderSize);

// The header the program starts with (maker text, digital flash, byte 36 = 0xFF).
ModuleHeader InitialModuleHeader();

// The one program-wide header: the download reads each module's header into it,
// the upload fills it and writes it into the output file.
extern ModuleHeader theModuleHeader;

// Data length of a module by its header (firmware: programLength; digital flash
// 262144; digital EEPROM 2048; analog 14336). Pure: the page's GetModuleLength logs.
int ModuleDataLength(const ModuleHeader& header);

// 64 bytes: the record followed by twenty 0xFF.
std::array<std::uint8_t, kHeaderBlockSize> BuildControlMessage(const ModuleHeader& header);

// Block-number byte of packet `packetNumber` (from 1): k mod 10, or LAST_BLOCK for the last one.
std::uint8_t BlockNumberByte(int packetNumber, bool lastPacket);

// 1030 bytes on the line from a 1026-byte packet buffer: type, block, data, CRC-32 big-endian.
std::array<std::uint8_t, kPacketSize> BuildDataPacket(const std::uint8_t* packetBuffer);

// CRC-32: polynomial 0x04C11DB7, initial value 0, no reflection, no final XOR.
extern std::uint32_t theCrcTable[256];
void BuildCrcTable();
std::uint32_t CrcUpdate(int byte, std::uint32_t crc);
std::uint32_t Crc32(const void* buffer, int length);
// The CRC-32 of bytes that follow those whose CRC is `crc` (Crc32 of a whole read in pieces).
std::uint32_t Crc32Continue(std::uint32_t crc, const void* buffer, std::size_t length);

// The program-wide outgoing packet buffer of the download: type, block number, 1024 data bytes.
extern std::uint8_t thePacket[kPacketBufferSize];
// Data bytes of the current unit still to go, shared by both engines.
extern int theBytesLeft;

// A receiver status report: 'P' followed by a letter.
enum class StatusKind { Info, Error };
struct StatusReport
{
    char letter;
    std::string_view text;
    StatusKind kind;
};
// The report a second byte stands for; none for 'S', 'R' and anything unknown.
std::optional<StatusReport> FindStatusReport(std::uint8_t secondByte);
// True for the letters the receiver sends behind a 'P' ('Q' to 'Z'), so a lone
// 'P' followed by one of them in the next delivery is a report split in two.
bool IsStatusLetter(std::uint8_t byte);
