#include "cli/EventStream.h"

#include "cli/UtcTime.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

std::string EncodeEvent(const std::string& name, const nlohmann::ordered_json& fields,
                        std::chrono::system_clock::time_point time)
{
    nlohmann::ordered_json event = {{"v", kEventSchemaVersion}, {"event", name}, {"time", IsoUtcTime(time)}};
    for (const auto& [key, value] : fields.items())
        event[key] = value;
    return event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size())
    {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += std::size_t(count);
    }
    return true;
}

CEventStream::CEventStream(int fd) : m_writer(fd)
{
    std::signal(SIGPIPE, SIG_IGN);
}

void CEventStream::Emit(const std::string& name, const nlohmann::ordered_json& fields)
{
    m_writer.Write(EncodeEvent(name, fields, std::chrono::system_clock::now()));
}

void CEventStream::EmitLine(std::string line)
{
    m_writer.Write(std::move(line));
}

void CEventStream::Flush()
{
    m_writer.Flush(CAsyncWriter::kDrainTime);
}
