#include "image/Decoder.h"

#include "image/BitOrder.h"

#include <algorithm>
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
    m_nReservoir = 0;
    m_nReservoirBits = 0;
    m_nBitsTaken = 0;
    m_nStreamBytes = 0;
    m_bEndSeen = false;
    eof_fetches = 0;
    low = 0;
    high = kTopValue;
    fill_reservoir();
    value = int(take_bits(kCodeValueBits));
    if (m_bEndSeen)
        check_end_of_file();
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

void Decoder::fill_reservoir()
{
    while (m_nReservoirBits <= 56)
    {
        std::uint64_t byte = 0xFF; // past the end every fetch yields -1: all bits 1
        if (!m_bEndSeen && (m_pNext != m_pEnd || refill()))
        {
            byte = kReversedBytes[*m_pNext++];
            ++m_nStreamBytes;
        }
        else
        {
            m_bEndSeen = true;
        }
        m_nReservoir |= byte << (56 - m_nReservoirBits);
        m_nReservoirBits += 8;
    }
}

// A reader that fetches one byte whenever it needs a bit and has none left fetches past the end
// once for each byte boundary crossed beyond the stream; the 15th such fetch is an error.
void Decoder::check_end_of_file()
{
    const std::uint64_t nStreamBits = 8 * m_nStreamBytes;
    if (m_nBitsTaken <= nStreamBits)
        return;
    eof_fetches = int(std::min<std::uint64_t>((m_nBitsTaken - nStreamBits + 7) / 8, 1u << 30));
    if (eof_fetches > kMaxEndOfFileFetches)
        fail(kDecoderPastEnd);
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
