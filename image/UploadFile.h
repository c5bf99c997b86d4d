// The BIN file an upload writes, kept safe from a transfer that fails halfway.
//
// The bytes go to a hidden temporary file beside the target. Only a completed
// upload replaces the target, after the data has been flushed to disk, so the
// user's earlier file (a backup, typically) survives anything else. A transfer
// that ends otherwise keeps what was received as TARGET.partial, or under the
// next free name TARGET.1.partial, TARGET.2.partial ... when an earlier one is
// there: no .partial is ever overwritten.
//
// Only a regular file is replaced (see image/OutputPath.h); a symbolic link is
// followed and the file it leads to is the target.
//
// Every failure records the system's reason, ready to be shown to the user.
#pragma once

#include "image/UploadSink.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CUploadFile final : public CUploadSink
{
public:
    CUploadFile() = default;
    // An upload still open here did not complete: its bytes are kept as .partial.
    ~CUploadFile() override;
    CUploadFile(const CUploadFile&) = delete;
    CUploadFile& operator=(const CUploadFile&) = delete;

    // Starts a new file for `path`; the target itself is not touched.
    // Refuses a target that is a folder, a device, a FIFO or a socket, or an
    // existing file that may not be written. An earlier upload still open is
    // abandoned first.
    bool Open(const std::string& path) override;
    // Appends `length` bytes. False (with the reason) on a short or failed write.
    bool Write(const void* data, std::size_t length) override;
    // Flushes the data to disk and moves the file into place under the target's
    // name. On failure the file stays open, for Abandon() to keep as .partial.
    bool Commit() override;
    // Ends an incomplete upload: the bytes received are kept as TARGET.partial
    // (or the next free numbered name) and that path is returned. When that rename fails
    // the temporary file stays and its path is returned (the reason is then in
    // LastErrorText()). Nothing is kept, and "" returned, when nothing was
    // written or no file is open.
    std::string Abandon() override;
    // Ends without keeping anything: the temporary file is removed.
    void Discard() override;

    bool IsOpen() const override { return m_bOpen; }
    std::uint64_t BytesWritten() const { return m_nBytesWritten; }
    // The file a commit replaces (a symbolic link's target).
    const std::string& TargetPath() const override { return m_strTargetPath; }
    const std::string& TempPath() const { return m_strTempPath; }
    std::string PartialPath() const { return m_strTargetPath + kPartialSuffix; }

    // errno of the last failure (0 if none) and a sentence naming the file and
    // the system's reason: "Cannot create /home/ann/backup.bin: Permission denied".
    int LastError() const { return m_nLastError; }
    const std::string& LastErrorText() const override { return m_strLastErrorText; }

    static constexpr const char* kPartialSuffix = ".partial";

    // "" when an upload could be written at `path` (a trial file is created
    // beside it and removed), else the reason, as Open would give it: a
    // command checks its output this way before it waits for the receiver.
    static std::string CheckPlace(const std::string& path);

private:
    bool Fail(int error, const std::string& what, const std::string& path);
    void CloseDescriptor();

    int m_fd = -1;
    bool m_bOpen = false; // a temporary file exists for the current upload
    std::uint64_t m_nBytesWritten = 0;
    std::string m_strTargetPath;
    std::string m_strTempPath;
    int m_nLastError = 0;
    std::string m_strLastErrorText;
};
