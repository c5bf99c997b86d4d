// Where a port's monitor thread runs its deliveries. Without a gate the monitor
// thread calls the owner itself. With one, it hands the delivery to the gate and
// reads no more until the delivery has run, so that bytes arriving meanwhile
// stay in the port's ring and the driver (a modal box raised by a protocol step
// holds them there, and a Purge after it drops them as it should).
#pragma once

#include <functional>

// A delivery handed over without waiting for it: the gate calls Run() once on
// its thread, or Dropped() when it shuts down first. The object stays valid
// until then.
class CPostedDelivery
{
public:
    virtual ~CPostedDelivery() = default;
    virtual void Run() = 0;
    virtual void Dropped() = 0;
};

class CDeliveryGate
{
public:
    virtual ~CDeliveryGate() = default;
    // Runs `delivery` (on the gate's thread) and returns once it has run or has
    // been dropped because the gate is shutting down.
    virtual void RunDelivery(const std::function<void()>& delivery) = 0;
    // Queues `delivery` and returns at once. By default it runs through
    // RunDelivery, i.e. before this returns.
    virtual void PostDelivery(CPostedDelivery& delivery)
    {
        RunDelivery([&delivery] { delivery.Run(); });
    }
};
