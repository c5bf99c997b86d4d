// Compares two images module by module: whether the memory read back from a
// receiver (an upload's file) holds what was sent to it (the image downloaded),
// or whether two image files carry the same data whatever their format.
//
// Both images are walked by their headers' lengths, module by module, as the
// files hold them: an upload's flash module followed by its EEPROM module are
// two modules here (the download's own scan would count them as one). Modules
// are matched by kind and order: the n-th module of a kind in one image with the
// n-th module of that kind in the other. The 64-byte header blocks are compared
// too, but an upload writes the receiver's record there rather than the image's,
// so a header difference counts only when asked for.
#pragma once

#include "image/ImageFile.h"
#include "image/ModuleKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One side of a matched pair: where the module lies in its image and what it holds.
struct ComparedModule
{
    int nNumber = 0;           // the module's number in its image, from 1
    std::uint64_t nOffset = 0; // offset of its header block
    std::uint32_t nLength = 0; // data bytes, as its header states them
    std::uint32_t nCrc = 0;    // CRC-32 of the data (the packets' CRC)
};

struct ModuleComparison
{
    ModuleKind kind = ModuleKind::Firmware;
    std::optional<ComparedModule> first, second; // one is absent for a module without counterpart
    bool bHeaderEqual = true;                    // the two 64-byte header blocks are equal
    // Over the shorter length the bytes that differ, plus the bytes one module has beyond the other.
    std::uint64_t nDifferingBytes = 0;
    std::uint64_t nFirstDifference = 0; // data offset of the first differing byte (when any)

    bool HasCounterpart() const { return first.has_value() && second.has_value(); }
    bool DataEqual() const { return HasCounterpart() && nDifferingBytes == 0; }
    // Whether this module makes the images different.
    bool Differs(bool bHeadersCount) const { return !DataEqual() || (bHeadersCount && !bHeaderEqual); }
};

struct ImageComparison
{
    // The first image's modules in order with their counterparts, then the
    // second image's modules that have none.
    std::vector<ModuleComparison> modules;
    bool bHeadersCount = false;
    std::string strError; // an image could not be read to the end (the comparison is then incomplete)

    int DifferingModules() const;
    bool Same() const { return strError.empty() && DifferingModules() == 0; }
};

// Compares two loaded, complete images (LoadImageToCompare). Both are rewound after.
ImageComparison CompareImages(CImageFile& first, CImageFile& second, bool bHeadersCount);

// Fills in the header and data differences of one matched pair (both sides
// set). With bOverFirstLength the data is compared over the first module's
// length only: bytes the second holds beyond it are no difference (a memory
// read back whole against a module that fills part of it), bytes it lacks are.
// False with `error` when a read failed.
bool CompareModulePair(CImageFile& first, CImageFile& second, ModuleComparison& pair, bool bOverFirstLength,
                       std::string& error);

// "equal", "equal, header block differs", "header block differs", "differs at offset 1000 (1 byte)",
// "only in A" or "only in B": the result of one module, in the words of the tools.
std::string DescribeModuleResult(const ModuleComparison& module, bool bHeadersCount);
// "same data", or "different: 2 of 3 modules".
std::string DescribeComparison(const ImageComparison& comparison);

struct CompareImageLoad
{
    std::string error; // what went wrong, for the user ("" on success)
    bool bStb = false;
    bool ok() const { return error.empty(); }
};

// Loads an image to compare. From the file at `strPath` (an STB file by its name or with bStb,
// decoded into memory; a BIN file read from disk), or from `pBytes` when given (standard input;
// `strPath` then only names it, and it is STB only with bStb). An image that ends inside a module,
// or holds no module at all, is refused.
CompareImageLoad LoadImageToCompare(const std::string& strPath, CImageFile& image, bool bStb = false,
                                    std::vector<std::uint8_t>* pBytes = nullptr);
