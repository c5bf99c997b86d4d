// The simulated receiver's memory: the modules it received (download role) or
// serves (upload role), and their BIN layout on disk: per module a 64-byte header
// block (the 44-byte record + 20 fill bytes) followed by the module's data.
#pragma once

#include "protocol/WireFormat.h"

#include <cstdint>
#include <string>
#include <vector>

struct ReceiverModule
{
    ModuleHeader header{};
    std::vector<std::uint8_t> data;
};

// CRC-32 of the packets (polynomial 0x04C11DB7, initial 0, no reflection, no
// final XOR). The receiver keeps a table of its own so that it never reads the
// PC side's table while a page rebuilds it on another thread.
std::uint32_t ReceiverCrc32(const std::uint8_t* data, std::size_t length);

// The BIN bytes of `modules`: header record, 20 x 0xFF, data, for each module.
std::vector<std::uint8_t> BuildBinImage(const std::vector<ReceiverModule>& modules);

// Writes BuildBinImage(modules) to `path` (through a temporary file moved into
// place, so a failed write leaves no half file). False with the reason in `error`.
bool SaveBinImage(const std::string& path, const std::vector<ReceiverModule>& modules, std::string& error);

// Reads a BIN in the upload layout (digital flash, digital EEPROM and analog
// modules, each with its full data length). False with the reason in `error`.
bool LoadUploadImage(const std::string& path, std::vector<ReceiverModule>& modules, std::string& error);
// The same from bytes already in memory; `name` is used in messages.
bool ParseUploadImage(const std::vector<std::uint8_t>& bytes, const std::string& name,
                      std::vector<ReceiverModule>& modules, std::string& error);

// Deterministic memory for the upload role when no image is given: a digital
// flash module (262144 bytes), a digital EEPROM module (2048 bytes) and an analog
// module (14336 bytes). No two packets of it hold the same data.
std::vector<ReceiverModule> SyntheticMemory();

// What a receiver's memory holds after a download of `received`: each data module
// (digital flash, digital EEPROM, analog) replaces the module of its kind in
// `memory`, or is added when there is none; firmware is not data memory and is
// left out. Kinds are stored as 0 or 1, as an upload reports them.
void StoreReceivedModules(std::vector<ReceiverModule>& memory, const std::vector<ReceiverModule>& received);

// The modules the upload function code asks for: 0x01 digital, 0x02 analog,
// 0x03 both; none for any other code.
std::vector<ReceiverModule> ModulesForUploadFunction(const std::vector<ReceiverModule>& memory,
                                                     std::uint8_t functionCode);
