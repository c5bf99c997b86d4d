#include "serial/SerialErrorHints.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace
{
constexpr const char* kGrabberNames[] = {"brltty", "ModemManager"};
} // namespace

std::vector<std::string> RunningAdapterGrabbers(const std::string& procRoot)
{
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, error))
    {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (!std::getline(comm, name))
            continue;
        for (const char* grabber : kGrabberNames)
        {
            if (name == grabber && std::find(found.begin(), found.end(), name) == found.end())
                found.push_back(name);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string SerialErrorHint(int error, const std::vector<std::string>& grabbers)
{
    switch (error)
    {
    case EACCES:
    case EPERM:
        return "permission denied: add your user to the dialout group "
               "(sudo usermod -aG dialout $USER, then log in again)";
    case EBUSY:
    case EWOULDBLOCK:
        return "busy: another program holds the port";
    case ENOTTY:
        return "the device is not a serial port";
    case EINVAL:
        return "the device does not accept these line settings";
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
    {
        std::string hint = error == EIO ? "the device stopped answering: check the cable or adapter"
                                        : "the device does not exist: check the cable or adapter, or map the "
                                          "port to another device (--comN PATH or KAVDM_COMn=PATH)";
        if (!grabbers.empty())
        {
            std::string names;
            for (const auto& name : grabbers)
                names += (names.empty() ? "" : " and ") + name;
            hint += "; " + names +
                    (grabbers.size() > 1
                         ? " are running and may take new USB serial adapters for themselves (stop or remove them)"
                         : " is running and may take new USB serial adapters for itself (stop or remove it)");
        }
        return hint;
    }
    default:
        return {};
    }
}

std::string SerialErrorHint(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return SerialErrorHint(error, RunningAdapterGrabbers());
    default:
        return SerialErrorHint(error, {});
    }
}

std::string NetworkLineErrorHint(int error)
{
    switch (error)
    {
    case ECONNREFUSED:
        return "nothing listens there: check that ser2net (or the serial device server) runs and serves that port";
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "check the host name or address, the network and any firewall between";
    case EPROTO:
    case EPROTONOSUPPORT:
        return "set the server's port up for RFC 2217 (ser2net: accepter telnet(rfc2217),tcp,PORT), or use tcp:// "
               "for a raw TCP port";
    case ECONNRESET:
        return "the server dropped the connection: another client may have taken the port over";
    default:
        return {};
    }
}
