// The upload's output file: the earlier file survives anything but a completed
// upload, what was received is kept as .partial (never over an older one), only
// regular files are replaced, and failures carry the reason.
#include "image/UploadFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{
std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class UploadFileTest : public ::testing::Test
{
protected:
    void TearDown() override { fs::remove_all(m_dir); }

    // Names in the folder other than the ones given: leftovers of the writer.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_dir = testsupport::MakeTempDir();
    std::string m_target = m_dir + "/backup.bin";
};

TEST_F(UploadFileTest, CommitReplacesTheEarlierFileOnlyAtTheEnd)
{
    WriteAll(m_target, "earlier backup");
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target)) << file.LastErrorText();
    ASSERT_TRUE(file.Write("new ", 4));
    ASSERT_TRUE(file.Write("data", 4));
    EXPECT_EQ(ReadAll(m_target), "earlier backup");
    EXPECT_EQ(ReadAll(file.TempPath()), "new data");
    EXPECT_EQ(file.TempPath().rfind(m_dir + "/.backup.bin.", 0), 0u) << "hidden, beside the target";

    ASSERT_TRUE(file.Commit()) << file.LastErrorText();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadAll(m_target), "new data");
    EXPECT_EQ(Entries(), std::vector<std::string>{"backup.bin"});
}

TEST_F(UploadFileTest, AbandonKeepsEarlierFileAndThePartialDataBesideAnOlderPartial)
{
    WriteAll(m_target, "earlier backup");
    WriteAll(m_target + ".partial", "older partial");
    WriteAll(m_target + ".1.partial", "older still");
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target));
    ASSERT_TRUE(file.Write("half", 4));
    EXPECT_EQ(file.Abandon(), m_target + ".2.partial");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadAll(m_target), "earlier backup");
    EXPECT_EQ(ReadAll(m_target + ".partial"), "older partial");
    EXPECT_EQ(ReadAll(m_target + ".1.partial"), "older still");
    EXPECT_EQ(ReadAll(m_target + ".2.partial"), "half");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"backup.bin", "backup.bin.1.partial",
                                                    "backup.bin.2.partial", "backup.bin.partial"}));
    EXPECT_EQ(file.Abandon(), "") << "a second end does nothing";
}

TEST_F(UploadFileTest, OnlyRegularFilesAreReplaced)
{
    ASSERT_EQ(::mkfifo((m_dir + "/fifo").c_str(), 0644), 0);
    fs::create_symlink("fifo", m_dir + "/to-fifo");
    fs::create_symlink("missing", m_dir + "/dangling");
    fs::create_symlink("loop-b", m_dir + "/loop-a");
    fs::create_symlink("loop-a", m_dir + "/loop-b");
    const bool bDevice = ::mknod((m_dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    struct Case
    {
        const char* name;
        const char* reason;
    };
    std::vector<Case> cases = {
        {"fifo", "it is a FIFO (named pipe), not a regular file"},
        {"to-fifo", "it is a symbolic link to a FIFO (named pipe), not a regular file"},
        {"dangling", "it is a symbolic link to a file that does not exist"},
        {"loop-a", "it is a symbolic link that cannot be followed: Too many levels of symbolic links"}};
    if (bDevice) // needs the privilege to make device nodes
        cases.push_back({"null", "it is a character device, not a regular file"});
    const auto before = Entries();
    for (const Case& c : cases)
    {
        CUploadFile file;
        const std::string path = m_dir + "/" + c.name;
        EXPECT_FALSE(file.Open(path)) << c.name;
        EXPECT_EQ(file.LastErrorText(), "Cannot write " + path + ": " + c.reason);
    }
    EXPECT_EQ(Entries(), before) << "nothing created, nothing replaced";
    struct stat st{};
    EXPECT_TRUE(::lstat((m_dir + "/fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST_F(UploadFileTest, ASymbolicLinkKeepsPointingAtTheReplacedFile)
{
    fs::create_directory(m_dir + "/backups");
    WriteAll(m_dir + "/backups/monday.bin", "earlier backup");
    fs::create_symlink("backups/monday.bin", m_target);
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target)) << file.LastErrorText();
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit()) << file.LastErrorText();
    EXPECT_TRUE(fs::is_symlink(m_target));
    EXPECT_EQ(ReadAll(m_dir + "/backups/monday.bin"), "new");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"backup.bin", "backups"}));
}

