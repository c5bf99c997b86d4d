#include "serial/RingBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

CRingBuffer::CRingBuffer(int capacity)
{
    if (capacity > 0)
        m_pBuffer.reset(new (std::nothrow) unsigned char[capacity]);
    if (!m_pBuffer)
    {
        std::fputs("Memory Error\n", stdout);
        return;
    }
    m_nSize = capacity;
    m_pHead = m_pBuffer.get();
    m_pTail = m_pBuffer.get();
}

int CRingBuffer::Count() const
{
    if (m_nSize == 0)
        return 0;
    int count = int(m_pHead - m_pTail);
    if (count < 0)
        count += m_nSize;
    return count % m_nSize;
}

int CRingBuffer::FreeSpace() const
{
    return m_nSize - Count();
}

void CRingBuffer::Reset()
{
    m_pHead = m_pBuffer.get();
    m_pTail = m_pBuffer.get();
}

int CRingBuffer::Write(const void* data, int length)
{
    if (m_nSize == 0 || data == nullptr)
        return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (length == -1)
        length = int(std::strlen(reinterpret_cast<const char*>(bytes)));
    if (length <= 0)
        return 0;
    // Copied in at most two runs: up to the end of the storage, then from its start.
    const int room = m_nSize - 1 - Count();
    const int total = length < room ? length : room;
    unsigned char* const end = m_pBuffer.get() + m_nSize;
    int stored = 0;
    while (stored < total)
    {
        const int run = std::min(total - stored, int(end - m_pHead));
        std::memcpy(m_pHead, bytes + stored, std::size_t(run));
        stored += run;
        m_pHead += run;
        if (m_pHead == end)
            m_pHead = m_pBuffer.get();
    }
    return stored;
}

int CRingBuffer::Read(void* destination, int length)
{
    auto* out = static_cast<unsigned char*>(destination);
    if (out == nullptr)
        return 0;
    const int held = Count();
    if (length == -1 || length > held)
        length = held;
    if (length <= 0)
    {
        out[0] = 0;
        return 0;
    }
    unsigned char* const end = m_pBuffer.get() + m_nSize;
    int copied = 0;
    while (copied < length)
    {
        const int run = std::min(length - copied, int(end - m_pTail));
        std::memcpy(out + copied, m_pTail, std::size_t(run));
        copied += run;
        m_pTail += run;
        if (m_pTail == end)
            m_pTail = m_pBuffer.get();
    }
    out[length] = 0;
    return length;
}
