#include "cli/DeferredOpenLine.h"

#include "ui/LinkSettings.h"

void CDeferredOpenLine::Bind(CInfoPage& page)
{
    m_pPort = std::make_unique<CPortLine>(page);
}

bool CDeferredOpenLine::Release()
{
    m_bHeld = false;
    if (!m_pPort)
        return false;
    return m_pPort->Reopen(m_nBaudRate != 0 ? m_nBaudRate : theLinkSettings.openBaudRate);
}

CPageLine::OpenResult CDeferredOpenLine::Open()
{
    if (m_bHeld || !m_pPort)
        return {};
    return m_pPort->Open();
}

void CDeferredOpenLine::Send(const std::uint8_t* data, std::size_t length)
{
    if (!m_bHeld && m_pPort)
        m_pPort->Send(data, length);
}

void CDeferredOpenLine::Purge()
{
    // Nothing is open to purge while held; the port opens with empty queues.
    if (!m_bHeld && m_pPort)
        m_pPort->Purge();
}

bool CDeferredOpenLine::Reopen(int baudRate)
{
    if (m_bHeld || !m_pPort)
    {
        m_nBaudRate = baudRate; // for Release()
        return false;
    }
    return m_pPort->Reopen(baudRate);
}

void CDeferredOpenLine::Close()
{
    if (!m_bHeld && m_pPort)
        m_pPort->Close();
}

bool CDeferredOpenLine::IsOpen() const
{
    return !m_bHeld && m_pPort && m_pPort->IsOpen();
}
