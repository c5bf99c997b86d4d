// STB coding: round trips, the stream's fixed layout, and every way a stream can fail.
#include "image/Decoder.h"
#include "image/Encoder.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace
{
std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& byte : bytes)
        byte = std::uint8_t(random());
    return bytes;
}

void ExpectRoundTrip(const std::vector<std::uint8_t>& image)
{
    const StbEncodeResult encoded = EncodeStb(image);
    ASSERT_TRUE(encoded.ok()) << encoded.error;
    const StbDecodeResult decoded = DecodeStb(encoded.stream);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    ASSERT_EQ(decoded.image.size(), image.size());
    EXPECT_TRUE(decoded.image == image);
}

// The decoder as the format defines it: one byte fetched whenever a bit is needed, -1 past the
// end, the 15th such fetch an error, the interval rescaled one bit at a time.
struct LiteralDecoder
{
    const std::vector<std::uint8_t>& stream;
    std::size_t next = 0;
    int buffer = 0, bits_left = 0, eof_fetches = 0;
    int low = 0, high = 0xFFFF, value = 0;
    bool failed = false;

    explicit LiteralDecoder(const std::vector<std::uint8_t>& bytes) : stream(bytes)
    {
        for (int i = 0; i < 16; ++i)
            value = 2 * value + bit();
    }
    int bit()
    {
        if (bits_left == 0)
        {
            if (next < stream.size())
                buffer = stream[next++];
            else
            {
                buffer = -1;
                if (++eof_fetches > 14)
                    failed = true;
            }
            bits_left = 8;
        }
        const int b = buffer & 1;
        buffer >>= 1;
        --bits_left;
        return b;
    }
    void normalize()
    {
        for (;;)
        {
            if (high < 0x8000)
            {
            }
            else if (low >= 0x8000)
            {
                low -= 0x8000;
                high -= 0x8000;
                value -= 0x8000;
            }
            else if (low >= 0x4000 && high < 0xC000)
            {
                low -= 0x4000;
                high -= 0x4000;
                value -= 0x4000;
            }
            else
                break;
            low = 2 * low;
            high = 2 * high + 1;
            value = 2 * value + bit();
        }
    }
    int decode(Adaptive_Model& model)
    {
        const int symbol = model.select(value, low, high);
        normalize();
        return failed ? -1 : symbol;
    }
    int decode_bits(int k)
    {
        const int range = high - low + 1;
        const int r = (((value - low + 1) << k) - 1) / range;
        high = ((r * range + range) >> k) + low - 1;
        low = low + ((r * range) >> k);
        normalize();
        return failed ? -1 : r;
    }
};

std::uint8_t Reversed(std::uint8_t b)
{
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        r = std::uint8_t(r | (((b >> i) & 1) << (7 - i)));
    return r;
}
} // namespace

TEST(StbCodec, RoundTripsAreBitExact)
{
    ExpectRoundTrip({});
    ExpectRoundTrip({0x00});
    ExpectRoundTrip({0xFF});
    ExpectRoundTrip(RandomBytes(260, 1));
    ExpectRoundTrip(RandomBytes(1 << 20, 2));
    ExpectRoundTrip(MakeMachineCodeLikeBytes(300000, 3));
    ExpectRoundTrip(MakeDemoMixedImage());
}

TEST(StbCodec, LongRunsForceManyRescalingsAndStillRoundTrip)
{
    // 200000 equal bytes halve the model of that byte about 50 times; the change of symbol in
    // the middle then has to climb past a very skewed distribution.
    std::vector<std::uint8_t> image(200000, 0x00);
    image.insert(image.end(), 100000, 0xFF);
    for (int i = 0; i < 50000; ++i)
        image.push_back(std::uint8_t(i % 3 == 0 ? 0x55 : 0xAA));
    ExpectRoundTrip(image);
    // Highly skewed models code far below a bit per byte.
    EXPECT_LT(EncodeStb(image).stream.size(), image.size() / 25);
}

TEST(StbCodec, LengthPrefixIsFourBitReversedBytesMostSignificantFirst)
{
    // 0x00 0x00 0x80 0x20: 0x80 reversed is 0x01 and 0x20 reversed is 0x04, so L = 0x0104 = 260.
    const std::vector<std::uint8_t> image = RandomBytes(260, 7);
    const StbEncodeResult encoded = EncodeStb(image);
    ASSERT_GE(encoded.stream.size(), 4u);
    EXPECT_EQ(encoded.stream[0], 0x00);
    EXPECT_EQ(encoded.stream[1], 0x00);
    EXPECT_EQ(encoded.stream[2], 0x80);
    EXPECT_EQ(encoded.stream[3], 0x20);

    const std::uint32_t length = 0x12345678;
    std::vector<std::uint8_t> stream = {Reversed(0x12), Reversed(0x34), Reversed(0x56), Reversed(0x78)};
    Decoder decoder;
    decoder.open(stream.data(), stream.size());
    std::uint32_t decoded = 0;
    for (int i = 0; i < 4; ++i)
        decoded = (decoded << 8) | std::uint32_t(decoder.decode_bits(8));
    EXPECT_EQ(decoded, length);
    EXPECT_EQ(decoder.error(), nullptr);
}

