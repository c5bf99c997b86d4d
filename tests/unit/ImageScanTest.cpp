// The download's scan of an image's modules, with the receiver-facing quirks,
// run on the same bytes from disk and from memory.
#include "image/ImageScan.h"
#include "image/ModuleKind.h"
#include "image/SampleImages.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace
{
std::vector<std::uint8_t> Data(std::size_t n, std::uint8_t fill = 0x11)
{
    return std::vector<std::uint8_t>(n, fill);
}

std::vector<std::uint8_t> Image(std::initializer_list<ModuleKind> kinds)
{
    std::vector<std::uint8_t> image;
    for (ModuleKind kind : kinds)
    {
        const std::uint32_t length = kind == ModuleKind::DigitalFlash    ? kFlashModuleLength
                                     : kind == ModuleKind::DigitalEeprom ? kEepromModuleLength
                                     : kind == ModuleKind::Analog        ? kAnalogModuleLength
                                                                         : 5000;
        AppendModule(image, MakeModuleHeader(kind, length), Data(length));
    }
    return image;
}

class ImageScanTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strDir = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_strDir); }

    // Scans the bytes from a disk file and from memory; both must agree.
    ImageScanResult Scan(const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = m_strDir + "/scan.bin";
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        CImageFile disk, memory;
        EXPECT_NE(disk.OpenFile(path), 0);
        EXPECT_EQ(memory.Assign(std::vector<std::uint8_t>(bytes)), 1);
        const ImageScanResult fromDisk = ScanImageForDownload(disk);
        const ImageScanResult fromMemory = ScanImageForDownload(memory);
        EXPECT_EQ(fromDisk.nModuleKinds, fromMemory.nModuleKinds);
        EXPECT_EQ(fromDisk.nTotalBytes, fromMemory.nTotalBytes);
        EXPECT_EQ(fromDisk.nFunctionCode, fromMemory.nFunctionCode);
        // Rewound afterwards: the transfer starts at the first header.
        std::uint8_t first[2] = {};
        if (bytes.size() >= 2)
        {
            disk.Read(first, 2);
            EXPECT_EQ(first[0], bytes[0]);
            memory.Read(first, 2);
            EXPECT_EQ(first[0], bytes[0]);
        }
        return fromMemory;
    }

    std::string m_strDir;
};
} // namespace

TEST_F(ImageScanTest, KindsMapToFunctionCodes)
{
    auto firmware = Scan(Image({ModuleKind::Firmware}));
    EXPECT_EQ(firmware.nModuleKinds, kKindsFirmware);
    EXPECT_EQ(firmware.nFunctionCode, FUNC_PROGRAM);
    EXPECT_EQ(firmware.nTotalBytes, 5000);

    auto digital = Scan(Image({ModuleKind::DigitalEeprom, ModuleKind::DigitalEeprom}));
    EXPECT_EQ(digital.nFunctionCode, FUNC_DIGITAL);
    EXPECT_EQ(digital.nTotalBytes, 2 * 2048);

    auto analog = Scan(Image({ModuleKind::Analog}));
    EXPECT_EQ(analog.nFunctionCode, FUNC_ANALOG);
    EXPECT_EQ(analog.nTotalBytes, 14336);

    auto both = Scan(Image({ModuleKind::Analog, ModuleKind::DigitalEeprom}));
    EXPECT_EQ(both.nModuleKinds, kKindsDigitalAnalog);
    EXPECT_EQ(both.nFunctionCode, FUNC_DIGITAL_ANALOG);
}

TEST_F(ImageScanTest, FirmwareEndsTheScanWhateverFollows)
{
    auto result = Scan(Image({ModuleKind::Analog, ModuleKind::Firmware, ModuleKind::DigitalFlash}));
    EXPECT_EQ(result.nModuleKinds, kKindsFirmware);
    EXPECT_EQ(result.nTotalBytes, 14336 + 5000);
}

TEST_F(ImageScanTest, LaterDigitalModuleTurnsDigitalAndAnalogBackIntoDigital)
{
    auto result = Scan(Image({ModuleKind::DigitalEeprom, ModuleKind::Analog, ModuleKind::DigitalEeprom}));
    EXPECT_EQ(result.nModuleKinds, kKindsDigital);
    EXPECT_EQ(result.nFunctionCode, FUNC_DIGITAL);
}

