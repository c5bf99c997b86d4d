// Replays the inputs the fuzzers once broke on (tests/fuzz/regressions/), and a
// few hand-made ones of the same shape, through the fuzz targets' own checks.
#include "fuzz/FuzzBodies.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace
{
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
} // namespace

TEST(CodecFuzzRegression, KeptInputsPassTheFuzzChecks)
{
    const std::filesystem::path folder = std::filesystem::path(KAVDM_SOURCE_DIR) / "tests/fuzz/regressions";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
    {
        const std::string name = entry.path().filename().string();
        const auto bytes = ReadBytes(entry.path());
        if (name.starts_with("StbDecoderFuzz-"))
            fuzzbodies::StbDecoderInput(bytes);
        else if (name.starts_with("ImageScanFuzz-"))
            fuzzbodies::ImageScanInput(bytes);
        else
            continue;
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

TEST(CodecFuzzRegression, ModuleDescriptorsCoverEveryKindByteShape)
{
    // Descriptors: firmware of 0 and of 97 * 5 bytes, digital 2 (unknown), flash 7 with digital 1,
    // EEPROM, analog, then trailing bytes that cut a module short.
    fuzzbodies::ImageScanInput(std::vector<std::uint8_t>{1, 0x80, 0, 0, 0x85, 1, 1, 1, 2, 0, 1, 1, 7, 1, 1, 0});
    fuzzbodies::ImageScanInput(std::vector<std::uint8_t>{1, 3, 1, 0, 3, 0, 0, 3, 1, 1, 3, 1, 0, 9, 9});
    fuzzbodies::ImageScanInput(std::vector<std::uint8_t>{0});
    fuzzbodies::ImageScanInput({});
    fuzzbodies::StbDecoderInput({});
    fuzzbodies::StbDecoderInput(std::vector<std::uint8_t>{0, 0, 0x80, 0x20});
}
