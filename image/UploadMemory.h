// An upload kept in memory, for a check of what the receiver holds: the bytes
// in the layout an upload file has (per module a 64-byte header block, then its
// data), so they read back as an image. Nothing reaches the disk; an upload
// that does not complete keeps its bytes here but nowhere a user can find them.
#pragma once

#include "image/UploadSink.h"

#include <cstdint>
#include <vector>

class CUploadMemory final : public CUploadSink
{
public:
    // More than any receiver holds many times over: a far end that never stops
    // sending modules ends the upload with an error instead of eating memory.
    static constexpr std::size_t kMaxBytes = 16u * 1024 * 1024;

    bool Open(const std::string& target) override;
    bool Write(const void* data, std::size_t length) override;
    bool Commit() override;
    std::string Abandon() override;
    void Discard() override;

    bool IsOpen() const override { return m_bOpen; }
    const std::string& TargetPath() const override { return m_strNoFile; }
    const std::string& LastErrorText() const override { return m_strLastErrorText; }

    // True once an upload was committed (until the next Open or Discard).
    bool IsComplete() const { return m_bComplete; }
    // What came: the whole upload once committed, a part of one otherwise.
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    bool Fail(const std::string& text);

    std::vector<std::uint8_t> m_bytes;
    bool m_bOpen = false;
    bool m_bComplete = false;
    const std::string m_strNoFile;
    std::string m_strLastErrorText;
};
