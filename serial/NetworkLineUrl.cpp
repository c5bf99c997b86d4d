#include "serial/NetworkLineUrl.h"

#include <string_view>

namespace
{
constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kRawTcpScheme = "tcp://";
} // namespace

bool IsNetworkLineUrl(const std::string& name)
{
    return name.starts_with(kRfc2217Scheme) || name.starts_with(kRawTcpScheme);
}

bool ParseNetworkLineUrl(const std::string& name, NetworkLineUrl& url, std::string& error)
{
    const bool rfc2217 = name.starts_with(kRfc2217Scheme);
    if (!rfc2217 && !name.starts_with(kRawTcpScheme))
    {
        error = "not a network line: \"" + name + "\" (use rfc2217://HOST:PORT or tcp://HOST:PORT)";
        return false;
    }
    url.kind = rfc2217 ? NetworkLineUrl::Kind::Rfc2217 : NetworkLineUrl::Kind::RawTcp;
    url.text = name;
    std::string_view rest(name);
    rest.remove_prefix(rfc2217 ? kRfc2217Scheme.size() : kRawTcpScheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view host;
    std::string_view port;
    if (rest.starts_with('['))
    {
        const auto close = rest.find(']');
        if (close != std::string_view::npos && close + 1 < rest.size() && rest[close + 1] == ':')
        {
            host = rest.substr(1, close - 1);
            port = rest.substr(close + 2);
        }
    }
    else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos)
    {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    const bool portValid = !port.empty() && port.size() <= 5 &&
                           port.find_first_not_of("0123456789") == std::string_view::npos &&
                           std::stoi(std::string(port)) >= 1 && std::stoi(std::string(port)) <= 65535;
    if (host.empty() || host.find_first_of("/@ ") != std::string_view::npos || !portValid)
    {
        error = "malformed network line \"" + name + "\" (expected " +
                std::string(rfc2217 ? kRfc2217Scheme : kRawTcpScheme) + "HOST:PORT, PORT 1 to 65535)";
        return false;
    }
    url.host = std::string(host);
    url.port = std::string(port);
    return true;
}
