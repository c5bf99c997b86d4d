#include "image/AdaptiveModel.h"

#include <array>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
// Division by a model's total (at most 4095) of a product below 2^28 as a multiplication:
// with m = floor(2^40 / t) + 1, (x * m) >> 40 equals x / t whenever x * t < 2^40.
constexpr int kReciprocalShift = 40;
constexpr auto kTotalReciprocals = [] {
    std::array<std::uint64_t, Adaptive_Model::kMaxTotalFrequency + 1> table{};
    for (std::uint64_t t = 1; t < table.size(); ++t)
        table[t] = (std::uint64_t(1) << kReciprocalShift) / t + 1;
    return table;
}();

inline int DivideByTotal(int x, int total)
{
    return int((std::uint64_t(x) * kTotalReciprocals[total]) >> kReciprocalShift);
}

#if defined(__SSE2__)
// Eight ones followed by eight zeros: loading from kOnesThenZeros + 8 - r gives r leading ones.
alignas(16) constexpr std::uint16_t kOnesThenZeros[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};

// Bit mask with one bit per 16-bit lane (taken from the byte mask) of lanes that are NOT greater than `limit`.
inline unsigned LanesAtMost(const std::uint16_t* block, __m128i limit)
{
    const __m128i values = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    return unsigned(_mm_movemask_epi8(_mm_cmpgt_epi16(values, limit))) ^ 0xFFFFu;
}
#endif
} // namespace

Adaptive_Model::Adaptive_Model(int nSymbols)
{
    define(nSymbols);
}

bool Adaptive_Model::define(int n)
{
    std::memset(frequency, 0, sizeof frequency);
    std::memset(cumulative, 0, sizeof cumulative);
    std::memset(index_to_symbol, 0, sizeof index_to_symbol);
    std::memset(symbol_to_index, 0, sizeof symbol_to_index);
    if (n < kMinSymbols || n > kMaxSymbols)
    {
        m_nSymbols = 0;
        return false;
    }
    m_nSymbols = n;
    for (int s = 0; s < n; ++s)
    {
        symbol_to_index[s] = std::uint16_t(s + 1);
        index_to_symbol[s + 1] = std::uint16_t(s);
    }
    frequency[0] = 0;
    for (int i = 1; i <= n; ++i)
        frequency[i] = 1;
    int sum = 0;
    for (int i = n; i >= 0; --i)
    {
        cumulative[i] = std::uint16_t(sum);
        sum += frequency[i];
    }
    return true;
}

void Adaptive_Model::rescale()
{
    int sum = 0;
    for (int i = m_nSymbols; i >= 0; --i)
    {
        frequency[i] = std::uint16_t((frequency[i] + 1) / 2);
        cumulative[i] = std::uint16_t(sum);
        sum += frequency[i];
    }
}

// First index (from 0) whose cumulative entry is not greater than target. Entry 0 is the total,
// always above any target select computes, and entry `symbols` is 0, so the result is in 1..symbols.
int Adaptive_Model::find_first_cumulative_at_most(int target) const
{
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi16(std::int16_t(target));
    for (int block = 0;; block += 8)
    {
        const unsigned mask = LanesAtMost(cumulative + block, limit);
        if (mask != 0)
            return block + __builtin_ctz(mask) / 2;
    }
#else
    int s = 1;
    while (cumulative[s] > target)
        ++s;
    return s;
#endif
}

// Smallest index j >= 1 with frequency[j] <= value. Frequencies do not increase with the index, so
// with value = frequency[limit] this is the first index of limit's group of equal frequency.
int Adaptive_Model::find_first_frequency_at_most(int value, int limit) const
{
#if defined(__SSE2__)
    (void)limit;
    const __m128i bound = _mm_set1_epi16(std::int16_t(value));
    unsigned mask = LanesAtMost(frequency, bound) & ~3u; // entry 0 is not a symbol
    for (int block = 0;; block += 8)
    {
        if (mask != 0)
            return block + __builtin_ctz(mask) / 2;
        mask = LanesAtMost(frequency + block + 8, bound);
    }
#else
    int j = limit;
    while (frequency[j - 1] == value)
        --j;
    return j;
#endif
}

// cumulative[i] += 1 for every i below `index`.
void Adaptive_Model::increment_cumulative_below(int index)
{
#if defined(__SSE2__)
    const __m128i ones = _mm_set1_epi16(1);
    int block = 0;
    for (; block + 8 <= index; block += 8)
    {
        auto* p = reinterpret_cast<__m128i*>(cumulative + block);
        _mm_store_si128(p, _mm_add_epi16(_mm_load_si128(p), ones));
    }
    const int rest = index - block;
    if (rest > 0)
    {
        auto* p = reinterpret_cast<__m128i*>(cumulative + block);
        const __m128i partial = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnesThenZeros + 8 - rest));
        _mm_store_si128(p, _mm_add_epi16(_mm_load_si128(p), partial));
    }
#else
    for (int i = index - 1; i >= 0; --i)
        ++cumulative[i];
#endif
}

void Adaptive_Model::update(int index)
{
    if (cumulative[0] == kMaxTotalFrequency)
        rescale();
    const int j = find_first_frequency_at_most(frequency[index], index);
    if (j < index)
    {
        std::swap(index_to_symbol[j], index_to_symbol[index]);
        symbol_to_index[index_to_symbol[j]] = std::uint16_t(j);
        symbol_to_index[index_to_symbol[index]] = std::uint16_t(index);
    }
    ++frequency[j];
    increment_cumulative_below(j);
}

int Adaptive_Model::select(int value, int& low, int& high)
{
    if (m_nSymbols == 0 || value < low || value > high)
        return -1;
    const int range = high - low + 1;
    const int total = cumulative[0];
    const int target = ((value - low + 1) * total - 1) / range;
    const int s = find_first_cumulative_at_most(target);
    high = low + DivideByTotal(range * cumulative[s - 1], total) - 1;
    low = low + DivideByTotal(range * cumulative[s], total);
    const int symbol = index_to_symbol[s];
    update(s);
    return symbol;
}

bool Adaptive_Model::encode_interval(int symbol, int& low, int& high)
{
    if (symbol < 0 || symbol >= m_nSymbols)
        return false;
    const int index = symbol_to_index[symbol];
    const int range = high - low + 1;
    const int total = cumulative[0];
    high = low + (range * cumulative[index - 1]) / total - 1;
    low = low + (range * cumulative[index]) / total;
    update(index);
    return true;
}
