// The download page on its own protocol thread, as kavdm runs it: sends
// `image` over COM2, mapped to the port being measured, switching to `baud`.
// Destroying it deletes the page and the port on that thread and stops it.
#pragma once

#include "protocol/ProtocolThread.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "ui/DownloadPage.h"
#include "ui/LinkSettings.h"

#include <functional>
#include <string>

class CBenchDownload
{
public:
    // `onThread` runs first on the protocol thread (to mark it for timing).
    CBenchDownload(CPageWindow& window, const std::string& port, const std::string& image, int baud,
                   const std::function<void()>& onThread = {})
    {
        SetPortDevice(2, port);
        m_thread.RunDelivery([&] {
            if (onThread)
                onThread();
            theLinkSettings = kInitialLinkSettings;
            m_pPage = new CDownloadPage(&window, &m_thread);
            m_pPage->OnInitDialog();
            m_pPage->OnActivatePage();
            m_pPage->SetBaudRate(baud);
            m_pPage->OnBrowse(image);
        });
    }
    ~CBenchDownload()
    {
        m_thread.RunDelivery([&] {
            delete m_pPage;
            delete theSerialPort;
            theSerialPort = nullptr;
        });
        m_thread.Stop();
    }
    CBenchDownload(const CBenchDownload&) = delete;
    CBenchDownload& operator=(const CBenchDownload&) = delete;

    // Returns once the steps posted so far (the page's reset) have run.
    void Sync() { m_thread.Sync(); }

private:
    CProtocolThread m_thread;
    CDownloadPage* m_pPage = nullptr;
};
