// Why a transfer ended: the kind of end and the reason in words. A page hands
// one to its window when a transfer (or the wait for one) ends; front ends
// show the reason (the GUI's log, `kavdm`'s last line, the JSON events) and
// decide on the kind (the exit code, a station's summary).
#pragma once

#include <string>

enum class TransferEndKind
{
    Complete,     // "Download Complete" / "Upload Complete", or the receiver's completion report
    StatusReport, // the receiver's status report ("ERROR  : Checksum check", ...)
    Refused,      // the receiver refused the function
    PortLost,     // the port went away or could not be reopened
    ImageError,   // the image could not be read, or changed on disk
    OutputError,  // the output file could not be written
    TimedOut,     // the receiver stayed silent for the --wait time
    Reset,        // reset by the user: Clear, Browse, another port
    Interrupted,  // a signal ended the program
    Different,    // the transfer completed, but the memory read back after it differs from the image
};

struct TransferEnd
{
    TransferEndKind kind = TransferEndKind::Reset;
    std::string reason; // in words; "" where the kind says it all

    bool Completed() const { return kind == TransferEndKind::Complete; }
};

// A stable, lower-case name of the kind for machine-readable output:
// "complete", "status-report", "refused", "port-lost", "image-error",
// "output-error", "timed-out", "reset", "interrupted", "different".
const char* TransferEndKindName(TransferEndKind kind);

// The reason for people: the kind in words, then the reason when there is one
// ("ended by the receiver's status report: ERROR  : Checksum check").
std::string DescribeTransferEnd(const TransferEnd& end);
