#include "cli/StandardOutput.h"

#include "cli/Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unistd.h>

int FinishStandardOutput(int code, const std::string& who)
{
    // std::cout writes through stdout's buffer (synchronised with stdio): one flush of that buffer
    // writes both and leaves the reason in errno.
    int error = 0;
    if (std::fflush(stdout) != 0)
        error = errno;
    else if (std::ferror(stdout))
        error = EIO; // an earlier write failed; its reason is gone
    // The descriptor is closed here rather than at exit, where a failure
    // could no longer change the exit status. The stream stays open with
    // nothing buffered, so the flush at exit writes nothing.
    if (::close(STDOUT_FILENO) != 0 && error == 0 && errno != EINTR)
        error = errno;
    // A command that failed has said why already (its own write may have been the failure).
    if (error == 0 || code != kExitOk)
        return code;
    std::cerr << "kavdm " << who << ": cannot write standard output: " << std::strerror(error) << '\n';
    return kExitFailed;
}
