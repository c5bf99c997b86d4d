// The upload's module headers: the three bytes the receiver sends ahead of
// each module, told apart from late repeats of what came before them, written
// to the file as a header block; and the check that each module brings the
// data its header block announces, so the file reads back as an image.
#include "ui/ControlIds.h"
#include "ui/UploadPage.h"

#include <algorithm>
#include <cstring>

namespace
{
// Bytes of theModuleHeader the upload sets.
constexpr int kFirmwareByte = 31;
constexpr int kDigitalByte = 32;
constexpr int kFlashByte = 33;
constexpr int kModuleSizeOffset = 36; // 32-bit little-endian
} // namespace

void CUploadPage::OnModuleHeaderBytes(const std::uint8_t* data, int length)
{
    // theBytesLeft is shared with the download page; a value that is not ours
    // would index outside the buffer, so it restarts the header.
    if (theBytesLeft < 1 || theBytesLeft > kModuleHeaderBytes)
        theBytesLeft = kModuleHeaderBytes;
    if (length == 0)
        return;
    const bool bHeaderStart = m_nRepeatBytesToDrop == 0 && theBytesLeft == kModuleHeaderBytes;
    // The last packet of a module asked for twice can come twice: its second
    // copy arrives after the header request. A header never has 0xEE where its
    // digital byte stands, so 0x69 0xEE at the start of a header is that copy:
    // drop the whole packet instead of writing it as a header. A 0x69 that
    // ends its delivery is held until the next one tells which it was.
    if (bHeaderStart && m_nPendingByte == PACKET_REQUEST)
    {
        m_nPendingByte = -1;
        if (data[0] == LAST_BLOCK)
        {
            AddLog("Duplicate packet (" + Hex(LAST_BLOCK) + ") dropped");
            m_nRepeatBytesToDrop = kPacketSize - 1;
        }
        else
        {
            m_receiveBuffer[0] = PACKET_REQUEST; // the header's lead byte
            --theBytesLeft;
        }
    }
    else if (bHeaderStart && m_nModuleIndex > 0 && data[0] == PACKET_REQUEST)
    {
        if (length == 1)
        {
            m_nPendingByte = PACKET_REQUEST;
            return;
        }
        if (data[1] == LAST_BLOCK)
        {
            AddLog("Duplicate packet (" + Hex(LAST_BLOCK) + ") dropped");
            m_nRepeatBytesToDrop = kPacketSize;
        }
    }
    // The receiver repeats its start of upload every 2 s until the first header
    // request reaches it, so a late repeat can come where the first header is
    // expected. The header's lead byte may be 0xD1 as well: a 0xD1 is dropped
    // only where it cannot be one, alone in its delivery or ahead of three
    // more bytes (nothing follows a header unasked).
    while (bHeaderStart && m_nModuleIndex == 0 && data[0] == VR520_STARD_UPLOAD &&
           (length == 1 || length > kModuleHeaderBytes))
    {
        ++data;
        --length;
        if (length == 0)
            return;
    }
    if (m_nRepeatBytesToDrop > 0)
    {
        const int dropped = std::min(m_nRepeatBytesToDrop, length);
        m_nRepeatBytesToDrop -= dropped;
        data += dropped;
        length -= dropped;
        if (length == 0)
            return;
    }
    int used = 0;
    while (theBytesLeft > 0 && used < length)
    {
        m_receiveBuffer[kModuleHeaderBytes - theBytesLeft] = data[used++];
        --theBytesLeft;
    }
    if (theBytesLeft > 0)
        return;
    OnModuleHeader(used < length);
}

void CUploadPage::OnModuleHeader(bool bExtraBytes)
{
    const std::uint8_t present = m_receiveBuffer[0];
    const std::uint8_t digital = m_receiveBuffer[1];
    const std::uint8_t flash = m_receiveBuffer[2];
    AddLog("data header : (" + Hex(present) + "),(" + Hex(digital) + "),(" + Hex(flash) + ")");

    theModuleHeader.bytes[kFirmwareByte] = 0;
    theModuleHeader.bytes[0] = present;
    theModuleHeader.bytes[kDigitalByte] = digital;
    theModuleHeader.bytes[kFlashByte] = flash;
    int size = -1;
    if (digital == 1 && flash == 1)
    {
        AddLog("Digtal, flash");
        size = kFlashModuleLength;
    }
    else if (digital == 1 && flash == 0)
    {
        AddLog("Digital, eeprom");
        size = kEepromModuleLength;
    }
    else if (digital == 0 && flash == 0)
    {
        AddLog("Analog");
        size = kAnalogModuleLength;
    }
    if (size >= 0)
    {
        for (int i = 0; i < 4; ++i)
            theModuleHeader.bytes[kModuleSizeOffset + i] = std::uint8_t(std::uint32_t(size) >> (8 * i));
        m_nModuleSize = size;
    }

    if (present == 0)
    {
        CompleteUpload();
        return;
    }
    const auto block = BuildControlMessage(theModuleHeader);
    if (!m_pOutput->Write(block.data(), block.size()))
    {
        FailOnFileError(m_pOutput->LastErrorText());
        return;
    }
    theBytesLeft = kPacketSize;
    m_nPacketNumber = 1;
    std::memset(m_receiveBuffer, 0, sizeof m_receiveBuffer);
    m_nState = ReceivePacket;
    ++m_nModuleIndex;
    m_nModuleBytes = 0;
    // What a download will read of this module: the length its header block gives.
    m_nModuleExpectedBytes = ModuleDataLength(theModuleHeader);
    m_strModuleKind = "header (" + Hex(present) + "),(" + Hex(digital) + "),(" + Hex(flash) + "): " +
                      (digital == 0 ? "analog" : flash != 0 ? "digital flash" : "digital EEPROM");
    RequestPacket();
    if (bExtraBytes)
        AddLog("remain data");
    m_pWindow->SetRange(IDC_MODULE_BAR, 0, m_nTotalBytes / m_nProgressScale);
}

bool CUploadPage::CheckModuleLength(bool lastPacket)
{
    // The file is read back module by module, each header telling how much
    // data follows it: a module that brought another amount would be read as
    // truncated, or its surplus as the next module's header.
    const int expected = m_nModuleExpectedBytes;
    if (lastPacket ? m_nModuleBytes == expected : m_nModuleBytes < expected)
        return true;
    FailTransfer(TransferEndKind::ImageError, "Module " + std::to_string(m_nModuleIndex) + " (" + m_strModuleKind + ", " +
                    std::to_string(expected) + " bytes) " +
                    (lastPacket ? "ended after " + std::to_string(m_nModuleBytes) + " bytes"
                                : "goes on past " + std::to_string(expected) + " bytes") +
                    ": the file could not be read back as an image");
    return false;
}
