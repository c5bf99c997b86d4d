// The size and CRC-32 of a file, for the records that say which image went to
// a receiver or what came back from it. The CRC-32 is the common one of zlib,
// gzip and PNG (not the packets' CRC), so a factory system can check a file
// with its own tools.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

struct FileDigest
{
    std::uint64_t size = 0;
    std::string crc32; // eight lower-case hex digits
};

// Reads the whole file; nothing when it cannot be read.
std::optional<FileDigest> DigestFile(const std::string& path);
// {"path", "size", "crc32"} of the file for an event; the path alone when it cannot be read.
nlohmann::ordered_json DigestFields(const std::string& path);
