// Reading an image that has no size beforehand - standard input, a pipe
// (`<(cat fw.bin)`, /dev/fd/N), a FIFO, a character device - to its end, as
// a stream. At most kMaxStbImageBytes (256 MiB, the most an image may hold)
// are taken: a longer stream (/dev/zero) is refused rather than read forever.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads descriptor `fd` to its end into `bytes`. `name` names it in the
// message put in `error` on failure ("standard input", a path).
bool ReadImageStream(int fd, const std::string& name, std::vector<std::uint8_t>& bytes, std::string& error);

// Opens `path` without waiting (a FIFO opened for reading would wait for a
// writer right there) and reads it as above; the reading waits for a writer.
bool ReadImageStream(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);
