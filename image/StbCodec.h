// STB streams: a 32-bit image length (most significant byte first, each byte
// coded with a flat 8-bit distribution) followed by the image bytes, each coded
// in the adaptive model of the byte before it (the first in the model of 0x80).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Largest image an STB stream may state. The length prefix could claim up to
// 2 GiB from a few bytes; receiver images are far smaller (the largest module is
// 256 KiB), so anything past this is refused before a byte is decoded.
inline constexpr std::uint32_t kMaxStbImageBytes = 256u * 1024 * 1024;

// Message when the decoded image cannot be held in memory.
inline constexpr const char* kMemoryAssignError = "Memory Assign Error";

// The context of the first image byte.
inline constexpr int kFirstContext = 0x80;

struct StbDecodeResult
{
    std::vector<std::uint8_t> image; // the decoded bytes (empty after a failure)
    std::string error;               // empty on success; else the failure's message
    std::string detail;              // the system's reason, when the failure has one
    bool ok() const { return error.empty(); }
};

// Decodes a whole STB file. A file that cannot be opened, a stream that ends too early or is
// corrupt, a stated length over kMaxStbImageBytes, and memory exhaustion all come back as errors.
// The output grows as bytes are decoded: nothing is allocated for what the prefix merely claims.
StbDecodeResult DecodeStbFile(const std::string& strPath);
StbDecodeResult DecodeStb(std::span<const std::uint8_t> stream);

struct StbEncodeResult
{
    std::vector<std::uint8_t> stream;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Codes an image as an STB stream that DecodeStb reads back bit-exactly.
// Images over kMaxStbImageBytes are refused (the decoder would refuse them too).
StbEncodeResult EncodeStb(std::span<const std::uint8_t> image);

// The message for a stated length over the limit.
std::string StbLengthTooLargeMessage(std::uint64_t nLength);
