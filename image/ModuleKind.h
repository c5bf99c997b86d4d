// The kinds of module an image holds, as the module header states them.
#pragma once

#include "protocol/WireFormat.h"

#include <string_view>

enum class ModuleKind
{
    Firmware,      // firmware byte nonzero: programLength data bytes
    DigitalFlash,  // digital 1, flash 1: 262144 bytes
    DigitalEeprom, // digital 1, flash 0: 2048 bytes
    Analog,        // digital 0: 14336 bytes
};

// The kind by the same rules that give the module's data length (ModuleDataLength): any nonzero
// digital byte counts as digital and any nonzero flash byte as flash.
ModuleKind ModuleKindOf(const ModuleHeader& header);
std::string_view ModuleKindName(ModuleKind kind); // "firmware", "digital-flash", "digital-eeprom", "analog"

// True when a non-firmware header has a digital or flash byte other than 0 or 1, which the
// download's scan cannot classify.
bool HasUnclassifiableKindBytes(const ModuleHeader& header);

// A header of the given kind: the initial header content with the kind bytes set and, for
// firmware, the program length.
ModuleHeader MakeModuleHeader(ModuleKind kind, std::uint32_t nProgramLength = 0, std::uint8_t nLeadByte = 0x01);
