#include "serial/HostLookup.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <thread>

namespace
{
// What the lookup thread and the waiting caller share; the thread owns a
// reference too, so a caller that stopped waiting leaves it valid.
struct LookupState
{
    std::mutex mutex;
    std::condition_variable done;
    bool bDone = false;
    HostLookupResult result;
};

HostLookupResult Resolve(const std::string& host, const std::string& port, const AddressResolver& resolver)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    HostLookupResult result;
    result.failure = resolver ? resolver(host.c_str(), port.c_str(), &hints, &list)
                              : ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (result.failure == EAI_SYSTEM)
        result.systemError = errno;
    if (result.failure != 0)
        return result;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next)
    {
        ResolvedAddress address;
        address.family = entry->ai_family;
        address.socketType = entry->ai_socktype;
        address.protocol = entry->ai_protocol;
        address.length = std::min<socklen_t>(entry->ai_addrlen, sizeof address.address);
        std::memcpy(&address.address, entry->ai_addr, address.length);
        result.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    return result;
}
} // namespace

HostLookupResult LookUpHost(const std::string& host, const std::string& port,
                            std::chrono::steady_clock::time_point deadline, AddressResolver resolver)
{
    auto state = std::make_shared<LookupState>();
    try
    {
        std::thread([state, host, port, resolver = std::move(resolver)] {
            HostLookupResult result = Resolve(host, port, resolver);
            std::lock_guard lock(state->mutex);
            state->result = std::move(result);
            state->bDone = true;
            state->done.notify_all();
        }).detach();
    }
    catch (const std::system_error& error)
    {
        HostLookupResult result;
        result.failure = EAI_SYSTEM;
        result.systemError = error.code().value();
        return result;
    }
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_until(lock, deadline, [&] { return state->bDone; }))
    {
        HostLookupResult result;
        result.failure = EAI_AGAIN;
        result.bTimedOut = true;
        return result;
    }
    return std::move(state->result);
}
