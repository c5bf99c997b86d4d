#include "image/UploadMemory.h"

bool CUploadMemory::Fail(const std::string& text)
{
    m_strLastErrorText = text;
    return false;
}

bool CUploadMemory::Open(const std::string&)
{
    m_bytes.clear();
    m_bOpen = true;
    m_bComplete = false;
    m_strLastErrorText.clear();
    return true;
}

bool CUploadMemory::Write(const void* data, std::size_t length)
{
    if (!m_bOpen)
        return Fail("Cannot keep the upload in memory: no upload is open");
    if (length > kMaxBytes - m_bytes.size())
        return Fail("Cannot keep the upload in memory: the receiver sent more than " + std::to_string(kMaxBytes) +
                    " bytes");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + length);
    return true;
}

bool CUploadMemory::Commit()
{
    if (!m_bOpen)
        return Fail("Cannot keep the upload in memory: no upload is open");
    m_bOpen = false;
    m_bComplete = true;
    return true;
}

std::string CUploadMemory::Abandon()
{
    m_bOpen = false;
    return {};
}

void CUploadMemory::Discard()
{
    m_bytes.clear();
    m_bOpen = false;
    m_bComplete = false;
}
