#include "ui/PortLine.h"

#include "serial/SerialPort.h"
#include "ui/InfoPage.h"
#include "ui/LinkSettings.h"

CPageLine::OpenResult CPortLine::Open()
{
    OpenResult result;
    if (!theSerialPort)
    {
        result.created = true;
        theSerialPort = new CForwardingSerialPort(&m_page, m_page.Gate());
        if (theSerialPort->Open() != 1)
        {
            result.error = PortFailureReason(*theSerialPort);
            if (result.error.empty())
                result.error = "The port could not be opened.";
            return result;
        }
    }
    theSerialPort->Purge();
    return result;
}

void CPortLine::Send(const std::uint8_t* data, std::size_t length)
{
    if (theSerialPort)
        theSerialPort->Write(data, std::uint32_t(length));
}

void CPortLine::Purge()
{
    if (theSerialPort)
        theSerialPort->Purge();
}

bool CPortLine::Reopen(int baudRate)
{
    theLinkSettings.openBaudRate = baudRate;
    return m_page.ReopenPort(false) == 1;
}

void CPortLine::Close()
{
    delete theSerialPort;
    theSerialPort = nullptr;
}

bool CPortLine::IsOpen() const
{
    return theSerialPort && theSerialPort->IsOpen();
}

std::string CPortLine::OpenFailure() const
{
    return theSerialPort && !theSerialPort->IsOpen() ? theSerialPort->LastErrorText() : std::string();
}
