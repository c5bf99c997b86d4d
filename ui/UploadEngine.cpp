// The upload engine: CUploadPage's answers to the receiver while it sends its
// memory back. The receiver drives the exchange; each step here is the reply
// to one received chunk (at most 100 bytes, cut anywhere in a message) or to
// the page time-out. Packets are collected in place in m_receiveBuffer and
// their data goes to the output file with one write each.
#include "protocol/Clock.h"
#include "ui/ControlIds.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"
#include "ui/UploadPage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
constexpr std::uint8_t kRateCode9600 = 0x01; // the only rate the upload answers
constexpr int kEstimateEveryPackets = 8;      // the estimate label refreshes on packets 8, 16, ...

// Offsets in a data packet on the line.
constexpr int kSequenceOffset = 1;
constexpr int kDataOffset = 2;
constexpr int kCrcOffset = kDataOffset + kPacketDataSize; // 1026


std::uint32_t StoredCrc(const std::uint8_t* packet)
{
    return (std::uint32_t(packet[kCrcOffset]) << 24) | (std::uint32_t(packet[kCrcOffset + 1]) << 16) |
           (std::uint32_t(packet[kCrcOffset + 2]) << 8) | std::uint32_t(packet[kCrcOffset + 3]);
}
} // namespace

std::string CUploadPage::Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

void CUploadPage::OnReceive(const char* data, int length)
{
    // data[length] is a zero byte, so an empty chunk reads as the byte 0x00.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    length = std::max(length, 0);
    if (IsReceiverErrorReport(bytes, length))
        ShowError("Error Happened");

    switch (m_nState)
    {
    case NoFile:
        ShowError("Please, select a file to save");
        break;
    case WaitReady:
        OnWaitReady(bytes, length);
        break;
    case WaitFunction:
        OnWaitFunction(bytes, length);
        break;
    case WaitFunctionRequest:
        OnWaitFunctionRequest(bytes[0]);
        break;
    case WaitStartUpload:
        OnWaitStartUpload(bytes[0]);
        break;
    case ReceiveModuleHeader:
        OnModuleHeaderBytes(bytes, length);
        break;
    case ReceivePacket:
        OnPacketBytes(bytes, length);
        break;
    default:
        break;
    }
}

bool CUploadPage::IsReceiverErrorReport(const std::uint8_t* data, int length) const
{
    if (length < 3 || data[0] != VR520_STATUS || data[1] != VR520_STATUS || data[2] != VR520_STATUS)
        return false;
    // Inside a packet these are data bytes; only a chunk that starts a new
    // packet, or comes outside one, can carry the receiver's report.
    return m_nState != ReceivePacket || theBytesLeft == kPacketSize;
}

void CUploadPage::LogReceivedByte(std::uint8_t byte)
{
    AddLog("[rd] msg(" + Hex(byte) + ")");
}

void CUploadPage::PlayTones(int firstHz, int secondHz)
{
    // Beep() returns at once; the pause is the tone's own length.
    m_pWindow->Beep(firstHz, kToneMs);
    theClock().Sleep(kToneMs);
    m_pWindow->Beep(secondHz, kToneMs);
    theClock().Sleep(kToneMs);
}

void CUploadPage::OnWaitReady(const std::uint8_t* data, int length)
{
    theLinkSettings.openBaudRate = theLinkSettings.selectedBaudRate;
    const std::uint8_t first = data[0];
    if (first == 0x00)
        return;
    if (first == VR520_RATE)
    {
        // Uploads run at 9600 whatever rate is selected: the port stays as it is.
        SendByte(kRateCode9600);
        return;
    }
    PlayTones(kLowToneHz, kHighToneHz);
    LogReceivedByte(first);
    if (std::memchr(data, VR520_READY, std::size_t(std::max(length, 1))) == nullptr)
    {
        AddLog("Invalid Protocol : VR520_READY");
        return;
    }
    AddLog("[rd msg] ready");
    m_pWindow->PlayAnimation(IDC_ANIMATION, -1, 0, 0xFFFF);
    SendByte(VR520_READY);
    m_nReadyAnsweredMs = theClock().SteadyMs();
    AddLog("[sd msg] ready ack");
    m_nState = WaitFunction;
    m_startTime = theClock().Now();
    m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(0));
    m_steps.Light(3);
    m_nModuleIndex = 0;
    m_bTransferRunning = true;
    m_pWindow->TransferStarted();
}

