// The download engine: CDownloadPage's receive operation and its helpers. The
// receiver drives the exchange; each delivery is matched against the state the
// page is in, answered on the line, and shown on the page.
#include "image/ImageScan.h"
#include "protocol/Clock.h"
#include "ui/ControlIds.h"
#include "ui/DownloadPage.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
constexpr int kDeliveryPauseMs = 10;  // before each delivery is handled
constexpr int kReopenPauseMs = 20;    // before and after the rate switch's reopen
constexpr int kFunctionPauseMs = 5;   // after the function code
constexpr int kCrcBytePauseMs = 1;    // after each CRC byte
constexpr int kHalfPacket = kPacketDataSize / 2;
constexpr int kHeaderFillBytes = kHeaderBlockSize - kModuleHeaderSize;
constexpr int kEstimateEveryPackets = 4;
constexpr std::uint8_t kLastBlockNumber = 9; // the receiver asks for packet k as k mod 10

// True when a read of `count` image bytes that returned `got` did not bring
// what the chosen image holds: a short or failed read, or a file changed on
// disk since it was chosen (reading on would send a mix with valid CRCs).
// Running out exactly at the end is no fault where `endAllowed` (the header
// request after the last module).
bool IsBrokenRead(const CImageFile& image, int got, std::uint32_t count, bool endAllowed)
{
    if (image.ChangedSinceOpened() || !image.GetErrorText().empty())
        return true;
    if (got == 0)
        return count > 0 && !endAllowed;
    return image.IsDiskMode() ? got != int(count) : got != 1;
}
} // namespace

void CDownloadPage::OnReceive(const char* data, int length)
{
    // Counted from the delivery's arrival: its hand-over to this thread is part of the pause.
    theClock().PauseFrom(TakeDeliveryArrival(), kDeliveryPauseMs);
    if (length <= 0)
        return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);

    // A two-byte message split across deliveries ('P' and its letter, 0x69 and
    // its block number) is put back together and handled as if it came whole.
    std::vector<std::uint8_t> joined;
    if (m_nPendingByte == VR520_DATA && (m_nState != SendingData || bytes[0] > kLastBlockNumber))
    {
        // A lone 0x69 joins only a byte that can be its block number: a
        // restart or a status report that follows is no part of it. The
        // request without its number gets no packet.
        m_nPendingByte = -1;
        LogReceivedByte(VR520_DATA);
    }
    if (m_nPendingByte == VR520_STATUS && !IsStatusLetter(bytes[0]))
    {
        // The lone 'P' was no report cut in two: it is handled as the delivery
        // it came in, and the new bytes as theirs, so a request behind it is not lost.
        m_nPendingByte = -1;
        const std::uint8_t alone[2] = {VR520_STATUS, 0};
        HandleDelivery(alone, 1);
    }
    if (m_nPendingByte >= 0)
    {
        joined.reserve(std::size_t(length) + 2);
        joined.push_back(std::uint8_t(m_nPendingByte));
        joined.insert(joined.end(), bytes, bytes + length);
        joined.push_back(0); // the zero byte behind every delivery
        m_nPendingByte = -1;
        bytes = joined.data();
        ++length;
    }
    if (length == 1 && (bytes[0] == VR520_STATUS || (m_nState == SendingData && bytes[0] == VR520_DATA)))
    {
        m_nPendingByte = bytes[0];
        return;
    }
    HandleDelivery(bytes, length);
}

void CDownloadPage::HandleDelivery(const std::uint8_t* data, int length)
{
    ClassifyStatusReport(data, length);
    if (data[0] == VR520_STATUS && data[1] == 'S')
    {
        AddLog("Download complete");
        SetTransferEnd(TransferEndKind::Complete, "the receiver reported it");
        ResetState();
        return;
    }
    switch (m_nState)
    {
    case NoFile:
        ShowError("Please, select a file to download");
        break;
    case WaitReady:
        OnWaitReady(data, length);
        break;
    case WaitFunction:
        OnWaitFunction(data, length);
        break;
    case WaitFunctionReply:
        OnWaitFunctionReply(data[0]);
        break;
    case WaitHeaderRequest:
        OnWaitHeaderRequest(data[0]);
        break;
    case SendingData:
        OnSendingData(data);
        break;
    default:
        break; // states the download never sets
    }
}

