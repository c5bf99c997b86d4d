#include "image/StbCodec.h"

#include "image/AdaptiveModel.h"
#include "image/Decoder.h"
#include "image/Encoder.h"

#include <algorithm>
#include <memory>
#include <new>

namespace
{
constexpr int kContexts = 256;
constexpr std::size_t kFirstOutputChunk = 64 * 1024;

std::unique_ptr<Adaptive_Model[]> MakeModels()
{
    // The constructor defines each model with 256 symbols.
    return std::make_unique<Adaptive_Model[]>(kContexts);
}

StbDecodeResult Failure(const std::string& message, const std::string& detail = {})
{
    StbDecodeResult result;
    result.error = message;
    result.detail = detail;
    return result;
}

StbDecodeResult DecodeOpened(Decoder& decoder)
{
    if (decoder.error())
        return Failure(decoder.error(), decoder.system_reason());
    std::unique_ptr<Adaptive_Model[]> models;
    try
    {
        models = MakeModels();
    }
    catch (const std::bad_alloc&)
    {
        return Failure(kModelInsufficientMemory);
    }

    std::uint32_t nLength = 0;
    for (int i = 0; i < 4; ++i)
    {
        const int part = decoder.decode_bits(8);
        if (part < 0)
            return Failure(decoder.error(), decoder.system_reason());
        nLength = (nLength << 8) | std::uint32_t(part);
    }
    if (nLength > kMaxStbImageBytes)
        return Failure(StbLengthTooLargeMessage(nLength));

    StbDecodeResult result;
    try
    {
        std::vector<std::uint8_t>& image = result.image;
        std::size_t nDone = 0;
        int context = kFirstContext;
        while (nDone < nLength)
        {
            // Grow by doubling as the bytes arrive, so a corrupt prefix costs no more than what
            // the stream really decodes to.
            const std::size_t nChunk = std::min<std::size_t>(nLength - nDone, std::max(nDone, kFirstOutputChunk));
            image.resize(nDone + nChunk);
            std::uint8_t* out = image.data();
            const std::size_t nEnd = nDone + nChunk;
            for (; nDone < nEnd; ++nDone)
            {
                const int symbol = decoder.decode(models[context]);
                if (symbol < 0)
                    return Failure(decoder.error(), decoder.system_reason());
                out[nDone] = std::uint8_t(symbol);
                context = symbol;
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return Failure(kMemoryAssignError);
    }
    return result;
}
} // namespace

std::string StbLengthTooLargeMessage(std::uint64_t nLength)
{
    return "STB image too large: the stream states " + std::to_string(nLength) + " bytes, the limit is " +
           std::to_string(kMaxStbImageBytes) + " bytes (256 MiB)";
}

StbDecodeResult DecodeStbFile(const std::string& strPath)
{
    Decoder decoder;
    decoder.open(strPath);
    return DecodeOpened(decoder);
}

StbDecodeResult DecodeStb(std::span<const std::uint8_t> stream)
{
    Decoder decoder;
    decoder.open(stream.data(), stream.size());
    return DecodeOpened(decoder);
}

StbEncodeResult EncodeStb(std::span<const std::uint8_t> image)
{
    StbEncodeResult result;
    if (image.size() > kMaxStbImageBytes)
    {
        result.error = StbLengthTooLargeMessage(image.size());
        return result;
    }
    try
    {
        auto models = MakeModels();
        // Arithmetic coding rarely expands; reserve for a modest gain plus the prefix.
        result.stream.reserve(image.size() / 2 + 16);
        Encoder encoder(result.stream);
        const auto nLength = std::uint32_t(image.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            encoder.encode_bits(int((nLength >> shift) & 0xFF), 8);
        int context = kFirstContext;
        for (const std::uint8_t byte : image)
        {
            encoder.encode(models[context], byte);
            context = byte;
        }
        encoder.flush();
    }
    catch (const std::bad_alloc&)
    {
        result.stream.clear();
        result.error = kMemoryAssignError;
    }
    return result;
}
