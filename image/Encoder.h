// The coding side of the STB arithmetic code: the exact inverse of Decoder
// (same models, same interval arithmetic, bits written least significant first
// into each byte). flush() ends the stream so that the decoder, reading
// all-ones past the end, lands inside the final interval: it never needs more
// than two bytes past the end of what the encoder wrote.
#pragma once

#include "image/AdaptiveModel.h"

#include <cstdint>
#include <vector>

class Encoder
{
public:
    // Appends the coded bits to `output`.
    explicit Encoder(std::vector<std::uint8_t>& output) : m_output(output) {}

    // Codes one symbol in the model (as Decoder::decode reads it). False for a symbol outside the model.
    bool encode(Adaptive_Model& model, int symbol);
    // Codes a value of k bits (1..16) with a flat distribution (as Decoder::decode_bits reads it).
    void encode_bits(int value, int k);
    // Writes the bits that select a point inside the final interval and pads the last byte.
    void flush();

private:
    static constexpr int kHalf = 0x8000;
    static constexpr int kFirstQuarter = 0x4000;
    static constexpr int kThirdQuarter = 0xC000;

    void normalize();
    // Appends the low `count` bits of `bits` (0..32), the first of them the most significant.
    void put_bits(std::uint32_t bits, int count);
    // Appends `count` copies of one bit.
    void put_repeated(int bit, long long count);
    void drain(); // moves whole bytes from the accumulator to the output

    std::vector<std::uint8_t>& m_output;
    int low = 0;
    int high = 0xFFFF;
    long long bits_to_follow = 0;
    std::uint64_t m_nAccumulator = 0; // pending bits, the first at bit 0
    int m_nAccumulated = 0;
};
