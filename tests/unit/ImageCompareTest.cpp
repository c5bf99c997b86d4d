// Comparing two images module by module, through files as the command and the
// window load them: which modules are paired, and what each pair's result says.
#include "image/ImageCompare.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace
{
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFlashData = 64 + kAnalogModuleLength + 64; // demo-mixed: analog, then flash

Bytes WithByteChanged(Bytes image, std::size_t nAt)
{
    image[nAt] ^= 0x5A;
    return image;
}

// Data modules of these kinds, each filled from its seed.
Bytes DataModules(std::initializer_list<std::pair<ModuleKind, int>> modules)
{
    Bytes image;
    for (const auto& [kind, seed] : modules)
    {
        const ModuleHeader header = MakeModuleHeader(kind);
        AppendModule(image, header, MakeMachineCodeLikeBytes(std::size_t(ModuleDataLength(header)), seed));
    }
    return image;
}

struct CompareCase
{
    const char* name;
    Bytes first, second;
    bool bSecondStb = false;
    bool bHeadersCount = false;
    bool bSame = true;
    std::vector<std::string> results; // per module, as DescribeModuleResult words it
};

void PrintTo(const CompareCase& c, std::ostream* out)
{
    *out << c.name;
}

class ImageCompareTest : public ::testing::TestWithParam<CompareCase>
{
protected:
    void SetUp() override { m_dir = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        return path;
    }
    std::string m_dir;
};

TEST_P(ImageCompareTest, PairsModulesByKindAndOrder)
{
    const CompareCase& c = GetParam();
    const std::string second =
        c.bSecondStb ? Write("second.stb", EncodeStb(c.second).stream) : Write("second.bin", c.second);
    CImageFile imageA, imageB;
    ASSERT_TRUE(LoadImageToCompare(Write("first.bin", c.first), imageA).ok());
    const CompareImageLoad loadB = LoadImageToCompare(second, imageB);
    ASSERT_TRUE(loadB.ok()) << loadB.error;
    EXPECT_EQ(loadB.bStb, c.bSecondStb);

    const ImageComparison comparison = CompareImages(imageA, imageB, c.bHeadersCount);
    EXPECT_EQ(comparison.Same(), c.bSame) << DescribeComparison(comparison);
    std::vector<std::string> results;
    for (const ModuleComparison& module : comparison.modules)
        results.push_back(DescribeModuleResult(module, c.bHeadersCount));
    EXPECT_EQ(results, c.results);
}

// An upload writes the receiver's record into the header blocks: here another maker text.
Bytes UploadWithItsOwnHeaders()
{
    Bytes upload = MakeDemoUploadImage();
    upload[1] = 'X';
    upload[64 + kFlashModuleLength + 1] = 'X';
    return upload;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageCompareTest,
    ::testing::Values(
        CompareCase{"Same", MakeDemoMixedImage(), MakeDemoMixedImage(), false, false, true,
                    {"equal", "equal", "equal"}},
        CompareCase{"OneByteChanged", MakeDemoMixedImage(), WithByteChanged(MakeDemoMixedImage(), kFlashData + 1000),
                    false, false, false, {"equal", "differs at offset 1000 (1 byte)", "equal"}},
        CompareCase{"MissingModule", DataModules({{ModuleKind::DigitalFlash, 1}, {ModuleKind::DigitalEeprom, 2}}),
                    DataModules({{ModuleKind::DigitalFlash, 1}}), false, false, false, {"equal", "only in A"}},
        CompareCase{"KindsPairWhateverTheirPlace", DataModules({{ModuleKind::Analog, 1}, {ModuleKind::DigitalFlash, 2}}),
                    DataModules({{ModuleKind::DigitalFlash, 2}, {ModuleKind::Analog, 1}, {ModuleKind::Analog, 3}}),
                    false, false, false, {"equal", "equal", "only in B"}},
        CompareCase{"BinAgainstItsStb", MakeDemoFirmwareImage(), MakeDemoFirmwareImage(), true, false, true,
                    {"equal"}},
        CompareCase{"UploadHeadersAreReportedOnly", MakeDemoUploadImage(), UploadWithItsOwnHeaders(), false, false,
                    true, {"equal, header block differs", "equal, header block differs"}},
        CompareCase{"UploadHeadersCountWhenAskedFor", MakeDemoUploadImage(), UploadWithItsOwnHeaders(), false, true,
                    false, {"header block differs", "header block differs"}}),
    [](const ::testing::TestParamInfo<CompareCase>& info) { return std::string(info.param.name); });

TEST(ImageCompareLoad, RefusesAnImageThatEndsInsideAModuleOrHoldsNone)
{
    Bytes cut = MakeDemoFirmwareImage();
    cut.resize(cut.size() - 1);
    CImageFile image;
    EXPECT_NE(LoadImageToCompare("cut", image, false, &cut).error.find("truncated"), std::string::npos);
    Bytes empty;
    EXPECT_NE(LoadImageToCompare("empty", image, false, &empty).error.find("holds no module"), std::string::npos);
}
} // namespace
