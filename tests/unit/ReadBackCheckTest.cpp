// What a read-back says of an image downloaded before: which modules the
// receiver's memories should hold, what the upload must ask for, and each
// module's result against the memory that came back.
#include "image/ReadBackCheck.h"
#include "image/SampleImages.h"

#include <gtest/gtest.h>

namespace
{
using Bytes = std::vector<std::uint8_t>;

// Modules of these kinds, each filled from its seed; firmware of 5000 bytes.
Bytes Modules(std::initializer_list<std::pair<ModuleKind, int>> modules)
{
    Bytes image;
    for (const auto& [kind, seed] : modules)
    {
        const ModuleHeader header = MakeModuleHeader(kind, 5000);
        AppendModule(image, header, MakeMachineCodeLikeBytes(std::size_t(ModuleDataLength(header)), seed));
    }
    return image;
}

Bytes WithByteChanged(Bytes image, std::size_t at)
{
    image[at] ^= 0x5A;
    return image;
}

constexpr std::size_t kUploadEepromData = 64 + kFlashModuleLength + 64; // in the upload layout
} // namespace

TEST(ReadBackCheckTest, EachModuleIsCheckedAgainstWhatItsMemoryShouldHold)
{
    const struct
    {
        const char* name;
        Bytes image, memory;
        std::optional<UploadKind> kind;
        bool verified;
        std::vector<std::string> results;
    } cases[] = {
        // The download's scan passes over the EEPROM behind the flash; the download still sends it.
        {"UploadLayout", MakeDemoUploadImage(), MakeDemoUploadImage(), UploadKind::Digital, true,
         {"verified", "verified"}},
        {"OneByteStoredWrongly", MakeDemoUploadImage(), WithByteChanged(MakeDemoUploadImage(), kUploadEepromData + 1000),
         UploadKind::Digital, false, {"verified", "differs at offset 1000 (1 byte)"}},
        {"FirmwareBesideData", Modules({{ModuleKind::Firmware, 1}, {ModuleKind::Analog, 2}}),
         Modules({{ModuleKind::Analog, 2}}), UploadKind::Analog, true,
         {"not verifiable: firmware cannot be read back", "verified"}},
        {"TheLastOfAKindIsWhatTheMemoryHolds",
         Modules({{ModuleKind::DigitalEeprom, 1}, {ModuleKind::Analog, 3}, {ModuleKind::DigitalEeprom, 2}}),
         Modules({{ModuleKind::DigitalFlash, 9}, {ModuleKind::DigitalEeprom, 2}, {ModuleKind::Analog, 3}}),
         UploadKind::All, true,
         {"not verifiable: module 3, of the same kind, is written over it", "verified", "verified"}},
        {"AMemoryTheUploadDidNotBring", Modules({{ModuleKind::DigitalEeprom, 1}, {ModuleKind::Analog, 2}}),
         Modules({{ModuleKind::DigitalEeprom, 1}}), UploadKind::All, false,
         {"verified", "not in the receiver's memory"}},
        {"FirmwareOnly", Modules({{ModuleKind::Firmware, 1}}), Modules({{ModuleKind::DigitalEeprom, 1}}), std::nullopt,
         false, {"not verifiable: firmware cannot be read back"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CImageFile image, memory;
        ASSERT_TRUE(image.Assign(Bytes(c.image)));
        ASSERT_TRUE(memory.Assign(Bytes(c.memory)));
        EXPECT_EQ(UploadKindToCheck(WalkImageModules(image, false)), c.kind);
        const ReadBackCheck check = CheckReadBack(image, memory);
        EXPECT_EQ(check.Verified(), c.verified) << DescribeReadBack(check);
        std::vector<std::string> results;
        for (const ModuleReadBack& module : check.modules)
            results.push_back(DescribeModuleReadBack(module));
        EXPECT_EQ(results, c.results);
    }
}
