// The decoding side of the STB arithmetic code: 16-bit code values, bits taken
// least significant first from each byte, and up to 14 fetches past the end of
// the input that yield all-ones bytes before decoding fails.
//
// Failures never end the program: the first one is kept (error()) and every
// later decode returns -1.
#pragma once

#include "image/AdaptiveModel.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Messages of decoding failures, word for word as users of STB files know them.
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
    void next_byte();
    void fail(const char* pszMessage);

    int next_bit()
    {
        if (bits_left == 0)
            next_byte();
        const int bit = buffer & 1;
        buffer >>= 1; // arithmetic shift: -1 stays -1, so the end of the file reads as 1 bits
        --bits_left;
        return bit;
    }

    void normalize()
    {
        for (;;)
        {
            if (high < kHalf)
            {
            }
            else if (low >= kHalf)
            {
                low -= kHalf;
                high -= kHalf;
                value -= kHalf;
            }
            else if (low >= kFirstQuarter && high < kThirdQuarter)
            {
                low -= kFirstQuarter;
                high -= kFirstQuarter;
                value -= kFirstQuarter;
            }
            else
            {
                break;
            }
            low = 2 * low;
            high = 2 * high + 1;
            value = 2 * value + next_bit();
        }
    }

    std::FILE* file = nullptr;
    std::vector<std::uint8_t> m_readBuffer;
    const std::uint8_t* m_pNext = nullptr;
    const std::uint8_t* m_pEnd = nullptr;

    int buffer = 0;
    int bits_left = 0;
    int eof_fetches = 0;
    int low = 0;
    int high = kTopValue;
    int value = 0;

    const char* m_pszError = nullptr;
    std::string m_strSystemReason;
};