void CUploadPage::OnWaitFunction(const std::uint8_t* data, int length)
{
    if (const int readies = ReadyBytesBeforeFunction(data, length); readies > 0)
    {
        LogReceivedByte(VR520_READY);
        data += readies;
    }
    const std::uint8_t first = data[0];
    LogReceivedByte(first);
    if (first == VR520_READY)
    {
        // The receiver's ready again: it never saw our answer (the first 0xCD
        // was noise ahead of its start). A repeat that crossed our answer gets none.
        if (theClock().SteadyMs() - m_nReadyAnsweredMs < kReadyRepeatGuardMs)
            return;
        SendByte(VR520_READY);
        m_nReadyAnsweredMs = theClock().SteadyMs();
        AddLog("[sd msg] ready ack");
        m_startTime = theClock().Now();
        return;
    }
    if (first != VR520_FUNC)
    {
        ShowError("Invalid Protocol : VR520_FUNC");
        return;
    }
    const auto kind = UploadKind(m_nUploadKind);
    AddLog("[rd msg] function");
    AddLog("[sd msg] function <" + std::string(UploadFunctionText(kind)) + ">");
    SendByte(UploadFunctionCode(kind));
    m_nState = WaitFunctionRequest;
    m_nTotalBytes = UploadExpectedBytes(kind);
    m_nProgressScale = ProgressScaleFor(m_nTotalBytes);
    m_pWindow->SetRange(IDC_TOTAL_BAR, 0, m_nTotalBytes / m_nProgressScale);
    m_nBytesDone = 0;
}

void CUploadPage::OnWaitFunctionRequest(std::uint8_t first)
{
    if (first == 0x00)
    {
        // Refused: nothing was created, the chosen file stays chosen.
        SetTransferEnd(TransferEndKind::Refused, "the receiver answered the function with 0x00");
        ResetState();
        m_nState = WaitReady;
        return;
    }
    AddLog("[rd msg] Function request");
    AddLog("File Open");
    if (!m_pOutput->Open(m_strFilePath))
    {
        FailOnFileError(m_pOutput->LastErrorText());
        return;
    }
    m_nState = WaitStartUpload;
}

void CUploadPage::OnWaitStartUpload(std::uint8_t first)
{
    if (first != VR520_STARD_UPLOAD)
    {
        ShowError("Invalid Protocol : VR520_STARD_UPLOAD");
        return;
    }
    AddLog("[rd msg] Start upload");
    RequestModuleHeader();
    AddLog("[sd msg] Module header request");
    m_nState = ReceiveModuleHeader;
    theBytesLeft = kModuleHeaderBytes;
}

void CUploadPage::RequestModuleHeader()
{
    // A header that never comes is asked for again (OnTimeout).
    StartTimer(kReplyTimeoutTicks, 0);
    SendByte(HEADER_REQUEST);
}

void CUploadPage::RequestPacket()
{
    StartTimer(kReplyTimeoutTicks, 0);
    SendByte(PACKET_REQUEST);
    SendByte(std::uint8_t(m_nPacketNumber % 10));
}

void CUploadPage::CompleteUpload()
{
    // The file replaces the chosen one only now, once it is safely on disk.
    if (!m_pOutput->Commit())
    {
        FailOnFileError(m_pOutput->LastErrorText());
        return;
    }
    SetTransferEnd(TransferEndKind::Complete);
    ResetState();
    StopTimer();
    if (!m_pOutput->TargetPath().empty())
        SetNextBoxDetail("Saved as " + m_strFilePath); // where the file now is
    ShowInfo("Upload Complete");
    m_nState = WaitReady;
    m_steps.Light(1);
    PlayTones(kHighToneHz, kLowToneHz);
}

void CUploadPage::FailOnFileError(const std::string& reason)
{
    FailTransfer(TransferEndKind::OutputError, reason);
}

void CUploadPage::FailTransfer(TransferEndKind kind, const std::string& reason)
{
    std::string text = "ERROR : " + reason;
    const std::string partialNote = KeepPartialOutput();
    if (!partialNote.empty())
        text += ". " + partialNote;
    ShowError(text);
    StopTimer();
    SetTransferEnd(kind, reason);
    ResetState();
    // As after a refusal: the page waits for the receiver with the path kept,
    // so the user can make room or choose another file and start again.
    m_nState = WaitReady;
}

void CUploadPage::SetTransferBars(int bytesDone)
{
    // Bars are held at their maximum once retransmissions carry the count past the total.
    const int maximum = m_nTotalBytes / m_nProgressScale;
    const int position = std::clamp(bytesDone / m_nProgressScale, 0, maximum);
    m_pWindow->SetPos(IDC_TOTAL_BAR, position);
    m_pWindow->SetPos(IDC_MODULE_BAR, position);
}

