// Loading an image for the download: BIN from disk, STB decoded into memory,
// the same findings for both, and clear refusals.
#include "image/Decoder.h"
#include "image/ImageLoader.h"
#include "image/ModuleKind.h"
#include "image/ModuleWalk.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{
class ImageLoaderTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strDir = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_strDir); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = m_strDir + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    // The same image as a BIN and as an STB.
    std::pair<std::string, std::string> WriteBoth(const std::vector<std::uint8_t>& image)
    {
        return {Write("image.bin", image), Write("image.stb", EncodeStb(image).stream)};
    }

    std::string m_strDir;
};
} // namespace

TEST(ImagePath, StbIsTheLastThreeCharactersInAnyCase)
{
    EXPECT_TRUE(IsStbPath("/x/FW.STB"));
    EXPECT_TRUE(IsStbPath("fw.stb"));
    EXPECT_TRUE(IsStbPath("fw.Stb"));
    EXPECT_TRUE(IsStbPath("firmwarestb")); // no dot needed: only the last three characters count
    EXPECT_FALSE(IsStbPath("fw.bin"));
    EXPECT_FALSE(IsStbPath("fw.dat"));
    EXPECT_FALSE(IsStbPath("firmware"));
    EXPECT_FALSE(IsStbPath("tb"));
    EXPECT_FALSE(IsStbPath(""));
}

TEST_F(ImageLoaderTest, BinStaysOnDiskAndStbIsDecodedIntoMemory)
{
    const auto image = MakeDemoMixedImage();
    const auto [bin, stb] = WriteBoth(image);
    CImageFile fromBin, fromStb;
    const ImageLoadResult binResult = LoadImage(bin, fromBin);
    const ImageLoadResult stbResult = LoadImage(stb, fromStb);
    ASSERT_TRUE(binResult.ok()) << binResult.error;
    ASSERT_TRUE(stbResult.ok()) << stbResult.error;
    EXPECT_FALSE(binResult.bStb);
    EXPECT_TRUE(stbResult.bStb);
    EXPECT_TRUE(fromBin.IsDiskMode());
    EXPECT_FALSE(fromStb.IsDiskMode());
    EXPECT_EQ(binResult.nModules, 3);
    EXPECT_EQ(stbResult.nModules, 3);
    // Loaded and rewound: both read the same first header.
    std::uint8_t a[kModuleHeaderSize], b[kModuleHeaderSize];
    EXPECT_EQ(fromBin.Read(a, kModuleHeaderSize), kModuleHeaderSize);
    EXPECT_EQ(fromStb.Read(b, kModuleHeaderSize), 1);
    EXPECT_EQ(std::memcmp(a, b, kModuleHeaderSize), 0);
}

TEST_F(ImageLoaderTest, TruncatedImagesAreRefusedAlikeNamingModuleAndOffset)
{
    auto image = MakeDemoMixedImage();
    // Inside the data of module 3 (EEPROM, at 64 + 14336 + 64 + 262144 = 276608).
    auto inData = image;
    inData.resize(inData.size() - 1000);
    // Inside the header block of a fourth module.
    auto inHeader = image;
    inHeader.insert(inHeader.end(), 30, 0x01);

    for (const auto& [bytes, where] : {std::pair{inData, std::string("module 3 at offset 276608")},
                                       std::pair{inHeader, std::string("module 4 at offset 278720")}})
    {
        const auto [bin, stb] = WriteBoth(bytes);
        CImageFile fromBin, fromStb;
        const ImageLoadResult binResult = LoadImage(bin, fromBin);
        const ImageLoadResult stbResult = LoadImage(stb, fromStb);
        EXPECT_FALSE(binResult.ok());
        EXPECT_FALSE(stbResult.ok());
        EXPECT_NE(binResult.error.find(where), std::string::npos) << binResult.error;
        EXPECT_NE(stbResult.error.find(where), std::string::npos) << stbResult.error;
        EXPECT_NE(binResult.error.find("truncated"), std::string::npos);
        // Refused images are left closed: nothing stale can be sent.
        std::uint8_t byte;
        EXPECT_EQ(fromBin.Read(&byte, 1), 0);
        EXPECT_EQ(fromStb.Read(&byte, 1), 0);
    }
}

