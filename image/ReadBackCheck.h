// Whether a receiver holds what a download of an image put there, judged from
// the receiver's memory as an upload read it back.
//
// A download sends every module of the image in order, each whole by the length
// its header gives; the download's own scan only chooses the function it names
// (so an EEPROM module right after a flash module, which that scan passes over,
// is still sent, and checked here as a module of its own). The receiver keeps
// one memory per kind of data - digital flash, digital EEPROM, analog - so once
// the download is over each memory holds the last module of its kind: an
// earlier module of the same kind was written over, and firmware goes where no
// upload reads. Each module a memory should hold is compared with that memory
// over the length the module has (an upload returns whole memories, and a
// memory that is shorter lacks the rest). The header blocks are not compared:
// an upload writes the receiver's record there.
#pragma once

#include "image/ImageFile.h"
#include "image/ModuleKind.h"
#include "image/ModuleWalk.h"
#include "protocol/UploadKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ReadBackState
{
    Verified,    // the memory holds the module's data
    Differs,     // it holds other bytes (or fewer)
    Missing,     // the upload brought no memory of the module's kind
    Firmware,    // not verifiable: firmware cannot be read back
    WrittenOver, // not verifiable: a later module of the same kind took its place
};

struct ModuleReadBack
{
    int nNumber = 0; // in the image, from 1
    ModuleKind kind = ModuleKind::Firmware;
    std::uint32_t nLength = 0; // data bytes in the image
    std::uint32_t nCrc = 0;    // CRC-32 of those bytes (the packets' CRC)
    ReadBackState state = ReadBackState::Firmware;
    int nWrittenOverBy = 0;             // WrittenOver: the number of the later module
    std::uint64_t nFirstDifference = 0; // Differs: data offset of the first differing byte
    std::uint64_t nDifferingBytes = 0;  // Differs: bytes that differ or are lacking

    // Compared with the memory (verified, different or missing there).
    bool Checked() const { return state == ReadBackState::Verified || Failed(); }
    bool Failed() const { return state == ReadBackState::Differs || state == ReadBackState::Missing; }
};

struct ReadBackCheck
{
    std::vector<ModuleReadBack> modules; // every module of the image, in order
    std::string strError; // the image or the memory could not be read as modules (nothing is verified then)

    int CheckedModules() const;
    int FailedModules() const;
    bool Verified() const { return strError.empty() && CheckedModules() > 0 && FailedModules() == 0; }
};

// The upload a check of the walked image needs, by the kinds of data module it
// holds: digital (flash, EEPROM), analog, or all; nullopt when it holds none.
std::optional<UploadKind> UploadKindToCheck(const ModuleWalk& walk);

// Compares `image` with `memory`, the bytes an upload read back (in its file's
// layout). Both are rewound after.
ReadBackCheck CheckReadBack(CImageFile& image, CImageFile& memory);

// One module's result in words: "verified", "differs at offset 1000 (1 byte)",
// "not in the receiver's memory", "not verifiable: firmware cannot be read
// back", "not verifiable: module 3, of the same kind, is written over it".
std::string DescribeModuleReadBack(const ModuleReadBack& module);
// "verified: 2 modules", "different: 1 of 2 modules", "incomplete: ..." (with a
// note of the modules that could not be verified).
std::string DescribeReadBack(const ReadBackCheck& check);
// The lowercase word of a state for machine-readable output: "verified",
// "differs", "missing", "firmware", "written-over".
const char* ReadBackStateName(ReadBackState state);
