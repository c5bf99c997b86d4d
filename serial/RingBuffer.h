// A fixed-capacity byte ring. One position always stays free, so a ring of
// capacity N holds at most N - 1 bytes. Not thread-safe: the owner locks.
#pragma once

#include <memory>

class CRingBuffer
{
public:
    explicit CRingBuffer(int capacity);
    CRingBuffer(const CRingBuffer&) = delete;
    CRingBuffer& operator=(const CRingBuffer&) = delete;

    // Stores up to `length` bytes (-1: up to the first zero byte) until the ring
    // is full; returns the number stored. Bytes that do not fit are dropped.
    int Write(const void* data, int length);
    // Copies up to `length` bytes (-1: everything held) to `destination`, oldest
    // first, and writes a zero byte behind them; `destination` must hold the
    // returned count + 1 bytes. Returns the number copied.
    int Read(void* destination, int length);
    int Count() const;
    int FreeSpace() const;
    void Reset();
    int Capacity() const { return m_nSize; }

private:
    std::unique_ptr<unsigned char[]> m_pBuffer;
    unsigned char* m_pHead = nullptr; // where the next byte is written
    unsigned char* m_pTail = nullptr; // the oldest byte not yet taken
    int m_nSize = 0;
};
