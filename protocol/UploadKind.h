// What an upload asks the receiver to send back: its digital data (the flash
// and the EEPROM), its analog data, or all of it. Each kind has its function
// code, the bytes the receiver's memory of that kind holds (the progress and
// the estimate count against them) and the words the page logs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Values of the upload page's m_nUploadKind.
enum class UploadKind
{
    Digital = 0, // flash and EEPROM: function 0x01
    Analog = 1,  // analog memory: function 0x02
    All = 2,     // flash, EEPROM and analog memory: function 0x03
};

// 0x01, 0x02, 0x03.
std::uint8_t UploadFunctionCode(UploadKind kind);
// Data bytes the receiver's memories of the kind hold: 264192, 14336, 278528.
int UploadExpectedBytes(UploadKind kind);
// Modules the receiver sends for the kind: 2, 1, 3.
int UploadModuleCount(UploadKind kind);
// The function in the page's log: "upload digital only", "upload analog only", "upload digital&analog".
std::string_view UploadFunctionText(UploadKind kind);
// "digital", "analog", "all": the command line's word for the kind.
std::string_view UploadKindName(UploadKind kind);
// The kind a command-line word names; nullopt for any other word.
std::optional<UploadKind> ParseUploadKind(std::string_view name);
