// The end of a command that printed on standard output (`image`, `ports`):
// what is still buffered is written and the descriptor closed, so a failure
// there - a full disk, a closed pipe, a file system that reports at close - is
// the command's failure with the system's reason, never a silent exit 0.
#pragma once

#include <string>

// `code` when standard output took everything or the command failed anyway
// (and has said why); otherwise says why on stderr ("kavdm WHO: cannot write
// standard output: REASON") and returns 1.
int FinishStandardOutput(int code, const std::string& who);
