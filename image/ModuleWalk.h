// Walks an image module by module by the lengths its headers state, to find
// where each module lies and whether the image ends exactly after the last one.
#pragma once

#include "image/ImageFile.h"
#include "protocol/WireFormat.h"

#include <cstdint>
#include <string>
#include <vector>

struct ModuleInfo
{
    int nNumber = 0;           // 1-based
    std::uint64_t nOffset = 0; // offset of the header block in the image
    ModuleHeader header{};
    std::uint32_t nDataLength = 0; // as the header states it (ModuleDataLength)
    std::uint32_t nCrc = 0;        // CRC-32 of the data, when asked for
};

struct ModuleWalk
{
    std::vector<ModuleInfo> modules; // the complete modules, in order
    std::uint64_t nImageLength = 0;
    std::string strProblem; // empty when the image ends right after its last module
    bool IsComplete() const { return strProblem.empty(); }
};

// Reads the image from its start; rewinds it before and after. With bComputeCrc the data of each
// module is read and its CRC-32 (the packets' CRC, over the whole module) taken.
ModuleWalk WalkImageModules(CImageFile& image, bool bComputeCrc);
