#include "image/ModuleKind.h"

ModuleKind ModuleKindOf(const ModuleHeader& header)
{
    if (header.firmware() != 0)
        return ModuleKind::Firmware;
    if (header.digital() != 0)
        return header.flash() != 0 ? ModuleKind::DigitalFlash : ModuleKind::DigitalEeprom;
    return ModuleKind::Analog;
}

std::string_view ModuleKindName(ModuleKind kind)
{
    switch (kind)
    {
    case ModuleKind::Firmware:
        return "firmware";
    case ModuleKind::DigitalFlash:
        return "digital-flash";
    case ModuleKind::DigitalEeprom:
        return "digital-eeprom";
    case ModuleKind::Analog:
        return "analog";
    }
    return "unknown";
}

bool HasUnclassifiableKindBytes(const ModuleHeader& header)
{
    if (header.firmware() != 0)
        return false;
    if (header.digital() > 1)
        return true;
    return header.digital() == 1 && header.flash() > 1;
}

ModuleHeader MakeModuleHeader(ModuleKind kind, std::uint32_t nProgramLength, std::uint8_t nLeadByte)
{
    ModuleHeader header = InitialModuleHeader();
    header.bytes[0] = nLeadByte;
    header.bytes[31] = kind == ModuleKind::Firmware ? 1 : 0;
    header.bytes[32] = kind == ModuleKind::DigitalFlash || kind == ModuleKind::DigitalEeprom ? 1 : 0;
    header.bytes[33] = kind == ModuleKind::DigitalFlash ? 1 : 0;
    if (kind == ModuleKind::Firmware)
        header.setProgramLength(nProgramLength);
    return header;
}
