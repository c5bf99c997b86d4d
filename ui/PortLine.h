// The pages' line on the serial port object: sends and purges go to
// theSerialPort, a reopen is the page's ReopenPort (a new port object owned by
// the page, opened on the chosen COM port at theLinkSettings.openBaudRate).
#pragma once

#include "ui/PageLine.h"

class CInfoPage;

class CPortLine : public CPageLine
{
public:
    explicit CPortLine(CInfoPage& page) : m_page(page) {}

    OpenResult Open() override;
    void Send(const std::uint8_t* data, std::size_t length) override;
    void Purge() override;
    bool Reopen(int baudRate) override;
    void Close() override;
    bool IsOpen() const override;
    std::string OpenFailure() const override;

private:
    CInfoPage& m_page;
};
