// Helpers shared by the tests.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace testsupport
{
// A fresh empty folder under the system's temporary folder, removed by the caller.
std::string MakeTempDir();
// The last line of `text` that is not empty ("" when there is none).
std::string LastLine(const std::string& text);
// The JSON objects among a command's output lines (those opening with '{'; the
// others are its messages), in order; a line that does not parse is a failure.
std::vector<nlohmann::json> JsonLines(const std::string& output);
// The first of `events` named `name`, or null.
nlohmann::json FindEvent(const std::vector<nlohmann::json>& events, const std::string& name);
} // namespace testsupport
