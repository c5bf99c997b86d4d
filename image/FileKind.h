// What stands at a path when it is not a regular file, in words for messages:
// "a FIFO (named pipe)", "a character device", ... Reading or replacing such a
// file as if it were a regular one goes wrong quietly (a pipe has no size, a
// FIFO blocks its opener, a rename swaps a device node for a plain file).
#pragma once

#include <string>
#include <sys/types.h>

// The kind of a file that is not a regular one, by its mode: "a folder", "a
// character device", "a block device", "a FIFO (named pipe)", "a socket".
std::string FileKindText(mode_t mode);

// "" when `path` is a regular file or a folder (at the end of symbolic links),
// or cannot be examined (left to whoever opens it); otherwise its kind, as
// FileKindText says it. Never opens the file, so a FIFO does not block.
std::string NonRegularFileKind(const std::string& path);
