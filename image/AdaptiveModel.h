// One adaptive frequency model of the STB arithmetic code: 2 to 257 symbols,
// frequencies kept in non-increasing order by index (index 1 is the most
// frequent symbol), halved when the total reaches 4095.
//
// The arithmetic that decides the coded bits is fixed; the tables behind it are
// ours: 16-bit entries (no frequency or total exceeds 4095) in fixed arrays, so
// the linear symbol search and the cumulative updates run eight entries at a
// time where SSE2 is available.
#pragma once

#include <cstdint>

class Adaptive_Model
{
public:
    static constexpr int kMinSymbols = 2;
    static constexpr int kMaxSymbols = 257;
    static constexpr int kMaxTotalFrequency = 4095; // a model is halved when its total reaches this

    // A model with `symbols` 0, then define(nSymbols); an invalid count leaves it undefined.
    explicit Adaptive_Model(int nSymbols = 256);

    // (Re)creates the statistics for n symbols: every frequency 1, symbol s at index s + 1.
    // False for n outside 2..257 ("invalid < Adaptive_Model > definition"); the model is then undefined.
    bool define(int n);

    // Counts one occurrence of the symbol at `index` (1..symbols): halves first when the total is
    // 4095, moves the symbol to the front of its group of equal frequency, then increments it.
    void update(int index);

    // Decodes one symbol from `value` in [low, high], narrows low/high to its interval and counts it.
    // -1 when value lies outside [low, high] ("invalid < Adaptive_Model > value") or the model is undefined.
    int select(int value, int& low, int& high);

    // Encoder side: narrows low/high to the interval of `symbol` and counts it, the exact inverse of
    // select. False when the symbol is out of range.
    bool encode_interval(int symbol, int& low, int& high);

    int symbols() const { return m_nSymbols; }
    int total() const { return cumulative[0]; }
    int frequency_at(int index) const { return frequency[index]; }
    int cumulative_at(int index) const { return cumulative[index]; }
    int symbol_at(int index) const { return index_to_symbol[index]; }
    int index_of(int symbol) const { return symbol_to_index[symbol]; }

private:
    // 257 symbols + entry 0, rounded up to whole 8-entry blocks; entries past `symbols` stay 0.
    static constexpr int kTableSize = 264;

    void rescale();
    int find_first_cumulative_at_most(int target) const;
    int find_first_frequency_at_most(int value, int limit) const;
    void increment_cumulative_below(int index);

    int m_nSymbols = 0;
    alignas(16) std::uint16_t frequency[kTableSize] = {};
    alignas(16) std::uint16_t cumulative[kTableSize] = {};
    alignas(16) std::uint16_t index_to_symbol[kTableSize] = {};
    alignas(16) std::uint16_t symbol_to_index[kTableSize] = {};
};
