// Where an upload's data goes: the page's exchange writes the same bytes into
// a file, into memory and into both at once, and each sink's ends (commit,
// abandon, a failure) keep or refuse what they should.
#include "image/UploadMemory.h"
#include "image/UploadSinkPair.h"
#include "support/TestSupport.h"
#include "support/UploadRig.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace
{
// A flash-sized first module would only slow the test: two EEPROM-sized ones say the same.
void RunExchange(CUploadRig& rig)
{
    rig.StartUpload();
    rig.SendModule(1, 0, 2, 1);
    rig.SendModule(0, 0, 14, 2);
    rig.Finish();
}
} // namespace

TEST(UploadSinkTest, TheExchangeWritesTheSameBytesIntoFileMemoryOrBoth)
{
    for (const std::string sink : {"file", "memory", "both"})
    {
        SCOPED_TRACE(sink);
        // The sinks outlive the page, which looks at its sink as it goes.
        CUploadMemory memory;
        CUploadFile file;
        CUploadSinkPair both(file, memory);
        CUploadRig rig;
        if (sink != "file")
            rig.page->SetUploadSink(sink == "memory" ? static_cast<CUploadSink*>(&memory) : &both);
        RunExchange(rig);
        EXPECT_EQ(rig.window.EndKinds(), std::vector<TransferEndKind>{TransferEndKind::Complete});
        EXPECT_EQ(fs::exists(rig.target), sink != "memory") << "memory alone writes no file";
        if (sink != "memory")
        {
            EXPECT_EQ(ReadFileBytes(rig.target), ToString(rig.expectedFile));
        }
        if (sink != "file")
        {
            EXPECT_TRUE(memory.IsComplete());
            EXPECT_EQ(memory.Bytes(), rig.expectedFile);
        }
        EXPECT_EQ(rig.window.boxes.back().detail, sink == "memory" ? "" : "Saved as " + rig.target)
            << "only a file is named where it was saved";
    }
}

TEST(UploadSinkTest, AnUnfinishedOrFailedUploadKeepsOnlyWhatASinkCanKeep)
{
    const std::string dir = MakeTempDir();
    const std::string target = dir + "/back.bin";
    CUploadMemory memory;
    CUploadFile file;
    CUploadSinkPair both(file, memory);

    // Abandoned: the file's part is kept as .partial, memory keeps its bytes but names no place.
    ASSERT_TRUE(both.Open(target)) << both.LastErrorText();
    ASSERT_TRUE(both.Write("half", 4));
    EXPECT_EQ(both.Abandon(), target + ".partial");
    EXPECT_FALSE(both.IsOpen());
    EXPECT_FALSE(memory.IsComplete());
    EXPECT_EQ(memory.Bytes().size(), 4u);

    // A place the file cannot go fails the pair with the file's reason and opens neither.
    fs::create_directory(dir + "/folder");
    EXPECT_FALSE(both.Open(dir + "/folder"));
    EXPECT_NE(both.LastErrorText().find("Is a directory"), std::string::npos) << both.LastErrorText();
    EXPECT_FALSE(memory.IsOpen());

    // Memory refuses more than any receiver holds, with the reason.
    ASSERT_TRUE(memory.Open("memory"));
    const std::vector<std::uint8_t> block(CUploadMemory::kMaxBytes / 2 + 1);
    EXPECT_TRUE(memory.Write(block.data(), block.size()));
    EXPECT_FALSE(memory.Write(block.data(), block.size()));
    EXPECT_NE(memory.LastErrorText().find("more than"), std::string::npos) << memory.LastErrorText();
    memory.Discard();
    EXPECT_TRUE(memory.Bytes().empty());
    fs::remove_all(dir);
}
