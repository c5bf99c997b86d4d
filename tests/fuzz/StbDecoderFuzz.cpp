// libFuzzer: arbitrary bytes as an STB stream.
#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzbodies::StbDecoderInput({data, size});
    return 0;
}