void CDownloadPage::OnWaitReady(const std::uint8_t* data, int length)
{
    theLinkSettings.openBaudRate = theLinkSettings.selectedBaudRate;
    const std::uint8_t first = data[0];
    if (first == 0x00)
        return;
    if (first == VR520_RATE)
    {
        const int code = RateCodeFor(theLinkSettings.selectedBaudRate);
        if (code == 1)
            SendByte(1);
        else if (code > 1)
        {
            SendByte(std::uint8_t(code));
            theClock().Sleep(kReopenPauseMs);
            if (!LineWhenQuiet().Reopen(theLinkSettings.openBaudRate))
            {
                FailOnRateSwitch();
                return;
            }
            theClock().Sleep(kReopenPauseMs);
        }
        return;
    }
    for (int i = 0; i < length; ++i)
    {
        LogReceivedByte(data[i]);
        if (data[i] == VR520_READY || data[i] == 0x00)
        {
            StartTransfer(true);
            return;
        }
    }
    AddLog("Invalid Protocol : VR520_READY");
}

void CDownloadPage::StartTransfer(bool fromWaitReady)
{
    SendByte(VR520_READY);
    m_nReadyAnsweredMs = theClock().SteadyMs();
    m_nState = WaitFunction;
    m_pWindow->PlayAnimation(IDC_ANIMATION, -1, 0, -1);
    m_startTime = theClock().Now();
    m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(0));
    m_pWindow->SetCheck(IDC_CHECK_FIRMWARE, false);
    m_pWindow->SetCheck(IDC_CHECK_DIGITAL, false);
    m_pWindow->SetCheck(IDC_CHECK_ANALOG, false);
    if (fromWaitReady)
        m_steps.Light(3);
    m_nModuleIndex = 0;
    m_bTransferRunning = true;
    m_pWindow->TransferStarted();
}

void CDownloadPage::RestartTransfer()
{
    m_image.Rewind();
    LogReceivedByte(VR520_READY);
    StartTransfer(false);
}

void CDownloadPage::OnWaitFunction(const std::uint8_t* data, int length)
{
    if (const int readies = ReadyBytesBeforeFunction(data, length); readies > 0)
    {
        LogReceivedByte(VR520_READY);
        data += readies;
    }
    const std::uint8_t first = data[0];
    if (first == VR520_READY && theClock().SteadyMs() - m_nReadyAnsweredMs >= kReadyRepeatGuardMs)
    {
        RestartTransfer(); // the receiver's ready again: it never saw our answer
        return;
    }
    if (first == VR520_RATE || first == VR520_READY)
        return;
    if (first != VR520_FUNC)
    {
        ShowError("Invalid Protocol : VR520_FUNC");
        return;
    }
    // The scan reads each module's header into theModuleHeader, as the transfer does.
    const ImageScanResult scan = ScanImageForDownload(m_image, theModuleHeader);
    m_nTotalBytes = int(scan.nTotalBytes);
    m_nBytesDone = 0;
    m_nModuleKinds = scan.nModuleKinds;
    if (m_nModuleKinds == kKindsFirmware)
        GetModuleLength(theModuleHeader); // logs the program length, as the scan of it did
    m_nProgressScale = ProgressScaleFor(m_nTotalBytes);
    m_pWindow->SetRange(IDC_TOTAL_BAR, 0, m_nTotalBytes / m_nProgressScale);
    const std::uint8_t function = FunctionCodeForKinds(m_nModuleKinds);
    if (function != 0)
    {
        SendByte(function);
        AddLog("[sd msg] download " + std::string(FunctionNameForKinds(m_nModuleKinds)));
        theClock().Sleep(kFunctionPauseMs);
    }
    else
        ShowError(ImageIsStb() ? "STB file is invalid." : "BIN file is invalid.");
    m_nState = WaitFunctionReply;
}