TEST(StbCodec, EmptyImageIsJustThePrefixAndDecodesEmpty)
{
    const StbEncodeResult encoded = EncodeStb({});
    ASSERT_TRUE(encoded.ok());
    const StbDecodeResult decoded = DecodeStb(encoded.stream);
    EXPECT_TRUE(decoded.ok());
    EXPECT_TRUE(decoded.image.empty());
    // Four zero bytes state L = 0 on their own.
    const std::vector<std::uint8_t> zeros(4, 0);
    EXPECT_TRUE(DecodeStb(zeros).ok());
}

TEST(StbCodec, DecoderMatchesTheBitByBitDefinitionOnArbitraryStreams)
{
    // Any bytes are a stream: both decoders must agree symbol for symbol, and fail at the same one.
    std::mt19937 random(4242);
    for (int trial = 0; trial < 300; ++trial)
    {
        std::vector<std::uint8_t> stream = RandomBytes(1 + random() % 600, unsigned(trial));
        if (trial % 3 == 0)
            stream = EncodeStb(MakeMachineCodeLikeBytes(random() % 3000, trial)).stream; // valid ones too
        if (trial % 3 == 1)
            stream.resize(1 + random() % stream.size()); // and cut short
        Decoder fast;
        fast.open(stream.data(), stream.size());
        LiteralDecoder literal(stream);
        Adaptive_Model fastModels[256], literalModels[256];
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(fast.decode_bits(8), literal.decode_bits(8)) << trial;
        int fastContext = kFirstContext, literalContext = kFirstContext;
        for (int i = 0; i < 5000; ++i)
        {
            const int a = fast.decode(fastModels[fastContext]);
            const int b = literal.decode(literalModels[literalContext]);
            ASSERT_EQ(a, b) << "trial " << trial << " symbol " << i;
            if (a < 0)
                break;
            fastContext = a;
            literalContext = b;
        }
        EXPECT_EQ(std::min(fast.end_of_file_fetches(), 15), std::min(literal.eof_fetches, 15)) << trial;
    }
}

TEST(StbCodec, TruncatedStreamFailsWithPastEndMessage)
{
    const auto image = RandomBytes(5000, 9);
    auto stream = EncodeStb(image).stream;
    // Random bytes barely compress: cutting 100 bytes leaves 800 bits undecodable, far past the
    // 14 all-ones fetches the decoder allows.
    stream.erase(stream.end() - 100, stream.end());
    const StbDecodeResult decoded = DecodeStb(stream);
    EXPECT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error, kDecoderPastEnd);
    EXPECT_TRUE(decoded.image.empty());
}

TEST(StbCodec, EncoderOutputNeedsOnlyAFewFetchesPastItsEnd)
{
    for (std::size_t n : {0u, 1u, 2u, 100u, 4097u})
    {
        const auto image = MakeMachineCodeLikeBytes(n, n);
        const auto stream = EncodeStb(image).stream;
        Decoder decoder;
        decoder.open(stream.data(), stream.size());
        Adaptive_Model models[256];
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length = (length << 8) | std::uint32_t(decoder.decode_bits(8));
        ASSERT_EQ(length, n);
        int context = kFirstContext;
        for (std::size_t i = 0; i < n; ++i)
            context = decoder.decode(models[context]);
        EXPECT_EQ(decoder.error(), nullptr);
        EXPECT_LE(decoder.end_of_file_fetches(), 2) << n;
    }
}

TEST(StbCodec, FetchesPastTheEndAreAllOnesUpToFourteen)
{
    // An image of 0xFF bytes coded with trailing bytes dropped: what is dropped reads back as
    // 1 bits, so a stream may lean on up to 14 end-of-file bytes and still decode.
    std::vector<std::uint8_t> stream = {0x00, 0x00, 0x00, Reversed(3)}; // L = 3
    Decoder decoder;
    decoder.open(stream.data(), stream.size());
    for (int i = 0; i < 4; ++i)
        decoder.decode_bits(8);
    Adaptive_Model models[256];
    int symbols[3];
    int context = kFirstContext;
    for (int& symbol : symbols)
        context = symbol = decoder.decode(models[context]);
    EXPECT_EQ(decoder.error(), nullptr);
    EXPECT_GE(symbols[0], 0);
    // The same four bytes decode identically through the whole-stream entry point.
    const StbDecodeResult decoded = DecodeStb(stream);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    ASSERT_EQ(decoded.image.size(), 3u);
    EXPECT_EQ(decoded.image[0], symbols[0]);

    // With nothing at all, 16 bits of ones: every flat value is 255, so L = 0xFFFFFFFF.
    Decoder empty;
    empty.open(nullptr, 0);
    EXPECT_EQ(empty.end_of_file_fetches(), 2); // the first 16 code bits
    EXPECT_EQ(empty.decode_bits(8), 255);
    EXPECT_EQ(empty.end_of_file_fetches(), 3); // each flat value shifts in 8 more bits: one fetch
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(empty.decode_bits(8), 255);
    EXPECT_EQ(empty.end_of_file_fetches(), 14);
    EXPECT_EQ(empty.error(), nullptr);
    EXPECT_EQ(empty.decode_bits(8), -1); // the 15th fetch
    EXPECT_STREQ(empty.error(), kDecoderPastEnd);
    Adaptive_Model model;
    EXPECT_EQ(empty.decode(model), -1); // and it stays failed
}