TEST_F(ImageScanTest, TwoKilobytesOrLessHoldNoModule)
{
    auto image = Image({ModuleKind::Analog});
    image.resize(2048);
    EXPECT_EQ(Scan(image).nModuleKinds, kKindsInvalid);
    EXPECT_EQ(Scan(image).nFunctionCode, 0);
    EXPECT_EQ(Scan({}).nModuleKinds, kKindsInvalid);
    // One byte more and the (incomplete) module counts: the scan goes by length alone.
    image.push_back(0);
    EXPECT_EQ(Scan(image).nFunctionCode, FUNC_ANALOG);
}

TEST_F(ImageScanTest, UploadLayoutScansAsOneDigitalModule)
{
    // Flash skips 264192 bytes, leaving len at 128: the EEPROM module is never looked at.
    auto result = Scan(MakeDemoUploadImage());
    EXPECT_EQ(result.nModuleKinds, kKindsDigital);
    EXPECT_EQ(result.nTotalBytes, 262144);
    EXPECT_EQ(result.nFunctionCode, FUNC_DIGITAL);
}

TEST_F(ImageScanTest, FlashSkipLongerThanItsDataReadsTheNextHeaderInsideData)
{
    // The scan skips 2048 bytes past a flash module's data: the next "header" it reads lies in
    // the following module's data (here 0x11 bytes: a firmware byte of 0x11).
    auto result = Scan(Image({ModuleKind::DigitalFlash, ModuleKind::Analog}));
    EXPECT_EQ(result.nModuleKinds, kKindsFirmware);
    // Analog first, then flash and EEPROM: the skip passes the EEPROM module and the scan ends.
    auto mixed = Scan(MakeDemoMixedImage());
    EXPECT_EQ(mixed.nFunctionCode, FUNC_DIGITAL_ANALOG);
    EXPECT_EQ(mixed.nTotalBytes, 14336 + 262144);
}

TEST_F(ImageScanTest, UnknownDigitalOrFlashByteMakesTheImageInvalidInsteadOfLooping)
{
    for (auto [digital, flash] : {std::pair{2, 0}, std::pair{0xFF, 1}, std::pair{1, 2}, std::pair{1, 0x80}})
    {
        auto image = Image({ModuleKind::Analog, ModuleKind::Analog});
        image[14400 + 32] = std::uint8_t(digital); // second module's header
        image[14400 + 33] = std::uint8_t(flash);
        auto result = Scan(image);
        EXPECT_EQ(result.nModuleKinds, kKindsInvalid) << digital << "/" << flash;
        EXPECT_EQ(result.nFunctionCode, 0);
        EXPECT_NE(result.strInvalidReason.find("module 2"), std::string::npos) << result.strInvalidReason;
    }
    // A firmware module's digital and flash bytes do not matter.
    auto firmware = Image({ModuleKind::Firmware});
    firmware[32] = 7;
    EXPECT_EQ(Scan(firmware).nFunctionCode, FUNC_PROGRAM);
}

TEST_F(ImageScanTest, HeaderBytesNotCountedLetTheScanReadPastTheEndWithTheStaleHeader)
{
    // 40 EEPROM modules: each takes 2112 bytes but only 2048 come off len, so a 41st header is
    // read at the very end. It yields nothing new and the record keeps the 40th module's
    // content: one more EEPROM module is counted.
    std::vector<std::uint8_t> image;
    for (int i = 0; i < 40; ++i)
        AppendModule(image, MakeModuleHeader(ModuleKind::DigitalEeprom), Data(2048));
    auto result = Scan(image);
    EXPECT_EQ(result.nModuleKinds, kKindsDigital);
    EXPECT_EQ(result.nTotalBytes, 41 * 2048);
}

TEST_F(ImageScanTest, ScanReadsIntoTheRecordItIsGiven)
{
    CImageFile image;
    image.Assign(Image({ModuleKind::DigitalEeprom, ModuleKind::Analog}));
    ModuleHeader record = InitialModuleHeader();
    ScanImageForDownload(image, record);
    EXPECT_EQ(record.digital(), 0); // the last header read: the analog module
    EXPECT_EQ(FunctionCodeForKinds(5), 0);
    EXPECT_EQ(FunctionNameForKinds(kKindsDigitalAnalog), "data_digital and analog");
}
