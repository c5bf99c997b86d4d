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

std::string LastLine(const std::string& text)
{
    std::size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return {};
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}
} // namespace testsupport
