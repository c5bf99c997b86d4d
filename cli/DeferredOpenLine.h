// The DOWNLOAD page's line for `kavdm download`: the serial port opens only
// once the image is loaded. The page opens its port as it is made and loads
// the image afterwards (Browse), dropping what came meanwhile; a receiver
// that announces itself in that time - while an STB image decodes - would
// never be answered. Held, this line takes the page's opens and purges as
// things to do later; Release() opens the port, and from then on every byte
// received is the page's to answer. After that it is the page's own port line.
#pragma once

#include "ui/PortLine.h"

#include <memory>

class CInfoPage;

class CDeferredOpenLine : public CPageLine
{
public:
    CDeferredOpenLine() = default;

    // The page this line serves, once it exists (the line is handed to its constructor).
    void Bind(CInfoPage& page);
    // Opens the port at the rate the page last asked for; false when it would
    // not open (the page has said why). Then passes every call on.
    bool Release();

    OpenResult Open() override;
    void Send(const std::uint8_t* data, std::size_t length) override;
    void Purge() override;
    bool Reopen(int baudRate) override;
    void Close() override;
    bool IsOpen() const override;

private:
    std::unique_ptr<CPortLine> m_pPort; // the page's port line, once bound
    bool m_bHeld = true;
    int m_nBaudRate = 0; // the rate of the page's last Reopen while held
};
