#include "serial/RingBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::string ReadAll(CRingBuffer& ring, int length = -1)
{
    std::vector<char> out(std::size_t(ring.Capacity()) + 1, 'X');
    const int n = ring.Read(out.data(), length);
    EXPECT_EQ(out[std::size_t(n)], 0) << "no zero byte behind the data";
    return std::string(out.data(), std::size_t(n));
}

TEST(RingBufferTest, HoldsOneByteLessThanItsCapacity)
{
    CRingBuffer ring(4096);
    const std::string bytes(5000, 'q');
    EXPECT_EQ(ring.Write(bytes.data(), 5000), 4095);
    EXPECT_EQ(ring.Count(), 4095);
    EXPECT_EQ(ring.FreeSpace(), 1);
    EXPECT_EQ(ring.Write("z", 1), 0); // full: nothing more is stored
    char one[2];
    EXPECT_EQ(ring.Read(one, 1), 1);
    EXPECT_EQ(ring.Write("z", 1), 1);
    EXPECT_EQ(ring.Count(), 4095);
}

TEST(RingBufferTest, KeepsOrderAcrossTheWrap)
{
    CRingBuffer ring(8);
    EXPECT_EQ(ring.Write("abcdef", 6), 6);
    EXPECT_EQ(ReadAll(ring, 4), "abcd");
    EXPECT_EQ(ring.Write("ghijk", 5), 5); // wraps past the end of the storage
    EXPECT_EQ(ring.Count(), 7);
    EXPECT_EQ(ReadAll(ring, 3), "efg");
    EXPECT_EQ(ReadAll(ring), "hijk");
    EXPECT_EQ(ring.Count(), 0);
    // Many rounds with odd sizes keep every byte in order.
    std::string written, read;
    for (int round = 0; round < 200; ++round)
    {
        std::string chunk;
        for (int i = 0; i < round % 7 + 1; ++i)
            chunk += char('A' + (round * 7 + i) % 26);
        const int stored = ring.Write(chunk.data(), int(chunk.size()));
        written += chunk.substr(0, std::size_t(stored));
        read += ReadAll(ring, round % 5 + 1);
    }
    read += ReadAll(ring);
    EXPECT_EQ(read, written);
}

TEST(RingBufferTest, LengthsWithSpecialMeanings)
{
    CRingBuffer ring(16);
    EXPECT_EQ(ring.Write("text\0more", -1), 4); // -1: up to the first zero byte
    EXPECT_EQ(ring.Write("ignored", 0), 0);
    EXPECT_EQ(ring.Write(std::string("\0\0", 2).data(), 2), 2); // zero bytes are data
    EXPECT_EQ(ring.Count(), 6);
    char out[32];
    out[0] = 'X';
    EXPECT_EQ(ring.Read(out, 0), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(ring.Read(out, 100), 6); // more than held: what is held
    EXPECT_EQ(std::string(out, 6), std::string("text\0\0", 6));
    EXPECT_EQ(ring.Read(out, -1), 0);
}

TEST(RingBufferTest, ResetEmptiesTheRing)
{
    CRingBuffer ring(16);
    ring.Write("abcdefghij", 10);
    ReadAll(ring, 3);
    ring.Reset();
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.FreeSpace(), 16);
    ring.Write("xy", 2);
    EXPECT_EQ(ReadAll(ring), "xy");
}

TEST(RingBufferTest, RingWithoutStorageStoresNothing)
{
    testing::internal::CaptureStdout();
    CRingBuffer ring(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Memory Error\n");
    EXPECT_EQ(ring.Write("abc", 3), 0);
    char out[4];
    EXPECT_EQ(ring.Read(out, -1), 0);
    EXPECT_EQ(ring.Count(), 0);
}
} // namespace
