// Randomised fault schedules for the download and upload engines, in memory.
//
// A page runs on a recording line and the virtual clock against the simulated
// receiver's protocol engine (receiver/ReceiverEngine.h). Between the receiver
// and the page, a schedule drops, doubles, splits and delays deliveries and
// slips in junk, stray ready bytes and status reports, at points its choice
// source picks. After the faults the receiver is switched off and on whenever
// its session has ended, until the transfer completes or time runs out.
//
// What every schedule must keep:
// - the page sends only what the bytes it received asked for (download: one
//   answer per delivery, of the kind requested; upload: at most one request
//   per delivery or timer tick);
// - completion is reported only when every module reached the receiver
//   (download) or the file equals what the receiver served (upload);
// - while the upload page waits for a header or a packet its timer runs.
// A schedule whose transfer never completes is reported as stalled, not as a
// broken rule: the download page has no timer, and neither page recognises a
// receiver that starts over in the middle of a transfer in every state.
//
// No GoogleTest here: the libFuzzer target runs the same schedules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace testsupport
{
// Where a schedule's choices come from.
class CChoiceSource
{
public:
    virtual ~CChoiceSource() = default;
    // A number from 0 to n - 1 (n >= 1).
    virtual unsigned Pick(unsigned n) = 0;
};

// Choices from a seeded generator: the same seed gives the same schedule.
class CSeededChoices : public CChoiceSource
{
public:
    explicit CSeededChoices(std::uint64_t seed) : m_random(seed) {}
    unsigned Pick(unsigned n) override { return unsigned(m_random() % n); }

private:
    std::mt19937_64 m_random;
};

// Choices read from bytes (a fuzzer's input); 0 once they are used up.
class CByteChoices : public CChoiceSource
{
public:
    CByteChoices(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    unsigned Pick(unsigned n) override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

enum class ScheduleRole
{
    Download,
    Upload,
};

// Fault classes a schedule may use (a bit set).
enum ScheduleFault : unsigned
{
    kFaultDrop = 1u << 0,       // a receiver write never arrives
    kFaultDouble = 1u << 1,     // a write arrives twice
    kFaultSplit = 1u << 2,      // a write arrives in two deliveries
    kFaultJunk = 1u << 3,       // a few random bytes arrive before a write
    kFaultStrayReady = 1u << 4, // a lone ready byte (0xCD) arrives before a write
    kFaultStatus = 1u << 5,     // a status report ('P' and an error letter) arrives before a write
    kFaultSilence = 1u << 6,    // a write and all after it come seconds late
    kAllFaults = (1u << 7) - 1,
};

struct ScheduleResult
{
    bool completed = false;  // the page reported a completed transfer
    int faults = 0;          // faults the schedule injected
    std::string violation;   // the first broken rule, "" when none
    std::string stalled;     // why the schedule ended without a completed transfer, "" when it completed
    std::string trace;       // the faults injected and the page's resets, for a failing seed
};

// Runs one schedule in a folder of its own under `folder` (emptied again).
// Installs the virtual clock and resets the shared transfer records while it runs.
// `verbose` adds every delivery and every send to the trace.
ScheduleResult RunFaultSchedule(ScheduleRole role, CChoiceSource& choices, const std::string& folder,
                                unsigned faultClasses = kAllFaults, bool verbose = false);
} // namespace testsupport
