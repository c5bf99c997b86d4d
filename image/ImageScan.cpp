#include "image/ImageScan.h"

#include "image/ModuleKind.h"

#include <cstdio>

namespace
{
std::string KindByteReason(int nModule, const ModuleHeader& header)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "module %d: digital byte 0x%02X, flash byte 0x%02X: neither 0 nor 1, the module's kind is unknown",
                  nModule, header.digital(), header.flash());
    return text;
}
} // namespace

std::uint8_t FunctionCodeForKinds(int nModuleKinds)
{
    switch (nModuleKinds)
    {
    case kKindsFirmware:
        return FUNC_PROGRAM;
    case kKindsDigital:
        return FUNC_DIGITAL;
    case kKindsAnalog:
        return FUNC_ANALOG;
    case kKindsDigitalAnalog:
        return FUNC_DIGITAL_ANALOG;
    default:
        return 0;
    }
}

std::string_view FunctionNameForKinds(int nModuleKinds)
{
    switch (nModuleKinds)
    {
    case kKindsFirmware:
        return "program";
    case kKindsDigital:
        return "data_digital";
    case kKindsAnalog:
        return "data_analog";
    case kKindsDigitalAnalog:
        return "data_digital and analog";
    default:
        return "invalid";
    }
}

ImageScanResult ScanImageForDownload(CImageFile& image, ModuleHeader& header)
{
    ImageScanResult result;
    image.Rewind();
    std::int64_t len = std::int64_t(image.GetLength());
    int nModule = 0;
    while (len > kScanMinimumImageBytes)
    {
        ++nModule;
        image.Read(header.bytes, kModuleHeaderSize); // a short read keeps the rest of the record (see the header)
        image.Seek(kHeaderBlockSize - kModuleHeaderSize);
        result.nTotalBytes += std::uint32_t(ModuleDataLength(header));
        if (header.firmware() != 0)
        {
            result.nModuleKinds = kKindsFirmware;
            break;
        }
        if (HasUnclassifiableKindBytes(header))
        {
            // No skip length fits this module; without stopping here the scan would never end.
            result.nModuleKinds = kKindsInvalid;
            result.strInvalidReason = KindByteReason(nModule, header);
            break;
        }
        if (header.digital() == 1)
        {
            const std::int64_t nSkip = header.flash() == 1 ? kScanFlashSkipBytes : kScanEepromSkipBytes;
            image.Seek(nSkip);
            len -= nSkip;
            result.nModuleKinds = result.nModuleKinds == kKindsAnalog ? kKindsDigitalAnalog : kKindsDigital;
        }
        else
        {
            image.Seek(kScanAnalogSkipBytes);
            len -= kScanAnalogSkipBytes;
            result.nModuleKinds = result.nModuleKinds == kKindsDigital ? kKindsDigitalAnalog : kKindsAnalog;
        }
    }
    image.Rewind();
    result.nFunctionCode = FunctionCodeForKinds(result.nModuleKinds);
    if (result.nModuleKinds == kKindsInvalid && result.strInvalidReason.empty())
        result.strInvalidReason = "no module: the image holds " + std::to_string(image.GetLength()) +
                                  " bytes, the scan needs more than 2048";
    return result;
}

ImageScanResult ScanImageForDownload(CImageFile& image)
{
    ModuleHeader scratch = InitialModuleHeader();
    return ScanImageForDownload(image, scratch);
}
