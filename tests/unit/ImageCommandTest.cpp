// `kavdm image` through the built binary: output, exit codes and the decoding
// error's form on stderr. Also checks that the shipped samples still match
// their generator.
#include "image/ModuleKind.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace
{
struct CommandResult
{
    int nExitCode = -1;
    std::string strOut, strErr;
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    const std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class ImageCommandTest : public ::testing::Test
{
protected:
    void SetUp() override { m_strDir = testsupport::MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(m_strDir); }

    // Runs kavdm with `args`; its standard output goes to `stdoutPath` when one
    // is given. `feed` goes before the command in the shell line ("cat X | ").
    CommandResult Run(const std::string& args, const std::string& stdoutPath = "", const std::string& feed = "")
    {
        const std::string out = stdoutPath.empty() ? m_strDir + "/stdout" : stdoutPath, err = m_strDir + "/stderr";
        const std::string command = feed + std::string(KAVDM_BINARY) + " " + args + " >" + out + " 2>" + err +
                                    (feed.empty() ? " </dev/null" : "");
        const int status = std::system(command.c_str());
        CommandResult result;
        result.nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.strOut = stdoutPath.empty() ? ReadText(out) : "";
        result.strErr = ReadText(err);
        return result;
    }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = m_strDir + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    std::string m_strDir;
};

const std::string kSamples = std::string(KAVDM_SOURCE_DIR) + "/resources/samples/";
} // namespace

TEST_F(ImageCommandTest, InfoListsModulesAndTheAnnouncedFunction)
{
    const CommandResult mixed = Run("image info " + kSamples + "demo-mixed.stb");
    EXPECT_EQ(mixed.nExitCode, 0) << mixed.strErr;
    EXPECT_NE(mixed.strOut.find("STB, 278720 bytes decoded"), std::string::npos) << mixed.strOut;
    EXPECT_NE(mixed.strOut.find("analog"), std::string::npos);
    EXPECT_NE(mixed.strOut.find("276608  digital-eeprom"), std::string::npos) << mixed.strOut;
    EXPECT_NE(mixed.strOut.find("Tevrik Marisolvenza"), std::string::npos);
    EXPECT_NE(mixed.strOut.find("function code 0x06 (data_digital and analog), total 276480"), std::string::npos)
        << mixed.strOut;

    // The CRC column is the packets' CRC-32 over the module's data.
    const auto firmware = MakeDemoFirmwareImage();
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", Crc32(firmware.data() + 64, int(firmware.size() - 64)));
    const CommandResult bin = Run("image info " + kSamples + "demo-firmware.bin");
    EXPECT_EQ(bin.nExitCode, 0);
    EXPECT_NE(bin.strOut.find(crc), std::string::npos) << bin.strOut;
    EXPECT_NE(bin.strOut.find("function code 0x07 (program)"), std::string::npos);

    const CommandResult upload = Run("image info " + kSamples + "demo-upload.bin");
    EXPECT_NE(upload.strOut.find("function code 0x04 (data_digital), total 262144"), std::string::npos)
        << upload.strOut;
}

TEST_F(ImageCommandTest, BadImagesExitOneWithAMessage)
{
    const CommandResult missing = Run("image info " + m_strDir + "/none.bin");
    EXPECT_EQ(missing.nExitCode, 1);
    EXPECT_NE(missing.strErr.find("No such file or directory"), std::string::npos) << missing.strErr;

    auto truncated = MakeDemoFirmwareImage();
    truncated.resize(truncated.size() - 10);
    const CommandResult cut = Run("image info " + Write("cut.bin", truncated));
    EXPECT_EQ(cut.nExitCode, 1);
    EXPECT_NE(cut.strErr.find("module 1 at offset 0"), std::string::npos) << cut.strErr;

    // Complete, but at 2048 bytes or less the download's scan finds no module.
    std::vector<std::uint8_t> image;
    AppendModule(image, MakeModuleHeader(ModuleKind::Firmware, 1984), std::vector<std::uint8_t>(1984, 0x90));
    const CommandResult small = Run("image info " + Write("small.bin", image));
    EXPECT_EQ(small.nExitCode, 1);
    EXPECT_NE(small.strOut.find("BIN file is invalid."), std::string::npos) << small.strOut;
}

TEST_F(ImageCommandTest, DecodingErrorIsPrintedInTheTraditionalForm)
{
    auto stream = ReadBytes(kSamples + "demo-firmware.stb");
    stream.resize(stream.size() / 2);
    const std::string cut = Write("cut.stb", stream);
    for (const std::string& args : {"image info " + cut, "image decode " + cut + " " + m_strDir + "/out.bin"})
    {
        const CommandResult result = Run(args);
        EXPECT_EQ(result.nExitCode, 1);
        EXPECT_EQ(result.strErr, "\a -> Error: < Decoder > attempted to read past end of file\n"
                                 " Execution terminated...\n\n");
    }
    EXPECT_FALSE(std::filesystem::exists(m_strDir + "/out.bin"));
    const CommandResult missing = Run("image decode " + m_strDir + "/none.stb " + m_strDir + "/out.bin");
    EXPECT_EQ(missing.nExitCode, 1);
    EXPECT_NE(missing.strErr.find("\a -> Error: < Decoder > cannot read file\n"), std::string::npos);
}

TEST_F(ImageCommandTest, EncodeThenDecodeGivesTheSameBytes)
{
    const std::string stb = m_strDir + "/fw.stb", bin = m_strDir + "/fw.bin";
    const CommandResult encoded = Run("image encode " + kSamples + "demo-firmware.bin " + stb);
    ASSERT_EQ(encoded.nExitCode, 0) << encoded.strErr;
    EXPECT_EQ(ReadBytes(stb), ReadBytes(kSamples + "demo-firmware.stb"));
    const CommandResult decoded = Run("image decode " + stb + " " + bin);
    ASSERT_EQ(decoded.nExitCode, 0) << decoded.strErr;
    EXPECT_EQ(ReadBytes(bin), ReadBytes(kSamples + "demo-firmware.bin"));

    const CommandResult unwritable = Run("image decode " + stb + " " + m_strDir + "/no/such/folder/x.bin");
    EXPECT_EQ(unwritable.nExitCode, 1);
    EXPECT_NE(unwritable.strErr.find("x.bin: No such file or directory"), std::string::npos)
        << unwritable.strErr;
}

TEST_F(ImageCommandTest, AnOutputThatIsTheInputIsRefusedAndAnOlderPartialIsLeftAlone)
{
    const std::string stb = m_strDir + "/fw.stb";
    std::filesystem::copy_file(kSamples + "demo-firmware.stb", stb);
    std::filesystem::create_symlink("fw.stb", m_strDir + "/link.stb");
    std::filesystem::create_hard_link(stb, m_strDir + "/hard.stb");
    const std::string dir = m_strDir;
    for (const std::string& out : {stb, dir + "/./fw.stb", dir + "/link.stb", dir + "/hard.stb"})
    {
        const CommandResult result = Run("image decode " + stb + " " + out);
        EXPECT_EQ(result.nExitCode, 1) << out;
        EXPECT_NE(result.strErr.find("it is the input file"), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(ReadBytes(stb), ReadBytes(kSamples + "demo-firmware.stb"));

    const std::string bin = m_strDir + "/fw.bin";
    Write("fw.bin.partial", {'k', 'e', 'e', 'p'});
    ASSERT_EQ(Run("image decode " + stb + " " + bin).nExitCode, 0);
    EXPECT_EQ(ReadBytes(bin + ".partial"), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(ImageCommandTest, DashIsStandardInputAndOutputAndJsonParses)
{
    const std::string kavdm = KAVDM_BINARY, round = m_strDir + "/round.bin";
    const std::string pipeline = kavdm + " image decode - - <" + kSamples + "demo-mixed.stb 2>/dev/null | " + kavdm +
                                 " image encode - - 2>/dev/null | " + kavdm + " image decode - " + round + " >/dev/null";
    ASSERT_EQ(std::system(pipeline.c_str()), 0);
    EXPECT_EQ(ReadBytes(round), DecodeStbFile(kSamples + "demo-mixed.stb").image);

    const CommandResult info = Run("image info --json " + kSamples + "demo-mixed.stb");
    ASSERT_EQ(info.nExitCode, 0) << info.strErr;
    const auto json = nlohmann::json::parse(info.strOut);
    ASSERT_EQ(json.at("modules").size(), 3u);
    EXPECT_EQ(json["modules"][1]["kind"], "digital-flash");
    EXPECT_EQ(json["download"]["function_code"], 0x06);
    EXPECT_EQ(json["download"]["total_bytes"], 276480);

    const CommandResult ports = Run("--com7 '/dev/odd \"name\"' ports --json");
    ASSERT_EQ(ports.nExitCode, 0) << ports.strErr;
    const auto list = nlohmann::json::parse(ports.strOut);
    EXPECT_EQ(list.at("ports").back()["device"], "/dev/odd \"name\"");
}

TEST_F(ImageCommandTest, InputsThatAreNoRegularFilesAreReadAsStreams)
{
    const std::string bin = kSamples + "demo-firmware.bin", fifo = m_strDir + "/fifo.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case
    {
        std::string feed, args;
        int exitCode;
        std::string said; // on stdout, or on stderr for a failure
    };
    const std::vector<Case> cases = {
        {"cat " + bin + " | ", "image info /dev/stdin", 0, "/dev/stdin: BIN, 49216 bytes"},
        {"(sleep 0.2; cat " + bin + " >" + fifo + ") & ", "image info " + fifo, 0, "BIN, 49216 bytes"},
        {"cat " + bin + " | ", "image encode /dev/stdin " + m_strDir + "/out.stb", 0, "33860 bytes from 49216"},
        {"", "image info /dev/zero", 1, "/dev/zero holds more than the 268435456 bytes (256 MiB)"}};
    for (const Case& c : cases)
    {
        const CommandResult result = Run(c.args, "", c.feed);
        EXPECT_EQ(result.nExitCode, c.exitCode) << c.args << ": " << result.strErr;
        EXPECT_NE((c.exitCode == 0 ? result.strOut : result.strErr).find(c.said), std::string::npos)
            << c.args << ": " << result.strOut << result.strErr;
    }
    EXPECT_EQ(ReadBytes(m_strDir + "/out.stb"), ReadBytes(kSamples + "demo-firmware.stb"));
}

TEST_F(ImageCommandTest, StandardOutputThatCannotBeWrittenFailsWithTheReason)
{
    const std::string stb = kSamples + "demo-firmware.stb", bin = kSamples + "demo-firmware.bin";
    const std::vector<std::string> commands = {"image info " + bin,          "image info --json " + stb,
                                               "ports",                       "ports --json",
                                               "image decode " + stb + " -", "image encode " + bin + " -"};
    for (const std::string& args : commands)
    {
        const CommandResult result = Run(args, "/dev/full");
        EXPECT_EQ(result.nExitCode, 1) << args;
        EXPECT_NE(result.strErr.find("cannot write standard output: No space left on device"), std::string::npos)
            << args << ": " << result.strErr;
    }
}

TEST_F(ImageCommandTest, UsageErrorsExitTwo)
{
    EXPECT_EQ(Run("image").nExitCode, 2);
    EXPECT_EQ(Run("image info").nExitCode, 2);
    EXPECT_EQ(Run("image decode only-one-path").nExitCode, 2);
    EXPECT_EQ(Run("image frobnicate x").nExitCode, 2);
}

TEST(ImageSamples, ShippedSamplesMatchTheirGenerator)
{
    for (const SampleFile& sample : MakeSampleFiles())
        EXPECT_TRUE(ReadBytes(kSamples + sample.name) == sample.bytes)
            << sample.name << " differs: run scripts/make-samples.sh";
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSamples))
        total += entry.file_size();
    EXPECT_LT(total, 1024u * 1024u);
}
