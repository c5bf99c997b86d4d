// A network line's host-name lookup waits no longer than the line's deadline.
#include "serial/HostLookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <netdb.h>
#include <thread>

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

TEST(HostLookupTest, ASilentNameServerCannotHoldTheCallerPastTheDeadline)
{
    const auto silent = [](const char*, const char*, const addrinfo*, addrinfo**) {
        std::this_thread::sleep_for(2s);
        return EAI_AGAIN;
    };
    const auto start = SteadyClock::now();
    const HostLookupResult timedOut = LookUpHost("receiver.example", "2000", start + 100ms, silent);
    EXPECT_TRUE(timedOut.bTimedOut);
    EXPECT_TRUE(timedOut.addresses.empty());
    EXPECT_LT(SteadyClock::now() - start, 1s);

    const auto unknown = [](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; };
    const HostLookupResult failed = LookUpHost("nowhere", "2000", SteadyClock::now() + 1s, unknown);
    EXPECT_FALSE(failed.bTimedOut);
    EXPECT_EQ(failed.failure, EAI_NONAME);

    const HostLookupResult local = LookUpHost("127.0.0.1", "2000", SteadyClock::now() + 4s);
    ASSERT_EQ(local.failure, 0);
    ASSERT_FALSE(local.addresses.empty());
    EXPECT_EQ(local.addresses[0].family, AF_INET);
}
