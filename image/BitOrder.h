// The STB stream takes each byte's least significant bit first; the coder
// works most significant bit first. This table turns one order into the other.
#pragma once

#include <array>
#include <cstdint>

// Byte values with their bit order reversed.
inline constexpr std::array<std::uint8_t, 256> kReversedBytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i))
                table[b] = std::uint8_t(table[b] | (0x80 >> i));
    return table;
}();