TEST_F(ImageLoaderTest, UnreadableFilesAndDecodingErrorsComeBackAsMessages)
{
    CImageFile image;
    const ImageLoadResult bin = LoadImage(m_strDir + "/missing.bin", image);
    EXPECT_FALSE(bin.ok());
    EXPECT_NE(bin.error.find("No such file or directory"), std::string::npos) << bin.error;
    EXPECT_TRUE(bin.strDecoderError.empty());

    const ImageLoadResult stb = LoadImage(m_strDir + "/missing.stb", image);
    EXPECT_FALSE(stb.ok());
    EXPECT_EQ(stb.strDecoderError, kDecoderCannotRead);

    auto stream = EncodeStb(MakeDemoFirmwareImage()).stream;
    stream.resize(stream.size() / 2);
    const ImageLoadResult cut = LoadImage(Write("cut.STB", stream), image);
    EXPECT_FALSE(cut.ok());
    EXPECT_EQ(cut.strDecoderError, kDecoderPastEnd);
}

TEST_F(ImageLoaderTest, EmptyStbLoadsAsAnEmptyImage)
{
    CImageFile image;
    const ImageLoadResult result = LoadImage(Write("empty.stb", EncodeStb({}).stream), image);
    EXPECT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.nModules, 0);
    EXPECT_EQ(image.GetLength(), 0u);
}

TEST_F(ImageLoaderTest, FailedLoadReleasesThePreviousImage)
{
    CImageFile image;
    ASSERT_TRUE(LoadImage(Write("good.stb", EncodeStb(MakeDemoFirmwareImage()).stream), image).ok());
    EXPECT_FALSE(LoadImage(m_strDir + "/missing.bin", image).ok());
    std::uint8_t byte;
    EXPECT_EQ(image.Read(&byte, 1), 0);
}

TEST_F(ImageLoaderTest, WalkGivesOffsetsLengthsAndDataCrcs)
{
    const auto bytes = MakeDemoMixedImage();
    CImageFile image;
    image.Assign(std::vector<std::uint8_t>(bytes));
    const ModuleWalk walk = WalkImageModules(image, true);
    ASSERT_TRUE(walk.IsComplete()) << walk.strProblem;
    ASSERT_EQ(walk.modules.size(), 3u);
    const std::uint64_t offsets[] = {0, 64 + 14336, 64 + 14336 + 64 + 262144};
    const std::uint32_t lengths[] = {14336, 262144, 2048};
    for (int i = 0; i < 3; ++i)
    {
        const ModuleInfo& module = walk.modules[i];
        EXPECT_EQ(module.nNumber, i + 1);
        EXPECT_EQ(module.nOffset, offsets[i]);
        EXPECT_EQ(module.nDataLength, lengths[i]);
        EXPECT_EQ(module.nCrc, Crc32(bytes.data() + offsets[i] + 64, int(lengths[i])));
    }
    EXPECT_EQ(ModuleKindOf(walk.modules[0].header), ModuleKind::Analog);
    EXPECT_EQ(ModuleKindOf(walk.modules[2].header), ModuleKind::DigitalEeprom);
    // A firmware header claiming 4 GiB is a truncation, not an overflow.
    std::vector<std::uint8_t> huge;
    AppendModule(huge, MakeModuleHeader(ModuleKind::Firmware, 0xFFFFFFFFu), std::vector<std::uint8_t>(100));
    image.Assign(std::move(huge));
    const ModuleWalk hugeWalk = WalkImageModules(image, true);
    EXPECT_FALSE(hugeWalk.IsComplete());
    EXPECT_NE(hugeWalk.strProblem.find("4294967295"), std::string::npos) << hugeWalk.strProblem;
}
