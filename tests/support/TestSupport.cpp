#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
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

std::vector<nlohmann::json> JsonLines(const std::string& output)
{
    std::vector<nlohmann::json> objects;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line.front() == '{')
        {
            objects.push_back(nlohmann::json::parse(line, nullptr, false));
            EXPECT_TRUE(objects.back().is_object()) << line;
        }
    return objects;
}

nlohmann::json FindEvent(const std::vector<nlohmann::json>& events, const std::string& name)
{
    for (const auto& event : events)
        if (event.is_object() && event.value("event", "") == name)
            return event;
    return nullptr;
}
} // namespace testsupport
