#include "receiver/ReceiverFault.h"

#include <charconv>

namespace
{
std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (true)
    {
        const auto colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            return fields;
        start = colon + 1;
    }
}

bool ParsePositive(const std::string& field, int nMax, int& value)
{
    const char* first = field.data();
    const char* last = first + field.size();
    const auto result = std::from_chars(first, last, value);
    return !field.empty() && result.ec == std::errc() && result.ptr == last && value >= 1 && value <= nMax;
}

bool ParseCount(const std::string& field, int nMax, int& value)
{
    const char* first = field.data();
    const char* last = first + field.size();
    const auto result = std::from_chars(first, last, value);
    return !field.empty() && result.ec == std::errc() && result.ptr == last && value >= 0 && value <= nMax;
}

constexpr int kMaxPacket = 1000000;
constexpr int kMaxModule = 1000000;
constexpr int kMaxByteOffset = 64 * 1024 * 1024; // the largest module the receiver takes
constexpr int kMaxChunkBytes = 1030;
constexpr int kMaxChunkPauseMs = 10000;
} // namespace

const char* ReceiverFaultSyntax()
{
    return "status:N:LETTER, restart:N, badblock:N, corrupt:[MODULE:]OFFSET, refuse (download role); crc:N, "
           "drop:N, chunks:SIZE:MS, split-header, ppp[:N], dup:N, refuse (upload role). N counts packets over the "
           "whole transfer from 1; corrupt stores byte OFFSET (from 0) of received module MODULE (from 1, "
           "default 1) changed.";
}

bool ParseReceiverFault(const std::string& text, ReceiverFault& fault, std::string& error)
{
    const auto fields = SplitFields(text);
    const std::string& name = fields[0];
    fault = ReceiverFault{};
    auto fail = [&](const std::string& why) {
        error = "bad fault \"" + text + "\": " + why;
        return false;
    };
    auto packetField = [&](std::size_t index) {
        return ParsePositive(fields[index], kMaxPacket, fault.nPacket);
    };

    if (name == "status")
    {
        fault.kind = ReceiverFaultKind::Status;
        if (fields.size() != 3 || !packetField(1))
            return fail("expected status:N:LETTER with N >= 1");
        if (fields[2].size() != 1 || fields[2][0] < 'A' || fields[2][0] > 'Z')
            return fail("the status letter must be one capital letter (Q, S, T ... Z)");
        fault.letter = fields[2][0];
        return true;
    }
    if (name == "restart" || name == "badblock" || name == "crc" || name == "drop" || name == "dup")
    {
        fault.kind = name == "restart"    ? ReceiverFaultKind::Restart
                     : name == "badblock" ? ReceiverFaultKind::BadBlock
                     : name == "crc"      ? ReceiverFaultKind::Crc
                     : name == "drop"     ? ReceiverFaultKind::Drop
                                          : ReceiverFaultKind::Duplicate;
        if (fields.size() != 2 || !packetField(1))
            return fail("expected " + name + ":N with N >= 1");
        return true;
    }
    if (name == "ppp")
    {
        fault.kind = ReceiverFaultKind::Ppp;
        fault.nPacket = 1;
        if (fields.size() > 2 || (fields.size() == 2 && !packetField(1)))
            return fail("expected ppp or ppp:N with N >= 1");
        return true;
    }
    if (name == "chunks")
    {
        fault.kind = ReceiverFaultKind::Chunks;
        if (fields.size() != 3 || !ParsePositive(fields[1], kMaxChunkBytes, fault.nChunkBytes))
            return fail("expected chunks:SIZE:MS with SIZE from 1 to 1030");
        if (fields[2] == "0")
            fault.nChunkPauseMs = 0;
        else if (!ParsePositive(fields[2], kMaxChunkPauseMs, fault.nChunkPauseMs))
            return fail("the pause MS must be 0 to 10000 milliseconds");
        return true;
    }
    if (name == "corrupt")
    {
        fault.kind = ReceiverFaultKind::Corrupt;
        fault.nModule = 1;
        const bool bModuleGiven = fields.size() == 3;
        if ((fields.size() != 2 && !bModuleGiven) ||
            (bModuleGiven && !ParsePositive(fields[1], kMaxModule, fault.nModule)) ||
            !ParseCount(fields.back(), kMaxByteOffset, fault.nByteOffset))
            return fail("expected corrupt:OFFSET or corrupt:MODULE:OFFSET with MODULE >= 1 and OFFSET >= 0");
        return true;
    }
    if (name == "split-header" || name == "refuse")
    {
        fault.kind = name == "refuse" ? ReceiverFaultKind::Refuse : ReceiverFaultKind::SplitHeader;
        if (fields.size() != 1)
            return fail(name + " takes no value");
        return true;
    }
    return fail(std::string("unknown fault; known: ") + ReceiverFaultSyntax());
}

CReceiverFaults::CReceiverFaults(std::vector<ReceiverFault> faults)
{
    for (auto& fault : faults)
        m_entries.push_back({fault, false});
}

bool IsDownloadFault(ReceiverFaultKind kind)
{
    return kind == ReceiverFaultKind::Status || kind == ReceiverFaultKind::Restart ||
           kind == ReceiverFaultKind::BadBlock || kind == ReceiverFaultKind::Corrupt ||
           kind == ReceiverFaultKind::Refuse;
}

bool IsUploadFault(ReceiverFaultKind kind)
{
    return !IsDownloadFault(kind) || kind == ReceiverFaultKind::Refuse;
}

bool CReceiverFaults::Fire(ReceiverFaultKind kind, int nAt, ReceiverFault* fault)
{
    for (auto& entry : m_entries)
    {
        const int nSetFor = entry.fault.kind == ReceiverFaultKind::Corrupt ? entry.fault.nModule : entry.fault.nPacket;
        if (entry.fault.kind == kind && nSetFor == nAt && !entry.bFired)
        {
            entry.bFired = true;
            if (fault)
                *fault = entry.fault;
            return true;
        }
    }
    return false;
}

const ReceiverFault* CReceiverFaults::Find(ReceiverFaultKind kind) const
{
    for (const auto& entry : m_entries)
        if (entry.fault.kind == kind)
            return &entry.fault;
    return nullptr;
}
