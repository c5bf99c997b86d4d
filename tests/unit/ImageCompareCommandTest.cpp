// `kavdm image compare` through the built binary: its exit codes, standard
// input on one side, and the JSON form.
#include "image/SampleImages.h"

#include "support/CommandProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace
{
const std::string kSamples = std::string(KAVDM_SOURCE_DIR) + "/resources/samples/";

// Runs `kavdm image compare ARGS` through the shell (for redirections); the exit code, `output` stdout and stderr.
int Compare(const std::string& args, std::string& output)
{
    return testsupport::RunCommand({"/bin/sh", "-c", std::string(KAVDM_BINARY) + " image compare " + args}, output,
                                   std::chrono::seconds(30));
}
} // namespace

TEST(ImageCompareCommand, ExitCodesStandardInputAndJson)
{
    const std::string dir = testsupport::MakeTempDir();
    std::vector<std::uint8_t> changed = MakeDemoUploadImage();
    changed[64 + 4096] ^= 1;
    const std::string changedPath = dir + "/changed.bin";
    std::ofstream(changedPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(changed.data()), std::streamsize(changed.size()));

    std::string output;
    EXPECT_EQ(Compare("--stb " + kSamples + "demo-firmware.bin - <" + kSamples + "demo-firmware.stb", output), 0)
        << output;
    EXPECT_NE(output.find("same data"), std::string::npos) << output;

    EXPECT_EQ(Compare(kSamples + "demo-upload.bin " + changedPath, output), 1) << output;
    EXPECT_NE(output.find("differs at offset 4096 (1 byte)"), std::string::npos) << output;

    ASSERT_EQ(Compare("--json " + kSamples + "demo-upload.bin " + changedPath, output), 1);
    const nlohmann::json json = nlohmann::json::parse(output);
    EXPECT_FALSE(json["same"].get<bool>());
    EXPECT_EQ(json["modules"][0]["first_difference"], 4096);
    EXPECT_EQ(json["modules"][1]["result"], "equal");

    // Usage errors and unreadable images exit 2, with the reason.
    for (const std::string& args : {std::string("- - </dev/null"), std::string(kSamples + "demo-upload.bin"),
                                    kSamples + "demo-upload.bin " + dir + "/none.bin"})
    {
        EXPECT_EQ(Compare(args, output), 2) << args;
        EXPECT_FALSE(output.empty()) << args;
    }
    std::filesystem::remove_all(dir);
}