void CDownloadPage::OnWaitFunctionReply(std::uint8_t first)
{
    if (first == VR520_RATE)
        return;
    if (first == VR520_READY)
    {
        RestartTransfer();
        return;
    }
    if (first == 0x00)
    {
        ShowError("Invalid Protocol : VR520_HEADER");
        SetTransferEnd(TransferEndKind::Refused, "Invalid Protocol : VR520_HEADER");
        ResetState();
        m_nState = WaitReady;
        return;
    }
    AddLog("[rd msg] Function reply");
    theClock().Sleep(0);
    m_nState = WaitHeaderRequest;
}

void CDownloadPage::OnWaitHeaderRequest(std::uint8_t first)
{
    if (first == 0x00 || first == VR520_RATE)
        return;
    if (first == VR520_READY)
    {
        RestartTransfer();
        return;
    }
    if (first != VR520_HEADER2)
    {
        ShowError("Invalid Protocol : VR520_HEADER2");
        return;
    }
    AddLog("[rd msg] request header");
    const int got = m_image.Read(theModuleHeader.bytes, kModuleHeaderSize);
    if (IsBrokenRead(m_image, got, kModuleHeaderSize, true))
    {
        FailOnImageRead();
        return;
    }
    if (got != 0)
    {
        SendControlMessage(theModuleHeader);
        m_image.Seek(kHeaderFillBytes, CImageFile::Origin::Current);
        m_nState = SendingData;
        theBytesLeft = GetModuleLength(theModuleHeader);
        m_nPacketNumber = 1;
        ++m_nModuleIndex;
        m_pWindow->SetRange(IDC_MODULE_BAR, m_nBytesDone / m_nProgressScale,
                            (m_nBytesDone + theBytesLeft) / m_nProgressScale);
        CheckModuleBox();
        return;
    }
    // The image is exhausted: the end message tells the receiver nothing follows.
    theModuleHeader.leadByte() = 0;
    SendControlMessage(theModuleHeader);
    m_pWindow->StopAnimation(IDC_ANIMATION);
    ShowInfo("Download Complete");
    SetTransferEnd(TransferEndKind::Complete);
    ResetState();
    LineWhenQuiet().Purge();
}

void CDownloadPage::OnSendingData(const std::uint8_t* data)
{
    const std::uint8_t first = data[0];
    if (first == VR520_RATE)
        return;
    if (first == VR520_READY)
    {
        RestartTransfer();
        return;
    }
    LogReceivedByte(first);
    if (first != VR520_DATA)
        return;
    const int requested = data[1];
    if (requested == m_nPacketNumber % 10)
    {
        SendNextPacket();
        return;
    }
    CheckModuleBox();
    if (theBytesLeft > kPacketDataSize)
        ShowError("Block Number Dismatch : retransmission");
    else
        ResendLastPacket();
}

void CDownloadPage::SendNextPacket()
{
    thePacket[0] = VR520_DATA;
    if (theBytesLeft > kPacketDataSize)
        thePacket[1] = std::uint8_t(m_nPacketNumber % 10);
    else
    {
        CheckModuleBox();
        thePacket[1] = LAST_BLOCK;
    }
    AddLog("Next Data (" + std::to_string(m_nPacketNumber) + ")");
    if (!ReadPacketData())
        return;
    SendDataPacket(thePacket);

    ++m_nPacketNumber;
    if (theBytesLeft <= kPacketDataSize)
        m_nState = WaitHeaderRequest;
    theBytesLeft -= kPacketDataSize;
    m_nBytesDone += kPacketDataSize;

    m_pWindow->SetPos(IDC_TOTAL_BAR, m_nBytesDone / m_nProgressScale);
    m_pWindow->SetPos(IDC_MODULE_BAR, m_nBytesDone / m_nProgressScale);
    const std::int64_t elapsed = std::int64_t(theClock().Now()) - std::int64_t(m_startTime);
    m_nElapsedTime = int(elapsed);
    // 64-bit: total bytes times seconds overflows 32 bits on large images.
    const std::int64_t estimated = std::int64_t(m_nTotalBytes) * m_nElapsedTime / m_nBytesDone;
    m_nEstimatedTime = int(estimated);
    if (m_nPacketNumber % kEstimateEveryPackets == 0)
        m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(estimated));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(elapsed));

    TransferProgress progress;
    progress.module = m_nModuleIndex;
    progress.packet = m_nPacketNumber - 1;
    progress.bytesDone = m_nBytesDone;
    progress.totalBytes = m_nTotalBytes;
    progress.elapsedSeconds = elapsed;
    progress.estimatedSeconds = estimated;
    m_pWindow->ShowProgress(progress);
}

