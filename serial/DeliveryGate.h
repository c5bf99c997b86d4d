// Where a port's monitor thread runs its deliveries. Without a gate the monitor
// thread calls the owner itself. With one, it hands the delivery to the gate and
// waits until the delivery has run, so that bytes arriving meanwhile stay in the
// port's ring and the driver (a modal box raised by a protocol step holds them
// there, and a Purge after it drops them as it should).
#pragma once

#include <functional>

class CDeliveryGate
{
public:
    virtual ~CDeliveryGate() = default;
    // Runs `delivery` (on the gate's thread) and returns once it has run or has
    // been dropped because the gate is shutting down.
    virtual void RunDelivery(const std::function<void()>& delivery) = 0;
};