TEST(StbCodec, StatedLengthOverTheCapIsRefusedWithoutAllocating)
{
    // 0x7FFFFFFF and 0xFFFFFFFF (negative when read as a signed length) from four bytes.
    for (std::uint32_t length : {kMaxStbImageBytes + 1, 0x7FFFFFFFu, 0xFFFFFFFFu})
    {
        std::vector<std::uint8_t> stream;
        for (int shift = 24; shift >= 0; shift -= 8)
            stream.push_back(Reversed(std::uint8_t(length >> shift)));
        const StbDecodeResult decoded = DecodeStb(stream);
        EXPECT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error, StbLengthTooLargeMessage(length));
        EXPECT_NE(decoded.error.find("256 MiB"), std::string::npos);
    }
    // A stated length within the cap but far beyond the stream ends at the stream's end,
    // having held only what it decoded.
    std::vector<std::uint8_t> stream = {0x00, Reversed(0x10), 0x00, 0x00, 0x12, 0x34};
    const StbDecodeResult decoded = DecodeStb(stream);
    EXPECT_EQ(decoded.error, kDecoderPastEnd);
}

TEST(StbCodec, EncoderRefusesImagesOverTheCap)
{
    // A span that claims more than the cap is refused before a byte is read.
    const std::uint8_t byte = 0;
    const std::span<const std::uint8_t> huge(&byte, std::size_t(kMaxStbImageBytes) + 1);
    const StbEncodeResult encoded = EncodeStb(huge);
    EXPECT_FALSE(encoded.ok());
    EXPECT_TRUE(encoded.stream.empty());
}

TEST(StbCodec, FirstByteUsesContext0x80AndTheNextTheFirstBytesModel)
{
    // Coding "A" then "B" with hand-made models must match the codec's stream.
    std::vector<std::uint8_t> stream;
    Encoder encoder(stream);
    Adaptive_Model models[256];
    for (int shift = 24; shift >= 0; shift -= 8)
        encoder.encode_bits((2 >> shift) & 0xFF, 8);
    encoder.encode(models[0x80], 'A');
    encoder.encode(models['A'], 'B');
    encoder.flush();
    EXPECT_EQ(stream, EncodeStb(std::vector<std::uint8_t>{'A', 'B'}).stream);
    // Coded in other contexts, the same bytes give another stream.
    std::vector<std::uint8_t> other;
    Encoder wrong(other);
    Adaptive_Model fresh[2];
    for (int shift = 24; shift >= 0; shift -= 8)
        wrong.encode_bits((2 >> shift) & 0xFF, 8);
    wrong.encode(fresh[0], 'A');
    wrong.encode(fresh[0], 'B');
    wrong.flush();
    EXPECT_NE(other, stream);
}

TEST(StbCodec, FilesDecodeAndMissingFileIsReported)
{
    const std::string dir = testsupport::MakeTempDir();
    const std::string path = dir + "/image.stb";
    const auto image = MakeMachineCodeLikeBytes(200000, 5); // larger than one read chunk of the file
    const auto stream = EncodeStb(image).stream;
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    }
    const StbDecodeResult decoded = DecodeStbFile(path);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_TRUE(decoded.image == image);

    const StbDecodeResult missing = DecodeStbFile(dir + "/absent.stb");
    EXPECT_EQ(missing.error, kDecoderCannotRead);
    EXPECT_EQ(missing.detail, "No such file or directory");
    std::filesystem::remove_all(dir);
}

TEST(StbCodec, CorruptStreamsFailCleanlyOrDecodeWithoutOverrun)
{
    // Flipped bits in a valid stream must give an error or some bytes of the stated length,
    // never a crash or a hang.
    const auto image = MakeMachineCodeLikeBytes(20000, 8);
    const auto stream = EncodeStb(image).stream;
    std::mt19937 random(99);
    for (int trial = 0; trial < 200; ++trial)
    {
        auto corrupt = stream;
        const std::size_t at = 4 + random() % (corrupt.size() - 4);
        corrupt[at] ^= std::uint8_t(1u << (random() % 8));
        const StbDecodeResult decoded = DecodeStb(corrupt);
        if (decoded.ok())
            EXPECT_EQ(decoded.image.size(), image.size());
        else
            EXPECT_TRUE(decoded.error == kDecoderPastEnd || decoded.error == kModelInvalidValue) << decoded.error;
    }
}
