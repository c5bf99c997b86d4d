// The decoding side of the STB arithmetic code: 16-bit code values, bits taken
// least significant first from each byte, and up to 14 byte fetches past the end
// of the input that yield all-ones bytes before decoding fails (the 15th fails).
//
// Failures never end the program: the first one is kept (error()) and every
// later decode returns -1.
#pragma once

#include "image/AdaptiveModel.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Messages of decoding failures. Their wording is fixed: scripts and users match them.
inline constexpr const char* kDecoderCannotRead = "< Decoder > cannot read file";
inline constexpr const char* kDecoderPastEnd = "< Decoder > attempted to read past end of file";
inline constexpr const char* kModelInvalidValue = "invalid < Adaptive_Model > value";
inline constexpr const char* kModelInvalidDefinition = "invalid < Adaptive_Model > definition";
inline constexpr const char* kModelInsufficientMemory = "< Adaptive_Model >: insufficient memory";

class Decoder
{
public:
    static constexpr int kCodeValueBits = 16;
    static constexpr int kTopValue = 0xFFFF;
    static constexpr int kFirstQuarter = 0x4000;
    static constexpr int kHalf = 0x8000;
    static constexpr int kThirdQuarter = 0xC000;
    static constexpr int kMaxEndOfFileFetches = 14; // the 15th fetch past the end is an error

    Decoder() = default;
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens the file for binary reading and reads the first 16 code bits. False (error() set to
    // kDecoderCannotRead, system_reason() to the system's text) when the file cannot be opened.
    bool open(const std::string& strPath);
    // Decodes from bytes in memory, which must outlive the decoder.
    void open(const std::uint8_t* pData, std::size_t nSize);

    // One symbol in the given model, or -1 after a failure.
    int decode(Adaptive_Model& model);
    // A value of k bits (1..16) coded with a flat distribution, or -1 after a failure.
    int decode_bits(int k);

    // The first failure's message, or nullptr.
    const char* error() const { return m_pszError; }
    const std::string& system_reason() const { return m_strSystemReason; }
    int end_of_file_fetches() const { return eof_fetches; }

private:
    static constexpr std::size_t kReadChunkBytes = 64 * 1024;

    void start();
    void close_file();
    bool refill();
    void fill_reservoir();
    void check_end_of_file();
    void fail(const char* pszMessage);

    // The next n bits (0..32) of the stream, the first of them the most significant.
    std::uint32_t take_bits(int n)
    {
        const auto bits = std::uint32_t((m_nReservoir >> 1) >> (63 - n));
        m_nReservoir <<= n;
        m_nReservoirBits -= n;
        m_nBitsTaken += std::uint64_t(n);
        return bits;
    }

    // Rescales the interval as the bit-by-bit loop does (while the interval lies in one half,
    // drop the common top bit; then, while it straddles the middle within the inner quarters,
    // drop the second bit), but counts each run of steps at once and shifts them in together:
    // no branch depends on the coded data.
    void normalize()
    {
        if (m_nReservoirBits < 32)
            fill_reservoir();
        // Leading bits that low and high share (low <= value <= high share them as well).
        const int n = __builtin_clz((std::uint32_t(low ^ high) << 16) | 0x8000u);
        low = (low << n) & kTopValue;
        high = ((high << n) & kTopValue) | ((1 << n) - 1);
        value = ((value << n) & kTopValue) | int(take_bits(n));
        // Now low < half <= high. Each underflow step (low >= first quarter, high < third
        // quarter) removes bit 14 of all three: count the run of low bits 1 over high bits 0.
        const std::uint32_t straddle = std::uint32_t(low & ~high) & 0x7FFFu;
        const int m = __builtin_clz(~(straddle << 17));
        low = (low & kHalf) | ((low << m) & 0x7FFF);
        high = (high & kHalf) | ((high << m) & 0x7FFF) | ((1 << m) - 1);
        value = (value & kHalf) | ((value << m) & 0x7FFF) | int(take_bits(m));
        if (m_bEndSeen)
            check_end_of_file();
    }

    std::FILE* file = nullptr;
    std::vector<std::uint8_t> m_readBuffer;
    const std::uint8_t* m_pNext = nullptr;
    const std::uint8_t* m_pEnd = nullptr;

    // Bits not yet used, in stream order from the top (each byte's least significant bit first).
    std::uint64_t m_nReservoir = 0;
    int m_nReservoirBits = 0;
    std::uint64_t m_nBitsTaken = 0;  // bits of the stream used so far
    std::uint64_t m_nStreamBytes = 0; // bytes of the stream loaded so far
    bool m_bEndSeen = false;          // the end of the stream was met: further bytes read as 0xFF
    int eof_fetches = 0;              // byte fetches that met the end, as a byte-at-a-time reader counts them

    int low = 0;
    int high = kTopValue;
    int value = 0;

    const char* m_pszError = nullptr;
    std::string m_strSystemReason;
};
