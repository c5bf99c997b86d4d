// Helpers shared by the tests.
#pragma once

#include <string>

namespace testsupport
{
// A fresh empty folder under the system's temporary folder, removed by the caller.
std::string MakeTempDir();
// The last line of `text` that is not empty ("" when there is none).
std::string LastLine(const std::string& text);
} // namespace testsupport
