// libFuzzer: images built from arbitrary bytes, scanned and walked from disk and from memory.
#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzbodies::ImageScanInput({data, size});
    return 0;
}
