#include "image/ModuleWalk.h"

#include <algorithm>

namespace
{
constexpr std::uint32_t kReadChunkBytes = 64 * 1024;

std::string TruncatedMessage(int nModule, std::uint64_t nOffset, const std::string& strWhere)
{
    return "The image is truncated: module " + std::to_string(nModule) + " at offset " + std::to_string(nOffset) +
           " " + strWhere;
}

// True when all n bytes were read, in either mode of the image.
bool ReadAll(CImageFile& image, void* pBuffer, std::uint32_t n)
{
    const int result = image.Read(pBuffer, n);
    return image.IsDiskMode() ? std::uint32_t(result) == n : result == 1;
}
} // namespace

ModuleWalk WalkImageModules(CImageFile& image, bool bComputeCrc)
{
    ModuleWalk walk;
    walk.nImageLength = image.GetLength();
    image.Rewind();
    std::vector<std::uint8_t> chunk;
    std::uint64_t nOffset = 0;
    while (nOffset < walk.nImageLength)
    {
        ModuleInfo module;
        module.nNumber = int(walk.modules.size()) + 1;
        module.nOffset = nOffset;
        const std::uint64_t nLeft = walk.nImageLength - nOffset;
        if (nLeft < std::uint64_t(kHeaderBlockSize))
        {
            walk.strProblem = TruncatedMessage(module.nNumber, nOffset,
                                               "ends inside its 64-byte header block (" + std::to_string(nLeft) +
                                                   " bytes of it are present)");
            break;
        }
        if (!ReadAll(image, module.header.bytes, kModuleHeaderSize))
        {
            walk.strProblem = "Cannot read the image at offset " + std::to_string(nOffset) + ": " +
                              (image.GetErrorText().empty() ? "it ended early" : image.GetErrorText());
            break;
        }
        image.Seek(kHeaderBlockSize - kModuleHeaderSize);
        // ModuleDataLength gives a firmware length as int; back to unsigned it is the header's value.
        module.nDataLength = std::uint32_t(ModuleDataLength(module.header));
        const std::uint64_t nDataPresent = nLeft - kHeaderBlockSize;
        if (module.nDataLength > nDataPresent)
        {
            walk.strProblem = TruncatedMessage(module.nNumber, nOffset,
                                               "states " + std::to_string(module.nDataLength) +
                                                   " data bytes, but the image ends " +
                                                   std::to_string(nDataPresent) + " bytes into them");
            break;
        }
        if (bComputeCrc)
        {
            chunk.resize(kReadChunkBytes);
            std::uint32_t crc = 0;
            for (std::uint32_t nDone = 0; nDone < module.nDataLength;)
            {
                const std::uint32_t n = std::min(kReadChunkBytes, module.nDataLength - nDone);
                if (!ReadAll(image, chunk.data(), n))
                {
                    walk.strProblem = "Cannot read the image at offset " +
                                      std::to_string(nOffset + kHeaderBlockSize + nDone) + ": " +
                                      (image.GetErrorText().empty() ? "it ended early" : image.GetErrorText());
                    image.Rewind();
                    return walk;
                }
                crc = Crc32Continue(crc, chunk.data(), n);
                nDone += n;
            }
            module.nCrc = crc;
        }
        else if (module.nDataLength > 0)
        {
            image.Seek(module.nDataLength);
        }
        nOffset += kHeaderBlockSize + std::uint64_t(module.nDataLength);
        walk.modules.push_back(module);
    }
    image.Rewind();
    return walk;
}
