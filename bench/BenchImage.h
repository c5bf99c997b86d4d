// The firmware image the download benchmarks send: `modules` firmware modules
// of 256 KiB each (4 make 1 MiB) of pseudo-random data, the same on every run.
#pragma once

#include "protocol/WireFormat.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline std::string WriteFirmwareImage(const std::string& path, int modules)
{
    constexpr std::uint32_t kModuleBytes = 262144;
    std::ofstream out(path, std::ios::binary);
    std::uint32_t seed = 12345;
    for (int m = 0; m < modules; ++m)
    {
        ModuleHeader header = InitialModuleHeader();
        header.bytes[0] = 1;
        header.bytes[31] = 1;
        header.setProgramLength(kModuleBytes);
        out.write(reinterpret_cast<const char*>(header.bytes), kModuleHeaderSize);
        const std::string fill(20, '\xFF');
        out.write(fill.data(), 20);
        std::vector<char> data(kModuleBytes);
        for (auto& byte : data)
        {
            seed = seed * 1103515245u + 12345u;
            byte = char(seed >> 24);
        }
        out.write(data.data(), std::streamsize(data.size()));
    }
    return path;
}
