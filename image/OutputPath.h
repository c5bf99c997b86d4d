// Checks on the place a command is about to write a file to. Outputs are
// written beside their place and renamed over it, so whatever stands at that
// name is replaced: that must be a regular file, never a device node, a FIFO,
// a socket or a folder (as root, replacing /dev/null would destroy the node).
// A symbolic link is followed: the file it leads to is what gets replaced, in
// that file's own folder, and the link stays as it is.
//
// These look at a path only; a caller that takes "-" for standard output
// decides that before asking.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "" when a file may be written at `path`: nothing is there yet, or a regular
// file is (also at the end of symbolic links). Otherwise what stands there, as
// the end of a sentence that begins with the path: "is a FIFO (named pipe), not
// a regular file". A symbolic link that leads nowhere (to nothing, round a
// loop) is refused too. Other errors are left to the write, which reports
// them with the system's reason.
std::string NonRegularOutputReason(const std::string& path);

// The file a write to `path` replaces: the final target of a symbolic link,
// `path` itself otherwise (also when nothing is there yet).
std::string ResolveOutputPath(const std::string& path);

// True when both paths name one existing file (the same device and inode),
// whatever names, links or folders lead to it.
bool IsSameFile(const std::string& first, const std::string& second);

// Bytes an ordinary user may still write on the file system that holds the
// folder of `path`; nullopt when that cannot be told.
std::optional<std::uint64_t> FreeBytesBeside(const std::string& path);
