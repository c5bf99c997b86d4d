// The DOWNLOAD page: the user picks a BIN or STB image, the receiver is powered
// on, and from then on the receiver drives the transfer through OnReceive (the
// download engine, ui/DownloadEngine.cpp). The page shows its course on
// the window layer: step texts, animation, Packet/Module/Total bars, estimated
// and current time, module-kind check boxes and the message log.
//
// Threads: as every page (ui/InfoPage.h), all calls run on the protocol
// thread. A front end shows the file dialog itself and posts OnBrowse(path)
// with the chosen path; OnClear() for the Clear button.
#pragma once

#include "image/ImageFile.h"
#include "image/ImageLoader.h"
#include "ui/InfoPage.h"
#include "ui/StepTexts.h"

#include <string>

class CDownloadPage : public CInfoPage
{
public:
    // Values of m_nState on this page.
    enum DownloadState
    {
        NoFile = 0,
        WaitReady = 1,
        WaitFunction = 4,
        WaitHeaderRequest = 8,
        WaitFunctionReply = 9,
        SendingData = 10,
    };

    // Reopens the line (re-creates theSerialPort from theLinkSettings, owned by
    // this page, unless another `line` is given: see CInfoPage).
    CDownloadPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line = nullptr);
    ~CDownloadPage() override;

    bool OnInitDialog() override;
    // The download reset: state back to WaitReady (NoFile stays), bars and
    // check boxes cleared, animation stopped, and after 610 ms of pauses the
    // port reopened at 9600 baud, owned by this page.
    void ResetState() override;
    // The download engine.
    void OnReceive(const char* data, int length) override;
    void OnTimeout() override;
    // Log the text, then the base box.
    void ShowInfo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    // Newest line at the top of the log; the status text repeats it.
    void AddLog(const std::string& text) override;

    // Browse confirmed with `path` (an empty path: the dialog was cancelled,
    // nothing changes). A transfer under way is reset first, as Clear does.
    // Loads the image and waits for the receiver's ready; an image that cannot
    // be loaded is reported and the page returns to NoFile.
    void OnBrowse(const std::string& path);
    // Clear: forgets the file and returns the page to its starting state.
    void OnClear();

    // For front ends and tests.
    const std::string& FilePath() const { return m_strFilePath; }
    int ModuleKinds() const { return m_nModuleKinds; }
    int BytesDone() const { return m_nBytesDone; }
    int TotalBytes() const { return m_nTotalBytes; }
    int PacketNumber() const { return m_nPacketNumber; }
    int EstimatedTime() const { return m_nEstimatedTime; }
    int ElapsedTime() const { return m_nElapsedTime; }
    int ProgressScale() const { return m_nProgressScale; }
    bool IsStepLit(int step) const { return m_steps.IsLit(step); }
    // From the receiver's ready until the transfer's reset.
    bool IsTransferRunning() const { return m_bTransferRunning; }

protected:
    void EndTransferByUser(const std::string& reason) override;

    // Loads m_strFilePath into m_image: a BIN file is opened, an STB file is
    // decoded into memory.
    ImageLoadResult LoadImageFile();

    // One 64-byte control message: the record and twenty 0xFF.
    void SendControlMessage(const ModuleHeader& record);
    // A 1026-byte packet buffer sent as a 1030-byte data packet with its CRC-32.
    void SendDataPacket(const std::uint8_t* buffer);

private:
    // The engine's steps (ui/DownloadEngine.cpp).
    void HandleDelivery(const std::uint8_t* data, int length);
    void OnWaitReady(const std::uint8_t* data, int length);
    void OnWaitFunction(const std::uint8_t* data, int length);
    void OnWaitFunctionReply(std::uint8_t first);
    void OnWaitHeaderRequest(std::uint8_t first);
    void OnSendingData(const std::uint8_t* data);
    void StartTransfer(bool fromWaitReady);
    void RestartTransfer();
    void SendNextPacket();
    void ResendLastPacket();
    // Reads the next packet's data from the image into thePacket; false (the
    // transfer ended by FailOnImageRead) when it did not all come.
    bool ReadPacketData();
    // A read of the image failed or came short: error box naming the file, reset.
    void FailOnImageRead();
    // The port would not open again at the receiver's rate: the transfer ends
    // as a lost port (the reopen's box was shown).
    void FailOnRateSwitch();
    void CheckModuleBox();
    void LogReceivedByte(std::uint8_t byte);
    bool ImageIsStb() const;

    int m_nModuleKinds = 0;
    std::string m_strFilePath;
    CImageFile m_image;
    CStepTexts m_steps;

    bool m_bTransferRunning = false;
    // Modules started in this transfer, for the window's progress line.
    int m_nModuleIndex = 0;
};
