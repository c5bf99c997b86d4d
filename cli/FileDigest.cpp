#include "cli/FileDigest.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

std::optional<FileDigest> DigestFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    FileDigest digest;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> buffer(1 << 16);
    for (;;)
    {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
        {
            ::close(fd);
            return std::nullopt;
        }
        crc = crc32(crc, buffer.data(), uInt(count));
        digest.size += std::uint64_t(count);
    }
    ::close(fd);
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc & 0xFFFFFFFFul));
    digest.crc32 = text;
    return digest;
}

nlohmann::ordered_json DigestFields(const std::string& path)
{
    nlohmann::ordered_json fields = {{"path", path}};
    if (const auto digest = path.empty() ? std::nullopt : DigestFile(path))
    {
        fields["size"] = digest->size;
        fields["crc32"] = digest->crc32;
    }
    return fields;
}
