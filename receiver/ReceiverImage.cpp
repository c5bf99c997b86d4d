#include "receiver/ReceiverImage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace
{
std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i)
    {
        std::uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[i] = crc;
    }
    return table;
}

bool IsUploadKind(const ModuleHeader& header)
{
    return header.firmware() == 0 && (header.digital() == 1 || (header.digital() == 0 && header.flash() == 0)) &&
           header.flash() <= 1;
}

ReceiverModule MakeSyntheticModule(std::uint8_t digital, std::uint8_t flash, std::uint8_t seed)
{
    ReceiverModule module;
    module.header = InitialModuleHeader();
    module.header.bytes[0] = 1;
    module.header.bytes[31] = 0;
    module.header.bytes[32] = digital;
    module.header.bytes[33] = flash;
    const int length = ModuleDataLength(module.header);
    module.data.resize(std::size_t(length));
    // Mixes the byte's offset and its packet's number, so that a packet stored in
    // the wrong place or twice shows up in a byte-exact comparison.
    std::uint32_t state = 0x9E3779B9u * (seed + 1u);
    for (int i = 0; i < length; ++i)
    {
        state = state * 1664525u + 1013904223u;
        module.data[std::size_t(i)] = std::uint8_t((state >> 24) ^ std::uint32_t(i >> 10));
    }
    return module;
}
} // namespace

std::uint32_t ReceiverCrc32(const std::uint8_t* data, std::size_t length)
{
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

std::vector<std::uint8_t> BuildBinImage(const std::vector<ReceiverModule>& modules)
{
    std::vector<std::uint8_t> bytes;
    for (const auto& module : modules)
    {
        const auto block = BuildControlMessage(module.header);
        bytes.insert(bytes.end(), block.begin(), block.end());
        bytes.insert(bytes.end(), module.data.begin(), module.data.end());
    }
    return bytes;
}

bool SaveBinImage(const std::string& path, const std::vector<ReceiverModule>& modules, std::string& error)
{
    const auto bytes = BuildBinImage(modules);
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
        {
            error = "cannot create " + temporary + ": " + std::strerror(errno);
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out)
        {
            error = "cannot write " + temporary + ": " + std::strerror(errno);
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
    {
        error = "cannot move " + temporary + " to " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool ParseUploadImage(const std::vector<std::uint8_t>& bytes, const std::string& name,
                      std::vector<ReceiverModule>& modules, std::string& error)
{
    modules.clear();
    std::size_t offset = 0;
    while (offset < bytes.size())
    {
        const std::string where = name + ", module " + std::to_string(modules.size() + 1) + " at offset " +
                                  std::to_string(offset);
        if (bytes.size() - offset < std::size_t(kHeaderBlockSize))
        {
            error = where + ": only " + std::to_string(bytes.size() - offset) + " bytes left, less than a header block";
            return false;
        }
        ReceiverModule module;
        std::memcpy(module.header.bytes, bytes.data() + offset, kModuleHeaderSize);
        if (!IsUploadKind(module.header))
        {
            error = where + ": not a module the receiver can upload (firmware " +
                    std::to_string(module.header.firmware()) + ", digital " +
                    std::to_string(module.header.digital()) + ", flash " + std::to_string(module.header.flash()) +
                    "); expected digital flash, digital EEPROM or analog";
            return false;
        }
        const std::size_t length = std::size_t(ModuleDataLength(module.header));
        offset += kHeaderBlockSize;
        if (bytes.size() - offset < length)
        {
            error = where + ": truncated, " + std::to_string(bytes.size() - offset) + " of " +
                    std::to_string(length) + " data bytes";
            return false;
        }
        module.data.assign(bytes.begin() + std::ptrdiff_t(offset), bytes.begin() + std::ptrdiff_t(offset + length));
        offset += length;
        modules.push_back(std::move(module));
    }
    if (modules.empty())
    {
        error = name + ": the image holds no module";
        return false;
    }
    return true;
}

bool LoadUploadImage(const std::string& path, std::vector<ReceiverModule>& modules, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
    {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    return ParseUploadImage(bytes, path, modules, error);
}

std::vector<ReceiverModule> SyntheticMemory()
{
    return {MakeSyntheticModule(1, 1, 1), MakeSyntheticModule(1, 0, 2), MakeSyntheticModule(0, 0, 3)};
}

void StoreReceivedModules(std::vector<ReceiverModule>& memory, const std::vector<ReceiverModule>& received)
{
    for (const auto& module : received)
    {
        if (module.header.firmware() != 0)
            continue;
        ReceiverModule stored = module;
        stored.header.bytes[32] = module.header.digital() != 0 ? 1 : 0;
        stored.header.bytes[33] = stored.header.digital() != 0 && module.header.flash() != 0 ? 1 : 0;
        const auto sameKind = [&stored](const ReceiverModule& held)
        { return held.header.digital() == stored.header.digital() && held.header.flash() == stored.header.flash(); };
        const auto place = std::find_if(memory.begin(), memory.end(), sameKind);
        if (place == memory.end())
            memory.push_back(std::move(stored));
        else
            *place = std::move(stored);
    }
}

std::vector<ReceiverModule> ModulesForUploadFunction(const std::vector<ReceiverModule>& memory,
                                                     std::uint8_t functionCode)
{
    std::vector<ReceiverModule> selected;
    for (const auto& module : memory)
    {
        const bool bDigital = module.header.digital() != 0;
        if ((functionCode == FUNC_UPLOAD_DIGITAL && bDigital) || (functionCode == FUNC_UPLOAD_ANALOG && !bDigital) ||
            functionCode == FUNC_UPLOAD_BOTH)
            selected.push_back(module);
    }
    return selected;
}
