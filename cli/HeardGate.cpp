#include "cli/HeardGate.h"

void CHeardGate::RunDelivery(const std::function<void()>& delivery)
{
    Stamp();
    // The stamps around the step are taken on the protocol thread, inside the
    // step: once the step has run, the monitor touches the gate no more, so a
    // monitor that returns late - a port lost as the run ends - never writes to
    // a gate that has gone.
    m_next.RunDelivery([this, &delivery] {
        Stamp();
        delivery();
        Stamp();
    });
}

void CHeardGate::PostDelivery(CPostedDelivery& delivery)
{
    Stamp();
    CStampedDelivery* stamped = nullptr;
    {
        // A delivery object is posted again only once it has run or been
        // dropped (it may post itself again from its own Run), so the wrapper
        // made for its address the first time serves it ever after: it is never
        // replaced while it may still be queued or running.
        std::lock_guard lock(m_mutex);
        auto& slot = m_stamped[&delivery];
        if (!slot)
            slot = std::make_unique<CStampedDelivery>(*this, delivery);
        stamped = slot.get();
    }
    m_next.PostDelivery(*stamped);
}

void CHeardGate::CStampedDelivery::Run()
{
    m_gate.Stamp();
    m_pInner->Run();
    m_gate.Stamp();
}

void CHeardGate::Stamp()
{
    m_lastHeard = std::chrono::steady_clock::now().time_since_epoch().count();
}

double CHeardGate::SilentSeconds() const
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point last{Clock::duration(m_lastHeard.load())};
    return std::chrono::duration<double>(Clock::now() - last).count();
}
