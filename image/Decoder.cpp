#include "image/Decoder.h"

#include <cerrno>
#include <cstring>

Decoder::~Decoder()
{
    close_file();
}

void Decoder::close_file()
{
    if (file)
        std::fclose(file);
    file = nullptr;
}

bool Decoder::open(const std::string& strPath)
{
    close_file();
    m_pszError = nullptr;
    m_strSystemReason.clear();
    file = std::fopen(strPath.c_str(), "rb");
    if (!file)
    {
        m_strSystemReason = std::strerror(errno);
        fail(kDecoderCannotRead);
        return false;
    }
    m_readBuffer.resize(kReadChunkBytes);
    m_pNext = m_pEnd = m_readBuffer.data();
    start();
    return m_pszError == nullptr;
}

void Decoder::open(const std::uint8_t* pData, std::size_t nSize)
{
    close_file();
    m_pszError = nullptr;
    m_strSystemReason.clear();
    m_pNext = pData;
    m_pEnd = pData + nSize;
    start();
}

void Decoder::start()
{
    eof_fetches = 0;
    bits_left = 0;
    buffer = 0;
    low = 0;
    value = 0;
    high = kTopValue;
    for (int i = 0; i < kCodeValueBits; ++i)
        value = 2 * value + next_bit();
}

void Decoder::fail(const char* pszMessage)
{
    if (!m_pszError)
        m_pszError = pszMessage;
}

bool Decoder::refill()
{
    if (!file)
        return false;
    const std::size_t nRead = std::fread(m_readBuffer.data(), 1, m_readBuffer.size(), file);
    if (nRead == 0)
    {
        if (std::ferror(file))
        {
            m_strSystemReason = std::strerror(errno);
            fail(kDecoderCannotRead);
        }
        return false;
    }
    m_pNext = m_readBuffer.data();
    m_pEnd = m_pNext + nRead;
    return true;
}

void Decoder::next_byte()
{
    if (m_pNext != m_pEnd || refill())
    {
        buffer = *m_pNext++;
    }
    else
    {
        buffer = -1;
        if (++eof_fetches > kMaxEndOfFileFetches)
            fail(kDecoderPastEnd);
    }
    bits_left = 8;
}

int Decoder::decode(Adaptive_Model& model)
{
    const int symbol = model.select(value, low, high);
    if (symbol < 0)
    {
        fail(model.symbols() == 0 ? kModelInvalidDefinition : kModelInvalidValue);
        return -1;
    }
    normalize();
    return m_pszError ? -1 : symbol;
}

int Decoder::decode_bits(int k)
{
    if (k < 1 || k > kCodeValueBits)
        return -1;
    const int range = high - low + 1;
    const int r = int(((std::int64_t(value - low + 1) << k) - 1) / range);
    high = int(((std::int64_t(r) * range + range) >> k) + low - 1);
    low = low + int((std::int64_t(r) * range) >> k);
    normalize();
    return m_pszError ? -1 : r;
}
