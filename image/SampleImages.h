// Deterministic images for the shipped samples, the tests and the benchmarks.
#pragma once

#include "protocol/WireFormat.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Bytes shaped like compiled code: common opcodes, register-to-register operands, small
// displacements, relative calls with near-zero high bytes, padding and short strings.
// The same seed always gives the same bytes.
std::vector<std::uint8_t> MakeMachineCodeLikeBytes(std::size_t nBytes, std::uint64_t nSeed);

// Appends one module: the 44-byte header, 20 fill bytes, then the data.
void AppendModule(std::vector<std::uint8_t>& image, const ModuleHeader& header, std::span<const std::uint8_t> data,
                  std::uint8_t nFillByte = 0xFF);

// One firmware module of 48 KiB of code-like bytes.
std::vector<std::uint8_t> MakeDemoFirmwareImage();
// Analog, digital flash and digital EEPROM modules.
std::vector<std::uint8_t> MakeDemoMixedImage();
// Flash (262144) then EEPROM (2048), in the layout an upload writes (fill bytes 0xFF).
std::vector<std::uint8_t> MakeDemoUploadImage();

struct SampleFile
{
    std::string name;                // file name inside the samples folder
    std::vector<std::uint8_t> bytes; // file content (STB files already coded)
};
// Every shipped sample: demo-firmware.bin/.stb, demo-mixed.stb, demo-upload.bin.
std::vector<SampleFile> MakeSampleFiles();
