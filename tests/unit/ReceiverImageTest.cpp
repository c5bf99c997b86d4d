// The receiver's memory images and the parsing of its fault options.
#include "receiver/ReceiverFault.h"
#include "receiver/ReceiverImage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
} // namespace

TEST(ReceiverImage, CrcMatchesTheWireFormat)
{
    const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ReceiverCrc32(digits.data(), digits.size()), 0x89A1897Fu);
    const Bytes zeros(1024, 0);
    EXPECT_EQ(ReceiverCrc32(zeros.data(), zeros.size()), 0u);
    const auto memory = SyntheticMemory();
    EXPECT_EQ(ReceiverCrc32(memory[0].data.data(), 1024), Crc32(memory[0].data.data(), 1024));
}

TEST(ReceiverImage, UploadLayoutRoundTripsThroughAFile)
{
    const auto memory = SyntheticMemory();
    const std::string dir = testsupport::MakeTempDir();
    const std::string path = dir + "/memory.bin";
    std::string error;
    ASSERT_TRUE(SaveBinImage(path, memory, error)) << error;
    const Bytes bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 3u * 64 + 262144 + 2048 + 14336);
    // Header record, then twenty 0xFF, then the data.
    EXPECT_EQ(bytes[32], 1);
    EXPECT_EQ(bytes[33], 1);
    for (int i = 44; i < 64; ++i)
        EXPECT_EQ(bytes[std::size_t(i)], 0xFF);
    EXPECT_EQ(Bytes(bytes.begin() + 64, bytes.begin() + 64 + 1024), Bytes(memory[0].data.begin(), memory[0].data.begin() + 1024));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    std::vector<ReceiverModule> loaded;
    ASSERT_TRUE(LoadUploadImage(path, loaded, error)) << error;
    EXPECT_EQ(BuildBinImage(loaded), bytes);

    EXPECT_FALSE(SaveBinImage(dir + "/missing/x.bin", memory, error));
    EXPECT_NE(error.find("missing"), std::string::npos);
    EXPECT_FALSE(LoadUploadImage(dir + "/none.bin", loaded, error));
    EXPECT_NE(error.find("none.bin"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(ReceiverImage, UploadLayoutRefusesWhatTheReceiverCannotSend)
{
    const Bytes good = BuildBinImage({SyntheticMemory()[1]});
    std::vector<ReceiverModule> modules;
    std::string error;
    EXPECT_TRUE(ParseUploadImage(good, "x", modules, error)) << error;

    EXPECT_FALSE(ParseUploadImage({}, "x", modules, error));
    EXPECT_NE(error.find("no module"), std::string::npos);

    Bytes truncated = good;
    truncated.pop_back();
    EXPECT_FALSE(ParseUploadImage(truncated, "x", modules, error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    Bytes trailing = good;
    trailing.resize(good.size() + 10, 0);
    EXPECT_FALSE(ParseUploadImage(trailing, "x", modules, error));
    EXPECT_NE(error.find("module 2"), std::string::npos);

    Bytes firmware = good;
    firmware[31] = 1;
    EXPECT_FALSE(ParseUploadImage(firmware, "x", modules, error));
    EXPECT_NE(error.find("firmware 1"), std::string::npos);

    Bytes oddKind = good;
    oddKind[32] = 2;
    EXPECT_FALSE(ParseUploadImage(oddKind, "x", modules, error));
    Bytes analogFlash = good;
    analogFlash[32] = 0;
    analogFlash[33] = 1;
    EXPECT_FALSE(ParseUploadImage(analogFlash, "x", modules, error));
}

TEST(ReceiverFaultParsing, AcceptsEachForm)
{
    ReceiverFault fault;
    std::string error;
    ASSERT_TRUE(ParseReceiverFault("status:12:W", fault, error)) << error;
    EXPECT_EQ(fault.kind, ReceiverFaultKind::Status);
    EXPECT_EQ(fault.nPacket, 12);
    EXPECT_EQ(fault.letter, 'W');
    ASSERT_TRUE(ParseReceiverFault("chunks:64:0", fault, error)) << error;
    EXPECT_EQ(fault.nChunkBytes, 64);
    EXPECT_EQ(fault.nChunkPauseMs, 0);
    ASSERT_TRUE(ParseReceiverFault("ppp", fault, error)) << error;
    EXPECT_EQ(fault.nPacket, 1);
    ASSERT_TRUE(ParseReceiverFault("ppp:7", fault, error)) << error;
    EXPECT_EQ(fault.nPacket, 7);
    ASSERT_TRUE(ParseReceiverFault("corrupt:3:0", fault, error)) << error;
    EXPECT_EQ(fault.nModule, 3);
    EXPECT_EQ(fault.nByteOffset, 0);
    ASSERT_TRUE(ParseReceiverFault("corrupt:100", fault, error)) << error;
    EXPECT_EQ(fault.nModule, 1);
    EXPECT_EQ(fault.nByteOffset, 100);
    for (const char* text : {"restart:1", "badblock:3", "crc:2", "drop:9", "dup:4", "split-header", "refuse"})
        EXPECT_TRUE(ParseReceiverFault(text, fault, error)) << text << ": " << error;
}

TEST(ReceiverFaultParsing, RefusesMalformedFaults)
{
    ReceiverFault fault;
    std::string error;
    for (const char* text : {"", "status:0:T", "status:3", "status:3:t", "status:3:TT", "crc", "crc:", "crc:x",
                             "crc:2x", "crc:-1", "drop:1:2", "chunks:0:5", "chunks:2000:5", "chunks:10",
                             "chunks:10:-1", "split-header:1", "refuse:2", "ppp:0", "corrupt", "corrupt:0:5",
                             "corrupt:-1", "corrupt:1:2:3", "bogus"})
    {
        error.clear();
        EXPECT_FALSE(ParseReceiverFault(text, fault, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(ReceiverFaultParsing, EachFaultFiresOnce)
{
    ReceiverFault crc;
    ReceiverFault drop;
    std::string error;
    ParseReceiverFault("crc:3", crc, error);
    ParseReceiverFault("drop:3", drop, error);
    CReceiverFaults faults({crc, crc, drop});
    EXPECT_FALSE(faults.Fire(ReceiverFaultKind::Crc, 2));
    EXPECT_TRUE(faults.Fire(ReceiverFaultKind::Crc, 3));
    EXPECT_TRUE(faults.Fire(ReceiverFaultKind::Crc, 3)) << "given twice, fires twice";
    EXPECT_FALSE(faults.Fire(ReceiverFaultKind::Crc, 3));
    EXPECT_TRUE(faults.Fire(ReceiverFaultKind::Drop, 3));
    EXPECT_EQ(faults.Find(ReceiverFaultKind::Chunks), nullptr);
}
