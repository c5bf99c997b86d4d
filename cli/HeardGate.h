// The gate between the port's monitor and the protocol thread as `kavdm` runs
// it: it passes every delivery on unchanged - run or posted, as the monitor
// hands it over - and notes when the receiver was last heard, for --wait. The
// time is stamped as a delivery arrives, and as its step starts and ends on the
// protocol thread, so the page's own pauses inside a step never count as the
// receiver's silence.
#pragma once

#include "serial/DeliveryGate.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

class CHeardGate : public CDeliveryGate
{
public:
    explicit CHeardGate(CDeliveryGate& next) : m_next(next) {}

    void RunDelivery(const std::function<void()>& delivery) override;
    // Posted deliveries stay posted: the monitor goes on without waiting, as it
    // does with the protocol thread itself.
    void PostDelivery(CPostedDelivery& delivery) override;

    void Stamp();
    // Seconds since the receiver was last heard (or since Stamp()).
    double SilentSeconds() const;

private:
    // Stamps around a posted delivery; one per delivery object, reused.
    class CStampedDelivery : public CPostedDelivery
    {
    public:
        CStampedDelivery(CHeardGate& gate, CPostedDelivery& inner) : m_gate(gate), m_pInner(&inner) {}
        void Run() override;
        void Dropped() override { m_pInner->Dropped(); }

    private:
        CHeardGate& m_gate;
        CPostedDelivery* m_pInner;
    };

    CDeliveryGate& m_next;
    std::atomic<std::chrono::steady_clock::rep> m_lastHeard{0};
    std::mutex m_mutex; // guards m_stamped
    std::map<CPostedDelivery*, std::unique_ptr<CStampedDelivery>> m_stamped;
};
