#include "image/ImageCompare.h"

#include "image/ImageLoader.h"
#include "image/ModuleWalk.h"
#include "image/StbCodec.h"

#include <algorithm>
#include <array>
#include <map>

namespace
{
constexpr std::uint32_t kChunkBytes = 64 * 1024;

// True when all n bytes were read, in either mode of the image.
bool ReadExactly(CImageFile& image, std::uint8_t* pBuffer, std::uint32_t n)
{
    if (n == 0)
        return true;
    const int result = image.Read(pBuffer, n);
    return image.IsDiskMode() ? std::uint32_t(result) == n : result == 1;
}

bool SeekTo(CImageFile& image, std::uint64_t nOffset)
{
    return image.Seek(std::int64_t(nOffset), CImageFile::Origin::Begin) >= 0;
}

std::string ReadError(const CImageFile& image, std::uint64_t nOffset)
{
    const std::string name = image.GetPath().empty() ? std::string("an image") : image.GetPath();
    return "cannot read " + name + " at offset " + std::to_string(nOffset) + ": " +
           (image.GetErrorText().empty() ? "it ended early" : image.GetErrorText());
}

ComparedModule SideOf(const ModuleInfo& module)
{
    return ComparedModule{module.nNumber, module.nOffset, module.nDataLength, module.nCrc};
}

// Reads one side's header block and data in step with the other's.
class CModuleReader
{
public:
    CModuleReader(CImageFile& image, const ComparedModule& module) : m_image(image), m_module(module) {}

    bool ReadHeaderBlock(std::array<std::uint8_t, kHeaderBlockSize>& block, std::string& error)
    {
        if (SeekTo(m_image, m_module.nOffset) && ReadExactly(m_image, block.data(), kHeaderBlockSize))
            return true;
        error = ReadError(m_image, m_module.nOffset);
        return false;
    }
    // The next up to kChunkBytes data bytes; an empty chunk at the end of the module.
    bool ReadChunk(std::vector<std::uint8_t>& chunk, std::string& error)
    {
        const std::uint32_t n = std::min(kChunkBytes, m_module.nLength - m_nDone);
        chunk.resize(n);
        if (!ReadExactly(m_image, chunk.data(), n))
        {
            error = ReadError(m_image, m_module.nOffset + kHeaderBlockSize + m_nDone);
            return false;
        }
        m_nDone += n;
        return true;
    }

private:
    CImageFile& m_image;
    const ComparedModule& m_module;
    std::uint32_t m_nDone = 0;
};

std::string Plural(std::uint64_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}
} // namespace

bool CompareModulePair(CImageFile& first, CImageFile& second, ModuleComparison& pair, bool bOverFirstLength,
                       std::string& error)
{
    CModuleReader a(first, *pair.first), b(second, *pair.second);
    std::array<std::uint8_t, kHeaderBlockSize> headerA{}, headerB{};
    if (!a.ReadHeaderBlock(headerA, error) || !b.ReadHeaderBlock(headerB, error))
        return false;
    pair.bHeaderEqual = headerA == headerB;

    const std::uint32_t nCommon = std::min(pair.first->nLength, pair.second->nLength);
    bool bFound = false;
    std::vector<std::uint8_t> chunkA, chunkB;
    for (std::uint64_t nAt = 0; nAt < nCommon;)
    {
        if (!a.ReadChunk(chunkA, error) || !b.ReadChunk(chunkB, error))
            return false;
        const std::size_t n = std::min<std::uint64_t>({chunkA.size(), chunkB.size(), nCommon - nAt});
        for (std::size_t i = 0; i < n; ++i)
        {
            if (chunkA[i] == chunkB[i])
                continue;
            if (!bFound)
                pair.nFirstDifference = nAt + i;
            bFound = true;
            ++pair.nDifferingBytes;
        }
        nAt += n;
    }
    const std::uint32_t nLonger = bOverFirstLength ? pair.first->nLength
                                                   : std::max(pair.first->nLength, pair.second->nLength);
    if (nLonger > nCommon)
    {
        if (!bFound)
            pair.nFirstDifference = nCommon;
        pair.nDifferingBytes += nLonger - nCommon;
    }
    return true;
}

int ImageComparison::DifferingModules() const
{
    return int(std::count_if(modules.begin(), modules.end(),
                             [this](const ModuleComparison& module) { return module.Differs(bHeadersCount); }));
}

