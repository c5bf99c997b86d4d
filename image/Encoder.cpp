#include "image/Encoder.h"

#include "image/BitOrder.h"

namespace
{
std::uint32_t Reversed32(std::uint32_t v)
{
    return (std::uint32_t(kReversedBytes[v & 0xFF]) << 24) | (std::uint32_t(kReversedBytes[(v >> 8) & 0xFF]) << 16) |
           (std::uint32_t(kReversedBytes[(v >> 16) & 0xFF]) << 8) | kReversedBytes[v >> 24];
}
} // namespace

void Encoder::drain()
{
    while (m_nAccumulated >= 8)
    {
        m_output.push_back(std::uint8_t(m_nAccumulator));
        m_nAccumulator >>= 8;
        m_nAccumulated -= 8;
    }
}

void Encoder::put_bits(std::uint32_t bits, int count)
{
    if (count == 0)
        return;
    // The stream takes each byte's least significant bit first: reverse so the first bit is bit 0.
    const std::uint32_t inStreamOrder = Reversed32(bits << (32 - count));
    m_nAccumulator |= std::uint64_t(inStreamOrder) << m_nAccumulated;
    m_nAccumulated += count;
    drain();
}

void Encoder::put_repeated(int bit, long long count)
{
    for (; count > 0; count -= 24)
    {
        const int n = count < 24 ? int(count) : 24;
        put_bits(bit ? (1u << n) - 1 : 0u, n);
    }
}

// The bit-by-bit rescaling (emit the common top bit while the interval lies in one half, with the
// pending underflow bits after the first; then count underflow steps while it straddles the
// middle within the inner quarters), with each run of steps done at once.
void Encoder::normalize()
{
    const int n = __builtin_clz((std::uint32_t(low ^ high) << 16) | 0x8000u);
    if (n > 0)
    {
        const int first = (low >> 15) & 1;
        put_bits(std::uint32_t(first), 1);
        put_repeated(!first, bits_to_follow);
        bits_to_follow = 0;
        put_bits(std::uint32_t(low >> (16 - n)) & ((1u << (n - 1)) - 1), n - 1);
        low = (low << n) & 0xFFFF;
        high = ((high << n) & 0xFFFF) | ((1 << n) - 1);
    }
    const std::uint32_t straddle = std::uint32_t(low & ~high) & 0x7FFFu;
    const int m = __builtin_clz(~(straddle << 17));
    bits_to_follow += m;
    low = (low & kHalf) | ((low << m) & 0x7FFF);
    high = (high & kHalf) | ((high << m) & 0x7FFF) | ((1 << m) - 1);
}

bool Encoder::encode(Adaptive_Model& model, int symbol)
{
    if (!model.encode_interval(symbol, low, high))
        return false;
    normalize();
    return true;
}

void Encoder::encode_bits(int value, int k)
{
    const std::int64_t range = high - low + 1;
    const std::int64_t r = value & ((1 << k) - 1);
    high = int(((r * range + range) >> k) + low - 1);
    low = low + int((r * range) >> k);
    normalize();
}

void Encoder::flush()
{
    // After normalize, low < half <= high and the interval is wider than a quarter: two more bits
    // name a quarter that lies wholly inside it, whatever bits follow.
    ++bits_to_follow;
    const int bit = low < kFirstQuarter ? 0 : 1;
    put_bits(std::uint32_t(bit), 1);
    put_repeated(!bit, bits_to_follow);
    bits_to_follow = 0;
    if (m_nAccumulated > 0)
        put_repeated(1, 8 - m_nAccumulated); // the decoder reads 1 bits past the end anyway
}
