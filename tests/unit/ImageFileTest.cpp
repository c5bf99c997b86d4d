// The image source in its two modes, side by side on the same bytes: the
// download engine relies on each mode's own read and seek results.
#include "image/ImageFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

namespace
{
class ImageFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strDir = testsupport::MakeTempDir();
        m_bytes.resize(100);
        std::iota(m_bytes.begin(), m_bytes.end(), std::uint8_t(0));
        m_strPath = m_strDir + "/image.bin";
        std::ofstream out(m_strPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(m_bytes.data()), std::streamsize(m_bytes.size()));
    }
    void TearDown() override { std::filesystem::remove_all(m_strDir); }

    void OpenBoth()
    {
        ASSERT_NE(m_disk.OpenFile(m_strPath), 0);
        ASSERT_EQ(m_memory.Assign(std::vector<std::uint8_t>(m_bytes)), 1);
    }

    std::string m_strDir, m_strPath;
    std::vector<std::uint8_t> m_bytes;
    CImageFile m_disk, m_memory;
};
} // namespace

TEST_F(ImageFileTest, ShortReadReturnsCountOnDiskButZeroInMemoryAndParksAtTheEnd)
{
    OpenBoth();
    EXPECT_TRUE(m_disk.IsDiskMode());
    EXPECT_FALSE(m_memory.IsDiskMode());
    EXPECT_EQ(m_disk.GetLength(), 100u);
    EXPECT_EQ(m_memory.GetLength(), 100u);
    m_disk.Seek(90);
    m_memory.Seek(90);

    std::uint8_t diskBuffer[44] = {}, memoryBuffer[44] = {};
    EXPECT_EQ(m_disk.Read(diskBuffer, 44), 10);
    EXPECT_EQ(m_memory.Read(memoryBuffer, 44), 0);
    for (int i = 0; i < 10; ++i)
    {
        EXPECT_EQ(diskBuffer[i], 90 + i);
        EXPECT_EQ(memoryBuffer[i], 90 + i); // the bytes before the end are still copied
    }
    EXPECT_EQ(memoryBuffer[10], 0);
    // Both now sit at the end: nothing more to read.
    EXPECT_EQ(m_disk.Read(diskBuffer, 1), 0);
    EXPECT_EQ(m_memory.Read(memoryBuffer, 1), 0);
    // A read of nothing succeeds in memory mode and counts 0 on disk.
    EXPECT_EQ(m_memory.Read(memoryBuffer, 0), 1);
    EXPECT_EQ(m_disk.Read(diskBuffer, 0), 0);
}

TEST_F(ImageFileTest, SeekPastTheEndParksOnTheLastByteInMemoryOnly)
{
    OpenBoth();
    EXPECT_EQ(m_memory.Seek(500), 1);
    EXPECT_EQ(m_disk.Seek(500), 500);
    std::uint8_t byte = 0;
    EXPECT_EQ(m_memory.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 99);
    EXPECT_EQ(m_disk.Read(&byte, 1), 0);

    m_memory.Seek(500);
    std::uint8_t two[2] = {};
    EXPECT_EQ(m_memory.Read(two, 2), 0);
    EXPECT_EQ(two[0], 99);

    // Landing exactly on the length also parks on the last byte.
    m_memory.Rewind();
    m_memory.Seek(100);
    EXPECT_EQ(m_memory.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 99);
}

TEST_F(ImageFileTest, RewindAndSeekFromStartOrEndAgreeInBothModes)
{
    OpenBoth();
    std::uint8_t disk[4], memory[4];
    m_disk.Read(disk, 4);
    m_memory.Read(memory, 4);
    m_disk.Rewind();
    m_memory.Rewind();
    ASSERT_EQ(m_disk.Read(disk, 4), 4);
    ASSERT_EQ(m_memory.Read(memory, 4), 1);
    EXPECT_EQ(disk[0], 0);
    EXPECT_EQ(memory[0], 0);

    m_disk.Seek(-10, CImageFile::Origin::End);
    m_memory.Seek(-10, CImageFile::Origin::End);
    m_disk.Read(disk, 1);
    m_memory.Read(memory, 1);
    EXPECT_EQ(disk[0], 90);
    EXPECT_EQ(memory[0], 90);

    m_disk.Seek(20, CImageFile::Origin::Begin);
    m_memory.Seek(20, CImageFile::Origin::Begin);
    m_disk.Read(disk, 1);
    m_memory.Read(memory, 1);
    EXPECT_EQ(disk[0], 20);
    EXPECT_EQ(memory[0], 20);

    // Before the start: memory mode stops at byte 0.
    m_memory.Seek(-1000);
    m_memory.Read(memory, 1);
    EXPECT_EQ(memory[0], 0);
}

TEST_F(ImageFileTest, CloseReleasesOnceAndNothingMoreCanBeRead)
{
    OpenBoth();
    m_memory.Close();
    EXPECT_EQ(m_memory.GetLength(), 0u);
    std::uint8_t byte;
    EXPECT_EQ(m_memory.Read(&byte, 1), 0);
    m_memory.Close(); // a second close (and later the destructor) does nothing
    m_disk.Close();
    EXPECT_EQ(m_disk.Read(&byte, 1), 0);
    EXPECT_EQ(m_disk.Seek(0), -1);
    EXPECT_EQ(m_disk.GetLength(), 0u);
    m_disk.Close();
}

TEST_F(ImageFileTest, EmptyMemoryImageNeverYieldsABytePastItsEnd)
{
    CImageFile image;
    ASSERT_EQ(image.Allocate(0), 1);
    image.Seek(20);
    std::uint8_t byte = 0x5A;
    EXPECT_EQ(image.Read(&byte, 1), 0);
    EXPECT_EQ(byte, 0x5A);
}

TEST_F(ImageFileTest, LoadsSwitchModesAndReleaseWhatWasHeld)
{
    CImageFile image;
    ASSERT_EQ(image.Allocate(16), 1);
    EXPECT_FALSE(image.IsDiskMode());
    EXPECT_EQ(image.GetLength(), 16u);
    ASSERT_NE(image.OpenFile(m_strPath), 0); // memory image released, disk mode
    EXPECT_TRUE(image.IsDiskMode());
    EXPECT_EQ(image.GetLength(), 100u);
    ASSERT_EQ(image.Assign({1, 2, 3}), 1); // file closed, memory mode
    EXPECT_FALSE(image.IsDiskMode());
    EXPECT_EQ(image.GetLength(), 3u);
}

TEST_F(ImageFileTest, FailedOpenKeepsTheSystemsReason)
{
    CImageFile image;
    EXPECT_EQ(image.OpenFile(m_strDir + "/missing.bin"), 0);
    EXPECT_EQ(image.GetErrorText(), "No such file or directory");
    EXPECT_EQ(image.OpenFile(m_strDir), 0);
    EXPECT_EQ(image.GetErrorText(), "Is a directory");
    std::uint8_t byte;
    EXPECT_EQ(image.Read(&byte, 1), 0);
    EXPECT_EQ(image.GetLength(), 0u);
}
