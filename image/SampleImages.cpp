#include "image/SampleImages.h"

#include "image/ModuleKind.h"
#include "image/StbCodec.h"

#include <algorithm>
#include <cstring>

namespace
{
// splitmix64: small, fast and the same on every platform.
class CSampleRandom
{
public:
    explicit CSampleRandom(std::uint64_t nSeed) : m_nState(nSeed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned Below(unsigned n) { return unsigned(Next() % n); }

private:
    std::uint64_t m_nState;
};

constexpr std::uint8_t kCommonOpcodes[] = {0x89, 0x8B, 0x8B, 0x89, 0x83, 0x85, 0x31, 0x01, 0x29, 0x39,
                                           0x8D, 0x3B, 0xC7, 0x88, 0x0F, 0x74, 0x75, 0xEB, 0xE8, 0xE8};
constexpr std::uint8_t kModRm[] = {0x45, 0x44, 0x4D, 0x55, 0x5D, 0xC0, 0xC1, 0xC2, 0xD0, 0xE5, 0xEC,
                                   0x04, 0x24, 0x7D, 0x75, 0x85, 0x87, 0x05, 0x15, 0xF8};
constexpr std::uint8_t kOneByte[] = {0x50, 0x53, 0x55, 0x5D, 0x5B, 0x58, 0xC3, 0x90, 0x41, 0x57, 0x5F};
constexpr const char* kStrings[] = {"error", "module", "flash", "eeprom", "tuner", "channel", "%d", "\n", "OK"};

void AppendValue(std::vector<std::uint8_t>& out, std::uint32_t value, int nBytes)
{
    for (int i = 0; i < nBytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

// Data of a digital flash module: an erased chip (0xFF) with a few programmed areas.
std::vector<std::uint8_t> MakeFlashData(std::uint64_t nSeed)
{
    std::vector<std::uint8_t> data(kFlashModuleLength, 0xFF);
    const auto code = MakeMachineCodeLikeBytes(24 * 1024, nSeed);
    std::copy(code.begin(), code.end(), data.begin());
    CSampleRandom random(nSeed + 1);
    for (std::size_t offset = 0x10000; offset < 0x10000 + 4096; ++offset) // a channel table
        data[offset] = offset % 16 < 4 ? std::uint8_t(random.Below(64)) : std::uint8_t(offset % 16);
    return data;
}

std::vector<std::uint8_t> MakeSettingsData(std::size_t nBytes, std::uint64_t nSeed)
{
    std::vector<std::uint8_t> data(nBytes, 0xFF);
    CSampleRandom random(nSeed);
    for (std::size_t i = 0; i < nBytes / 2; ++i)
        data[i] = i % 8 == 0 ? std::uint8_t(random.Below(256)) : std::uint8_t(random.Below(4));
    return data;
}
} // namespace

std::vector<std::uint8_t> MakeMachineCodeLikeBytes(std::size_t nBytes, std::uint64_t nSeed)
{
    CSampleRandom random(nSeed);
    std::vector<std::uint8_t> out;
    out.reserve(nBytes + 16);
    while (out.size() < nBytes)
    {
        const unsigned pick = random.Below(100);
        if (pick < 55)
        {
            // register/memory instruction, often with a REX prefix and a small displacement
            if (random.Below(3) == 0)
                out.push_back(0x48);
            out.push_back(kCommonOpcodes[random.Below(sizeof kCommonOpcodes)]);
            const std::uint8_t modrm = kModRm[random.Below(sizeof kModRm)];
            out.push_back(modrm);
            if ((modrm & 0xC0) == 0x40)
                out.push_back(std::uint8_t(random.Below(16) * 8));
            else if ((modrm & 0xC0) == 0x80)
                AppendValue(out, random.Below(4096), 4);
        }
        else if (pick < 70)
        {
            out.push_back(kOneByte[random.Below(sizeof kOneByte)]);
        }
        else if (pick < 80)
        {
            // relative call or jump: the high bytes are nearly always 0x00 or 0xFF
            out.push_back(random.Below(2) ? 0xE8 : 0xE9);
            const std::int32_t target = std::int32_t(random.Below(65536)) - 32768;
            AppendValue(out, std::uint32_t(target), 4);
        }
        else if (pick < 88)
        {
            out.push_back(random.Below(2) ? 0x74 : 0x75);
            out.push_back(std::uint8_t(random.Below(64)));
        }
        else if (pick < 94)
        {
            out.push_back(0xB8 + std::uint8_t(random.Below(8)));
            AppendValue(out, random.Below(256), 4);
        }
        else if (pick < 97)
        {
            const std::size_t n = 1 + random.Below(7);
            out.insert(out.end(), n, random.Below(2) ? 0x90 : 0x00);
        }
        else
        {
            const char* text = kStrings[random.Below(sizeof kStrings / sizeof *kStrings)];
            out.insert(out.end(), text, text + std::strlen(text) + 1);
        }
    }
    out.resize(nBytes);
    return out;
}

void AppendModule(std::vector<std::uint8_t>& image, const ModuleHeader& header, std::span<const std::uint8_t> data,
                  std::uint8_t nFillByte)
{
    image.insert(image.end(), header.bytes, header.bytes + kModuleHeaderSize);
    image.insert(image.end(), kHeaderBlockSize - kModuleHeaderSize, nFillByte);
    image.insert(image.end(), data.begin(), data.end());
}

std::vector<std::uint8_t> MakeDemoFirmwareImage()
{
    constexpr std::size_t kFirmwareBytes = 48 * 1024;
    std::vector<std::uint8_t> image;
    AppendModule(image, MakeModuleHeader(ModuleKind::Firmware, kFirmwareBytes),
                 MakeMachineCodeLikeBytes(kFirmwareBytes, 0x4B41564Eull));
    return image;
}

std::vector<std::uint8_t> MakeDemoMixedImage()
{
    // In this order the download's scan announces digital and analog: its flash skip (2048 bytes
    // longer than the data) then passes the EEPROM module, as with an uploaded image. A flash
    // module followed by an analog one would have the scan read a header inside the data.
    std::vector<std::uint8_t> image;
    AppendModule(image, MakeModuleHeader(ModuleKind::Analog), MakeSettingsData(kAnalogModuleLength, 13));
    AppendModule(image, MakeModuleHeader(ModuleKind::DigitalFlash), MakeFlashData(11));
    AppendModule(image, MakeModuleHeader(ModuleKind::DigitalEeprom), MakeSettingsData(kEepromModuleLength, 12));
    return image;
}

std::vector<std::uint8_t> MakeDemoUploadImage()
{
    // As an upload stores them: the received lead byte, and the module size little-endian in bytes 36..39.
    auto uploadHeader = [](ModuleKind kind, std::uint32_t nSize) {
        ModuleHeader header = MakeModuleHeader(kind, 0, 0x01);
        for (int i = 0; i < 4; ++i)
            header.bytes[36 + i] = std::uint8_t(nSize >> (8 * i));
        return header;
    };
    std::vector<std::uint8_t> image;
    AppendModule(image, uploadHeader(ModuleKind::DigitalFlash, kFlashModuleLength), MakeFlashData(21));
    AppendModule(image, uploadHeader(ModuleKind::DigitalEeprom, kEepromModuleLength),
                 MakeSettingsData(kEepromModuleLength, 22));
    return image;
}

std::vector<SampleFile> MakeSampleFiles()
{
    std::vector<SampleFile> files;
    const auto firmware = MakeDemoFirmwareImage();
    files.push_back({"demo-firmware.bin", firmware});
    files.push_back({"demo-firmware.stb", EncodeStb(firmware).stream});
    files.push_back({"demo-mixed.stb", EncodeStb(MakeDemoMixedImage()).stream});
    files.push_back({"demo-upload.bin", MakeDemoUploadImage()});
    return files;
}