void CDownloadPage::ResendLastPacket()
{
    // One packet left and the receiver asked for another number: send the last
    // packet (0xEE) and wait for the next header; counters stay as they are.
    thePacket[0] = VR520_DATA;
    thePacket[1] = LAST_BLOCK;
    if (!ReadPacketData())
        return;
    SendDataPacket(thePacket);
    m_nState = WaitHeaderRequest;
}

bool CDownloadPage::ReadPacketData()
{
    const auto count = std::uint32_t(std::clamp(theBytesLeft, 0, kPacketDataSize));
    if (!IsBrokenRead(m_image, m_image.Read(thePacket + 2, count), count, false))
        return true;
    FailOnImageRead();
    return false;
}

void CDownloadPage::FailOnImageRead()
{
    // Nothing of the failed read is sent: the transfer ends here, the file named.
    const std::string reason = m_image.ChangedSinceOpened() ? "it changed on disk since it was chosen"
                               : m_image.GetErrorText().empty() ? "it ended early"
                                                                : m_image.GetErrorText();
    const std::string text = "Cannot read " + m_strFilePath + ": " + reason;
    ShowError("ERROR : " + text + ". Choose the file again.");
    SetTransferEnd(TransferEndKind::ImageError, text);
    ResetState();
}

void CDownloadPage::FailOnRateSwitch()
{
    std::string reason = "COM" + std::to_string(theLinkSettings.portIndex + 1) + " could not be opened again at " +
                         std::to_string(theLinkSettings.openBaudRate) + " baud";
    if (const std::string why = Line().OpenFailure(); !why.empty())
        reason += " (" + why + ")";
    SetTransferEnd(TransferEndKind::PortLost, reason);
    // The box was shown; the reset's own reopen, should it fail too, is only logged.
    m_bResettingLostPort = true;
    ResetState();
    m_bResettingLostPort = false;
}

void CDownloadPage::CheckModuleBox()
{
    if (theModuleHeader.firmware() != 0)
        m_pWindow->SetCheck(IDC_CHECK_FIRMWARE, true);
    else if (theModuleHeader.digital() != 0)
        m_pWindow->SetCheck(IDC_CHECK_DIGITAL, true);
    else
        m_pWindow->SetCheck(IDC_CHECK_ANALOG, true);
}

void CDownloadPage::LogReceivedByte(std::uint8_t byte)
{
    char text[32];
    std::snprintf(text, sizeof text, "[rd] msg(%x)", unsigned(byte));
    AddLog(text);
}

void CDownloadPage::SendControlMessage(const ModuleHeader& record)
{
    const auto message = BuildControlMessage(record);
    SendBlock(message.data(), std::uint32_t(message.size()));
    theClock().Sleep(0);
}

void CDownloadPage::SendDataPacket(const std::uint8_t* buffer)
{
    // The head, the data and the first CRC byte leave in one write: nothing
    // pauses between them, and each write costs both ends of the line a wake-up.
    const auto packet = BuildDataPacket(buffer);
    constexpr std::size_t kFirstCrcByte = kPacketBufferSize;
    SendBlock(packet.data(), kFirstCrcByte + 1);
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetPos(IDC_PACKET_BAR, kHalfPacket);
    m_pWindow->SetPos(IDC_PACKET_BAR, kPacketDataSize);
    for (std::size_t i = kFirstCrcByte + 1; i < packet.size(); ++i)
    {
        theClock().Sleep(kCrcBytePauseMs);
        SendByte(packet[i]);
    }
    // The receiver's request for the next packet usually follows the last CRC
    // byte at once; it is taken in during this pause.
    KeepLineQuiet(kCrcBytePauseMs);
}
