// The events of `kavdm download --json` and `kavdm upload --json`: a window
// that passes every call on to the console's window and tells the event stream
// what happens: "waiting", "started", "module", "progress" (at most
// kProgressPerSecond a second, and the last packet of each module), "log" (with
// --verbose), "box" and, from the command once the outcome is known, "ended".
//
// The page calls it on the protocol thread; Waiting() and Ended() come from
// the command's threads once the page has no more to say.
#pragma once

#include "cli/EventStream.h"
#include "cli/ProgressEstimate.h"
#include "ui/PageWindow.h"

#include <chrono>
#include <mutex>
#include <optional>

enum class TransferOutcome;

// The events in short, for --help (and so the manual page).
inline constexpr const char kTransferEventsHelp[] =
    "Events (--json): JSON Lines on stdout, each {\"v\":1,\"event\":NAME,\"time\":UTC ISO 8601,...}: "
    "waiting (port, device, baud); started; module (index, kind, bytes); progress (module, packet, bytes_done, "
    "bytes_total, elapsed, estimate, rate; at most 4 a second); log (text; with --verbose); box (icon, text, "
    "detail); ended (result, reason, exit_code, bytes, seconds, and image or output: path, size, crc32; after a "
    "read-back also verified: true, false or null). result: complete, status-report, refused, port-lost, "
    "image-error, output-error, timed-out, reset, interrupted, different (the memory read back differs). "
    "A read-back (download --verify, verify) adds readback (port, device, baud: waiting for the receiver to be "
    "switched to standby and on again, after a download) and verify (result: verified, different or "
    "not-checked; reason; upload: digital, analog or all; modules: index, kind, bytes, crc32, result, first_difference, differing_bytes).";

class CTransferEventWindow : public CPageWindow
{
public:
    static constexpr int kProgressPerSecond = 4;

    CTransferEventWindow(CEventStream& events, bool verbose) : m_events(events), m_bVerbose(verbose) {}

    // The window the calls are passed to; returns this window for the page.
    CPageWindow* Wrap(CPageWindow* inner)
    {
        m_pInner = inner;
        return this;
    }

    // The page is ready and waits for the receiver; on the protocol thread,
    // where the link settings name the device and the rate. `givenPort` is the
    // --port value, shown as the port unless it is "" or "auto".
    void Waiting(const std::string& givenPort) { Waiting(givenPort, "waiting"); }
    // The same as `event` ("readback": the receiver is waited for again, to read its memory back).
    void Waiting(const std::string& givenPort, const char* event);
    // An event of the command's own ("verify"), in the stream's order.
    void Emit(const std::string& event, const nlohmann::ordered_json& fields) { m_events.Emit(event, fields); }
    // The page could not serve a receiver (the image or the output was refused).
    void StartRefused(TransferEndKind kind)
    {
        std::lock_guard lock(m_mutex);
        m_refusal = kind;
    }
    // Why the run ended: the runner's end (the page's, the --wait time or a
    // signal) when the run got that far, else why it could not start (the
    // image or the output refused, a port that would not open).
    TransferEnd EndOf(TransferOutcome outcome, const TransferEnd& runnerEnd) const;
    // The last event: the result, the exit code, the bytes moved and the
    // seconds since the start, and `files` ("image" or "output" with path,
    // size and CRC-32).
    void Ended(const TransferEnd& end, int exitCode, const nlohmann::ordered_json& files);

    void SetRange(int id, int lower, int upper) override { m_pInner->SetRange(id, lower, upper); }
    void SetPos(int id, int position) override { m_pInner->SetPos(id, position); }
    void SetCheck(int id, bool checked) override { m_pInner->SetCheck(id, checked); }
    void SetText(int id, const std::string& text) override { m_pInner->SetText(id, text); }
    void SetColor(int id, ColorRef color) override { m_pInner->SetColor(id, color); }
    void SetHighlight(int id, bool on) override { m_pInner->SetHighlight(id, on); }
    void PlayAnimation(int id, int repeat, int first, int last) override
    {
        m_pInner->PlayAnimation(id, repeat, first, last);
    }
    void StopAnimation(int id) override { m_pInner->StopAnimation(id); }
    void SetTimer(int id, int periodMs) override { m_pInner->SetTimer(id, periodMs); }
    void KillTimer(int id) override { m_pInner->KillTimer(id); }
    void BeginWaitCursor() override { m_pInner->BeginWaitCursor(); }
    void EndWaitCursor() override { m_pInner->EndWaitCursor(); }
    void Beep(int frequencyHz, int durationMs) override { m_pInner->Beep(frequencyHz, durationMs); }
    std::string PortOpenHint(int portNumber) override { return m_pInner->PortOpenHint(portNumber); }
    bool ReopensLineAfterReset(bool afterLoss) override { return m_pInner->ReopensLineAfterReset(afterLoss); }

    void InsertLog(int id, const std::string& text) override;
    void MessageBox(const std::string& text, BoxIcon icon) override;
    void MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail) override;
    void TransferStarted() override;
    void ShowProgress(const TransferProgress& progress) override;
    void TransferEnded(const TransferEnd& end) override;

private:
    using Clock = std::chrono::steady_clock;

    CEventStream& m_events;
    const bool m_bVerbose;
    CPageWindow* m_pInner = nullptr;

    mutable std::mutex m_mutex; // the fields below, read by the command after the run
    std::string m_strLastError; // the last error box, for a run the page could not start
    std::optional<TransferEndKind> m_refusal;
    bool m_bStarted = false;
    Clock::time_point m_started;
    std::int64_t m_nBytes = 0;

    int m_nModule = 0;
    Clock::time_point m_lastProgress;
    CProgressEstimate m_estimate;
};
