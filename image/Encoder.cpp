#include "image/Encoder.h"

void Encoder::put_bit_plus_follow(int bit)
{
    put_bit(bit);
    for (; bits_to_follow > 0; --bits_to_follow)
        put_bit(!bit);
}

void Encoder::normalize()
{
    for (;;)
    {
        if (high < kHalf)
        {
            put_bit_plus_follow(0);
        }
        else if (low >= kHalf)
        {
            put_bit_plus_follow(1);
            low -= kHalf;
            high -= kHalf;
        }
        else if (low >= kFirstQuarter && high < kThirdQuarter)
        {
            ++bits_to_follow;
            low -= kFirstQuarter;
            high -= kFirstQuarter;
        }
        else
        {
            break;
        }
        low = 2 * low;
        high = 2 * high + 1;
    }
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
    put_bit_plus_follow(low < kFirstQuarter ? 0 : 1);
    while (m_nBitCount != 0)
        put_bit(1); // the decoder reads 1 bits past the end anyway
}
