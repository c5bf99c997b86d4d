// What each fuzz target does with one input, shared with the unit test that
// replays the inputs kept in tests/fuzz/regressions/. Each body aborts on a
// broken property, so a fuzzer reports it as a crash.
#pragma once

#include "image/ImageFile.h"
#include "image/ImageScan.h"
#include "image/ModuleKind.h"
#include "image/ModuleWalk.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace fuzzbodies
{
inline void Require(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "fuzz property broken: %s\n", what);
        std::abort();
    }
}

// Any bytes as an STB stream: decoding ends with bytes or an error, and whatever decodes
// re-encodes into a stream that decodes to the same bytes.
inline void StbDecoderInput(std::span<const std::uint8_t> input)
{
    const StbDecodeResult decoded = DecodeStb(input);
    if (!decoded.ok())
    {
        Require(decoded.image.empty(), "a failed decode returns no bytes");
        return;
    }
    const StbEncodeResult encoded = EncodeStb(decoded.image);
    Require(encoded.ok(), "decoded bytes encode");
    const StbDecodeResult again = DecodeStb(encoded.stream);
    Require(again.ok() && again.image == decoded.image, "re-encoded bytes decode to themselves");
    // And the input itself, taken as an image, round-trips.
    const StbDecodeResult direct = DecodeStb(EncodeStb(input).stream);
    Require(direct.ok() && std::equal(direct.image.begin(), direct.image.end(), input.begin(), input.end()),
            "input round-trips as an image");
}

// Builds an image from the input: with a leading 0 byte, the rest as raw image bytes; otherwise
// each 3-byte group describes a module (firmware, digital and flash bytes; small firmware length)
// and whatever is left over follows as trailing bytes.
inline std::vector<std::uint8_t> ImageFromInput(std::span<const std::uint8_t> input)
{
    if (input.empty() || input[0] == 0)
        return std::vector<std::uint8_t>(input.begin() + (input.empty() ? 0 : 1), input.end());
    std::vector<std::uint8_t> image;
    std::size_t i = 1;
    for (int modules = 0; i + 3 <= input.size() && modules < 24; i += 3, ++modules)
    {
        ModuleHeader header = InitialModuleHeader();
        const bool firmware = (input[i] & 0x80) != 0;
        header.bytes[31] = firmware ? 1 : 0;
        header.bytes[32] = input[i + 1];
        header.bytes[33] = input[i + 2];
        if (firmware)
            header.setProgramLength(std::uint32_t(input[i] & 0x7F) * 97);
        const std::uint32_t length = std::uint32_t(ModuleDataLength(header));
        AppendModule(image, header, std::vector<std::uint8_t>(length, std::uint8_t(input[i] * 31)));
    }
    image.insert(image.end(), input.begin() + long(i), input.end());
    return image;
}

// An image from disk and the same bytes in memory scan and walk alike; neither hangs.
inline void ImageScanInput(std::span<const std::uint8_t> input)
{
    const std::vector<std::uint8_t> bytes = ImageFromInput(input);
    CImageFile memory;
    Require(memory.Assign(std::vector<std::uint8_t>(bytes)) == 1, "memory image");

    const int fd = memfd_create("kavdm-fuzz-image", 0);
    Require(fd >= 0, "memfd");
    for (std::size_t done = 0; done < bytes.size();)
    {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        Require(n > 0, "memfd write");
        done += std::size_t(n);
    }
    CImageFile disk;
    Require(disk.OpenFile("/proc/self/fd/" + std::to_string(fd)) != 0, "disk image");

    const ImageScanResult fromMemory = ScanImageForDownload(memory);
    const ImageScanResult fromDisk = ScanImageForDownload(disk);
    Require(fromMemory.nModuleKinds == fromDisk.nModuleKinds, "scan kinds agree");
    Require(fromMemory.nTotalBytes == fromDisk.nTotalBytes, "scan totals agree");
    Require((fromMemory.nFunctionCode == 0) == (fromMemory.nModuleKinds == 0), "code follows kinds");

    const ModuleWalk walkMemory = WalkImageModules(memory, true);
    const ModuleWalk walkDisk = WalkImageModules(disk, true);
    Require(walkMemory.modules.size() == walkDisk.modules.size(), "walks agree");
    Require(walkMemory.strProblem == walkDisk.strProblem, "walk findings agree");
    std::uint64_t end = 0;
    for (std::size_t m = 0; m < walkMemory.modules.size(); ++m)
    {
        Require(walkMemory.modules[m].nOffset == end, "modules are contiguous");
        Require(walkMemory.modules[m].nCrc == walkDisk.modules[m].nCrc, "CRCs agree");
        end += 64 + walkMemory.modules[m].nDataLength;
    }
    Require(walkMemory.IsComplete() == (end == bytes.size()), "complete exactly when the modules fill the image");
    close(fd);
}
} // namespace fuzzbodies