ImageComparison CompareImages(CImageFile& first, CImageFile& second, bool bHeadersCount)
{
    ImageComparison comparison;
    comparison.bHeadersCount = bHeadersCount;
    const ModuleWalk walkA = WalkImageModules(first, true);
    const ModuleWalk walkB = WalkImageModules(second, true);
    for (const ModuleWalk* walk : {&walkA, &walkB})
    {
        if (!walk->IsComplete())
        {
            comparison.strError = walk->strProblem;
            return comparison;
        }
    }

    // The second image's modules of each kind, in order: the n-th module of a kind in the first image
    // is matched with the n-th of that kind there.
    std::map<ModuleKind, std::vector<std::size_t>> byKind;
    for (std::size_t i = 0; i < walkB.modules.size(); ++i)
        byKind[ModuleKindOf(walkB.modules[i].header)].push_back(i);
    std::map<ModuleKind, std::size_t> nTaken;
    std::vector<bool> matched(walkB.modules.size(), false);
    for (const ModuleInfo& module : walkA.modules)
    {
        ModuleComparison pair;
        pair.kind = ModuleKindOf(module.header);
        pair.first = SideOf(module);
        const std::vector<std::size_t>& candidates = byKind[pair.kind];
        std::size_t& n = nTaken[pair.kind];
        if (n < candidates.size())
        {
            pair.second = SideOf(walkB.modules[candidates[n]]);
            matched[candidates[n++]] = true;
        }
        comparison.modules.push_back(pair);
    }
    for (std::size_t i = 0; i < walkB.modules.size(); ++i)
    {
        if (matched[i])
            continue;
        ModuleComparison alone;
        alone.kind = ModuleKindOf(walkB.modules[i].header);
        alone.second = SideOf(walkB.modules[i]);
        comparison.modules.push_back(alone);
    }

    for (ModuleComparison& pair : comparison.modules)
    {
        if (pair.HasCounterpart() && !CompareModulePair(first, second, pair, false, comparison.strError))
            break;
    }
    first.Rewind();
    second.Rewind();
    return comparison;
}

std::string DescribeModuleResult(const ModuleComparison& module, bool bHeadersCount)
{
    if (!module.second)
        return "only in A";
    if (!module.first)
        return "only in B";
    if (!module.DataEqual())
        return "differs at offset " + std::to_string(module.nFirstDifference) + " (" +
               Plural(module.nDifferingBytes, "byte") + ")" + (module.bHeaderEqual ? "" : ", header block differs");
    if (module.bHeaderEqual)
        return "equal";
    return bHeadersCount ? "header block differs" : "equal, header block differs";
}

std::string DescribeComparison(const ImageComparison& comparison)
{
    if (!comparison.strError.empty())
        return "incomplete: " + comparison.strError;
    if (comparison.Same())
        return "same data";
    return "different: " + std::to_string(comparison.DifferingModules()) + " of " +
           Plural(comparison.modules.size(), "module");
}

CompareImageLoad LoadImageToCompare(const std::string& strPath, CImageFile& image, bool bStb,
                                    std::vector<std::uint8_t>* pBytes)
{
    CompareImageLoad result;
    result.bStb = bStb || (!pBytes && IsStbPath(strPath));
    std::size_t nModules = 0;
    if (!pBytes && !result.bStb)
    {
        // A BIN file: the download's own loader, which reads it from disk and checks its modules.
        const ImageLoadResult loaded = LoadImage(strPath, image);
        result.error = loaded.error;
        nModules = std::size_t(loaded.nModules);
    }
    else
    {
        std::vector<std::uint8_t> bytes;
        if (result.bStb)
        {
            StbDecodeResult decoded = pBytes ? DecodeStb(*pBytes) : DecodeStbFile(strPath);
            if (!decoded.ok())
            {
                result.error = strPath + ": " + decoded.error;
                if (!decoded.detail.empty())
                    result.error += " (" + decoded.detail + ")";
                return result;
            }
            bytes = std::move(decoded.image);
        }
        else
        {
            bytes = std::move(*pBytes);
        }
        if (!image.Assign(std::move(bytes)))
            result.error = strPath + ": " + image.GetErrorText();
        const ModuleWalk walk = WalkImageModules(image, false);
        if (result.ok() && !walk.IsComplete())
            result.error = strPath + ": " + walk.strProblem;
        nModules = walk.modules.size();
    }
    if (result.ok() && nModules == 0)
        result.error = strPath + ": the image holds no module";
    if (!result.ok())
        image.Close();
    return result;
}
