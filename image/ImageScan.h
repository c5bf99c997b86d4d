// The download's look over an image before it names the function to the
// receiver: which kinds of module the image holds and how many bytes it counts.
// Its rules decide what the receiver is told, so they stay fixed, odd as some
// look (the 64 header bytes are not counted against the length, a flash module
// skips 2048 bytes more than its data, a later digital module turns "digital
// and analog" back into "digital"): receivers are served by these counts.
#pragma once

#include "image/ImageFile.h"
#include "protocol/WireFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

// Images this long or shorter hold no module for the scan.
inline constexpr std::int64_t kScanMinimumImageBytes = 2048;
// What the scan skips past a module's header block.
inline constexpr std::int64_t kScanFlashSkipBytes = 0x40800;  // 264192: 2048 more than the data
inline constexpr std::int64_t kScanEepromSkipBytes = 0x800;   // 2048
inline constexpr std::int64_t kScanAnalogSkipBytes = 0x3800;  // 14336

// Module kinds: 0 invalid, 1 firmware, 2 digital, 3 analog, 4 digital and analog.
inline constexpr int kKindsInvalid = 0;
inline constexpr int kKindsFirmware = 1;
inline constexpr int kKindsDigital = 2;
inline constexpr int kKindsAnalog = 3;
inline constexpr int kKindsDigitalAnalog = 4;

struct ImageScanResult
{
    int nModuleKinds = kKindsInvalid;
    std::int64_t nTotalBytes = 0;  // data bytes counted by the scan (m_nTotalBytes)
    std::uint8_t nFunctionCode = 0; // FUNC_PROGRAM/DIGITAL/ANALOG/DIGITAL_ANALOG, 0 when invalid
    std::string strInvalidReason;   // why a module stopped the scan, when one did
};

// The scan the download runs on the receiver's function request. Rewinds the image before and
// after. Headers are read into `header`: the download passes theModuleHeader, which it shares with
// the transfer; a header read that meets the end of the image leaves the rest of the record as the
// previous module left it.
// A module whose digital byte (or, when digital, flash byte) is neither 0 nor 1 ends the scan and
// makes the image invalid: no skip length fits it, so the scan could not move past it.
ImageScanResult ScanImageForDownload(CImageFile& image, ModuleHeader& header);
// The same with a scratch record that starts as the program's initial header.
ImageScanResult ScanImageForDownload(CImageFile& image);

// 7, 4, 5, 6 for kinds 1 to 4; 0 for anything else.
std::uint8_t FunctionCodeForKinds(int nModuleKinds);
// "program", "data_digital", "data_analog", "data_digital and analog", or "invalid".
std::string_view FunctionNameForKinds(int nModuleKinds);
