// Helpers shared by the tests.
#pragma once

#include <string>

namespace testsupport
{
// A fresh empty folder under the system's temporary folder, removed by the caller.
std::string MakeTempDir();
} // namespace testsupport