void CUploadPage::OnPacketBytes(const std::uint8_t* data, int length)
{
    // theBytesLeft is shared with the download page: never index outside the buffer.
    if (theBytesLeft < 1 || theBytesLeft > kPacketSize)
        theBytesLeft = kPacketSize;
    SetTransferBars(m_nBytesDone);
    for (;;)
    {
        if (length < theBytesLeft)
        {
            m_pWindow->SetPos(IDC_PACKET_BAR, std::max(0, kPacketDataSize - theBytesLeft));
            std::memcpy(m_receiveBuffer + (kPacketSize - theBytesLeft), data, std::size_t(length));
            theBytesLeft -= length;
            m_nBytesDone += length;
            return;
        }
        const int used = theBytesLeft;
        std::memcpy(m_receiveBuffer + (kPacketSize - theBytesLeft), data, std::size_t(used));
        m_nBytesDone += used;
        theBytesLeft = 0;
        // Bytes past a packet's end are dropped (the receiver sends nothing
        // unasked), except behind a duplicate: the packet asked for follows it.
        if (!OnPacketComplete())
            return;
        data += used;
        length -= used;
        if (length == 0)
            return;
    }
}

void CUploadPage::ShowTransferProgress()
{
    TransferProgress progress;
    progress.module = m_nModuleIndex;
    progress.packet = m_nPacketNumber;
    progress.bytesDone = m_nBytesDone;
    progress.totalBytes = m_nTotalBytes;
    progress.elapsedSeconds = m_nElapsedTime;
    progress.estimatedSeconds = m_nEstimatedTime;
    m_pWindow->ShowProgress(progress);
}

bool CUploadPage::IsDuplicatePacket(std::uint8_t sequence) const
{
    // A slow receiver may answer a request and its repeat: the second copy
    // carries the sequence byte of the packet already written.
    return m_nPacketNumber > 1 && sequence != LAST_BLOCK && sequence == (m_nPacketNumber - 1) % 10;
}

bool CUploadPage::OnPacketComplete()
{
    m_nElapsedTime = int(theClock().Now() - m_startTime);
    if (m_nBytesDone != 0)
        m_nEstimatedTime = int(std::int64_t(m_nElapsedTime) * m_nTotalBytes / m_nBytesDone);
    if (m_nPacketNumber % kEstimateEveryPackets == 0)
        m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(m_nEstimatedTime));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(m_nElapsedTime));
    ShowTransferProgress();

    // Noise on a dead line passes a CRC check (1030 zero bytes do), so a packet
    // must also begin with its mark.
    if (m_receiveBuffer[0] != PACKET_REQUEST)
    {
        RefusePacket("invalid data header");
        return false;
    }
    if (StoredCrc(m_receiveBuffer) != Crc32(m_receiveBuffer + kDataOffset, kPacketDataSize))
    {
        RefusePacket("CRC Error");
        return false;
    }
    const std::uint8_t sequence = m_receiveBuffer[kSequenceOffset];
    if (IsDuplicatePacket(sequence))
    {
        AddLog("Duplicate packet (" + Hex(sequence) + ") dropped");
        theBytesLeft = kPacketSize;
        return true;
    }
    if (!m_pOutput->Write(m_receiveBuffer + kDataOffset, kPacketDataSize))
    {
        FailOnFileError(m_pOutput->LastErrorText());
        return false;
    }
    m_nModuleBytes += kPacketDataSize;
    if (!CheckModuleLength(sequence == LAST_BLOCK))
        return false;
    if (sequence == LAST_BLOCK)
    {
        AddLog("1 module download");
        m_nState = ReceiveModuleHeader;
        theBytesLeft = kModuleHeaderBytes;
        RequestModuleHeader();
        return false;
    }
    ++m_nPacketNumber;
    AddLog("[sd msg] Next packet request (" + std::to_string(m_nPacketNumber) + ")");
    theBytesLeft = kPacketSize;
    RequestPacket();
    return false;
}

void CUploadPage::RefusePacket(const std::string& reason)
{
    AddLog(reason);
    theClock().Sleep(kRefusedPacketPauseMs);
    OnTimeout();
}

void CUploadPage::OnTimeout()
{
    if (m_nState == ReceivePacket)
    {
        AddLog("Timeout : Request retransmission (" + std::to_string(m_nPacketNumber) + ")");
        theBytesLeft = kPacketSize;
        std::memset(m_receiveBuffer, 0, sizeof m_receiveBuffer);
        LineWhenQuiet().Purge(); // what is left of the broken packet
        m_pWindow->SetPos(IDC_PACKET_BAR, 0);
        StopTimer();
        RequestPacket();
        return;
    }
    if (m_nState == ReceiveModuleHeader)
    {
        AddLog("Timeout : Request module header");
        theBytesLeft = kModuleHeaderBytes;
        m_nRepeatBytesToDrop = 0; // the purge drops what was left of it
        m_nPendingByte = -1;
        LineWhenQuiet().Purge();
        StopTimer();
        RequestModuleHeader();
        return;
    }
    StopTimer();
}
