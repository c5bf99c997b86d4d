// The host-name lookup of a network line, bounded by the line's connect
// deadline: a name server that does not answer cannot hold the port's opener
// (the protocol thread) for the resolver's own time-outs, which may be
// minutes.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <vector>

struct addrinfo;

// One address to connect to, copied out of the resolver's list.
struct ResolvedAddress
{
    int family = 0;
    int socketType = 0;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
};

struct HostLookupResult
{
    std::vector<ResolvedAddress> addresses;
    int failure = 0;        // 0, or the resolver's EAI_ code
    int systemError = 0;    // errno for EAI_SYSTEM
    bool bTimedOut = false; // the deadline came first; the lookup goes on alone and its result is dropped
};

// getaddrinfo() by default; tests put a slow or failing one in its place.
using AddressResolver = std::function<int(const char* host, const char* port, const addrinfo* hints, addrinfo** list)>;

// Looks up `host` and `port` for a TCP connection on a thread of its own and
// waits for it until `deadline`.
HostLookupResult LookUpHost(const std::string& host, const std::string& port,
                            std::chrono::steady_clock::time_point deadline, AddressResolver resolver = {});
