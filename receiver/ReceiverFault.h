// Faults the simulated receiver can be told to make, so that the PC's handling of
// a misbehaving receiver can be exercised on purpose. Each fault fires once.
#pragma once

#include <string>
#include <vector>

enum class ReceiverFaultKind
{
    Status,      // download: send 'P' + letter instead of requesting packet N
    Restart,     // download: send 0xCD instead of requesting packet N, start over
    BadBlock,    // download: request packet N with a wrong block number
    Refuse,      // both: refuse the function (0x00)
    Crc,         // upload: packet N goes out once with a wrong CRC
    Drop,        // upload: the first request for packet N is not answered
    Chunks,      // upload: every packet is sent in chunks of N bytes with pauses
    SplitHeader, // upload: each 3-byte module header is sent as 1 + 2 bytes
    Ppp,         // upload: "PPP" (an error report) instead of packet N, once
    Duplicate,   // upload: packet N is answered twice (again before packet N + 1)
    Corrupt,     // download: one byte of module M is stored changed (inverted)
};

// The role whose sessions a fault of this kind applies to; Refuse applies to both.
bool IsDownloadFault(ReceiverFaultKind kind);
bool IsUploadFault(ReceiverFaultKind kind);

struct ReceiverFault
{
    ReceiverFaultKind kind = ReceiverFaultKind::Status;
    // Packet counted over the whole transfer, from 1 (the first packet of the
    // first module), for the faults that name one.
    int nPacket = 0;
    char letter = 0;           // Status
    int nChunkBytes = 0;       // Chunks
    int nChunkPauseMs = 0;     // Chunks
    int nModule = 0;           // Corrupt: the module received, counted from 1
    int nByteOffset = 0;       // Corrupt: the byte of its data, from 0
};

// Parses one --fault argument: "status:N:LETTER", "restart:N", "badblock:N",
// "refuse", "crc:N", "drop:N", "chunks:SIZE:MS", "split-header", "ppp[:N]",
// "dup:N", "corrupt:[MODULE:]OFFSET". On failure returns false and says why in `error`.
bool ParseReceiverFault(const std::string& text, ReceiverFault& fault, std::string& error);

// The grammar above in one line, for help texts.
const char* ReceiverFaultSyntax();

// The faults of one session; each fires at most once.
class CReceiverFaults
{
public:
    CReceiverFaults() = default;
    explicit CReceiverFaults(std::vector<ReceiverFault> faults);

    // True (once) when a fault of this kind is set for packet `nAt` (for Corrupt:
    // module `nAt`); `fault` then holds it. Faults that name neither are asked with 0.
    bool Fire(ReceiverFaultKind kind, int nAt, ReceiverFault* fault = nullptr);
    // The fault of this kind, without using it up (for faults that hold for the
    // whole session, like Chunks and SplitHeader).
    const ReceiverFault* Find(ReceiverFaultKind kind) const;

private:
    struct Entry
    {
        ReceiverFault fault;
        bool bFired = false;
    };
    std::vector<Entry> m_entries;
};