TEST_F(UploadFileTest, NothingReceivedLeavesNothingBehind)
{
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target));
    EXPECT_EQ(file.Abandon(), "");
    EXPECT_TRUE(Entries().empty());
}

TEST_F(UploadFileTest, DestroyingAnOpenUploadKeepsItAsPartial)
{
    {
        CUploadFile file;
        ASSERT_TRUE(file.Open(m_target));
        ASSERT_TRUE(file.Write("abc", 3));
    }
    EXPECT_FALSE(fs::exists(m_target));
    EXPECT_EQ(ReadAll(m_target + ".partial"), "abc");
}

TEST_F(UploadFileTest, OpeningAgainEndsThePreviousUploadFirst)
{
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target));
    ASSERT_TRUE(file.Write("first", 5));
    ASSERT_TRUE(file.Open(m_target));
    EXPECT_EQ(file.BytesWritten(), 0u);
    ASSERT_TRUE(file.Write("second", 6));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadAll(m_target), "second");
    EXPECT_EQ(ReadAll(m_target + ".partial"), "first");
}

TEST_F(UploadFileTest, ReplacedFileKeepsItsPermissions)
{
    WriteAll(m_target, "old");
    ::chmod(m_target.c_str(), 0600);
    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target));
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit());
    struct stat st{};
    ASSERT_EQ(::stat(m_target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(UploadFileTest, UncreatableTargetsAreRefusedWithTheSystemsReason)
{
    CUploadFile file;
    EXPECT_FALSE(file.Open(m_dir + "/missing/backup.bin"));
    EXPECT_EQ(file.LastErrorText(), "Cannot create " + m_dir + "/missing/backup.bin: No such file or directory");
    EXPECT_FALSE(file.IsOpen());

    EXPECT_FALSE(file.Open(m_dir));
    EXPECT_NE(file.LastErrorText().find("Is a directory"), std::string::npos) << file.LastErrorText();

    WriteAll(m_target, "a file, not a folder");
    EXPECT_FALSE(file.Open(m_target + "/inside.bin"));
    EXPECT_NE(file.LastErrorText().find("Not a directory"), std::string::npos) << file.LastErrorText();
    EXPECT_FALSE(file.Write("x", 1)) << "nothing is open";
    EXPECT_EQ(ReadAll(m_target), "a file, not a folder");
}

TEST_F(UploadFileTest, ReadOnlyPlacesAreRefused)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    WriteAll(m_target, "read only");
    ::chmod(m_target.c_str(), 0444);
    CUploadFile file;
    EXPECT_FALSE(file.Open(m_target));
    EXPECT_EQ(file.LastErrorText(), "Cannot write " + m_target + ": Permission denied");

    const std::string locked = m_dir + "/locked";
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0555);
    EXPECT_FALSE(file.Open(locked + "/new.bin"));
    EXPECT_EQ(file.LastErrorText(), "Cannot create " + locked + "/new.bin: Permission denied");
    ::chmod(locked.c_str(), 0755);
}

TEST_F(UploadFileTest, AFullDiskIsReportedAndWhatFittedIsKept)
{
    // A file-size limit fails writes the way a full disk does, without needing one.
    struct sigaction ignore{}, previousAction{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    CUploadFile file;
    ASSERT_TRUE(file.Open(m_target));
    const std::string block(3000, 'x');
    EXPECT_TRUE(file.Write(block.data(), block.size()));
    EXPECT_FALSE(file.Write(block.data(), block.size()));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::sigaction(SIGXFSZ, &previousAction, nullptr);

    EXPECT_EQ(file.LastErrorText(), "Cannot write " + m_target + ": File too large");
    EXPECT_EQ(file.Abandon(), m_target + ".partial");
    EXPECT_EQ(fs::file_size(m_target + ".partial"), 4096u);
    EXPECT_FALSE(fs::exists(m_target));
}
} // namespace
