#include "TestSupport.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport
{
std::string MakeTempDir()
{
    std::string pattern = "/tmp/kavdm-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}
} // namespace testsupport
