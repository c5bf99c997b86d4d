// The UPLOAD page: the user picks the BIN file to read the receiver into, the
// receiver is powered on, and from then on the receiver drives the transfer
// through OnReceive (the upload engine, ui/UploadEngine.cpp). The page
// asks for each module header and each packet, checks each packet's CRC-32 and
// writes the modules into the file, showing the course on the window layer:
// step texts, animation, Packet/Module/Total bars, estimated and current time
// and the message log.
//
// The output goes through a sink (image/UploadSink.h), by default CUploadFile:
// the chosen file is replaced only by a completed upload; any other end keeps
// what came as FILE.partial. A front end may hand the page another sink (memory,
// for a check of what the receiver holds); the exchange is the same.
//
// What is asked for is m_nUploadKind: the receiver's digital data unless a
// front end chooses otherwise (the window's page keeps it so).
//
// Threads: as every page (ui/InfoPage.h), all calls run on the protocol
// thread. A front end shows the file dialog itself and posts OnBrowse(path)
// with the chosen path; OnClear() for the Clear button.
#pragma once

#include "image/UploadFile.h"
#include "protocol/UploadKind.h"
#include "ui/InfoPage.h"
#include "ui/StepTexts.h"

#include <cstdint>
#include <string>

// Controls of the upload page (dialog 133) that differ from the download page's.
inline constexpr int IDC_UPLOAD_FILE_EDIT = 1016; // edit box: the chosen path
inline constexpr int IDC_UPLOAD_BROWSE = 1017;    // button
inline constexpr int IDC_UPLOAD_CLEAR = 1030;     // button

class CUploadPage : public CInfoPage
{
public:
    // Values of m_nState on this page (2, 3, 6 and 7 are not used here).
    enum UploadState
    {
        NoFile = 0,
        WaitReady = 1,
        WaitFunction = 4,
        ReceivePacket = 5,
        ReceiveModuleHeader = 8,
        WaitFunctionRequest = 9,
        WaitStartUpload = 10,
    };

    // Bytes the upload of the receiver's digital data brings: flash and EEPROM
    // (UploadExpectedBytes gives those of every kind).
    static constexpr int kDigitalUploadBytes = kFlashModuleLength + kEepromModuleLength; // 264192
    // The file those make: each module behind its 64-byte header block.
    static constexpr int kDigitalUploadFileBytes = kDigitalUploadBytes + 2 * kHeaderBlockSize; // 264320
    // Page-timer ticks (500 ms each) to wait for a packet or a module header.
    static constexpr int kReplyTimeoutTicks = 10;
    // Pause before asking again for a packet that came broken.
    static constexpr int kRefusedPacketPauseMs = 2000;
    // The two tones at the start and the end of an upload.
    static constexpr int kLowToneHz = 2000;
    static constexpr int kHighToneHz = 4000;
    static constexpr int kToneMs = 200;
    // Pauses of the reset around the port's reopening.
    static constexpr int kResetSettleMs = 1000;
    // A module header on the line: present flag, digital flag, flash flag.
    static constexpr int kModuleHeaderBytes = 3;

    // Does not touch the port: the page becomes its owner when its tab is selected.
    CUploadPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line = nullptr);
    ~CUploadPage() override;

    bool OnInitDialog() override;
    // The upload reset: an open output file is closed (its data kept as
    // .partial), bars cleared, animation stopped, and after 1.11 s of pauses the
    // port reopened at 9600 baud, owned by this page. State NoFile; the caller
    // sets the next one.
    void ResetState() override;
    // The upload engine.
    void OnReceive(const char* data, int length) override;
    // No packet (or module header) within the time-out: ask for it again.
    void OnTimeout() override;
    // The port's device went away: the base page's box and reset; a chosen file
    // stays chosen and the receiver is waited for again. The window hears that
    // the transfer ended even when none was running, as the DOWNLOAD page tells
    // it at every reset, so a front end waiting for the receiver stops waiting.
    void OnPortLost(int error) override;
    // Log the text, then the base box.
    void ShowInfo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    // Newest line at the top of the log; the status text repeats it.
    void AddLog(const std::string& text) override;

    // Browse confirmed with `path` (an empty path: the dialog was cancelled,
    // nothing changes). Nothing is created yet: the page waits for the receiver.
    // An upload under way is reset first, as Clear does, its data kept as .partial.
    void OnBrowse(const std::string& path);
    // Clear: forgets the file and returns the page to its starting state.
    void OnClear();
    // What the next upload asks the receiver for (digital data until set).
    void SetUploadKind(::UploadKind kind) { m_nUploadKind = int(kind); }
    // Where the next upload's data goes: `sink` (not owned, it outlives the
    // page's use of it), or the chosen file again with nullptr. Set it before
    // the receiver starts: an upload already open keeps its sink.
    void SetUploadSink(CUploadSink* sink)
    {
        if (!m_pOutput->IsOpen())
            m_pOutput = sink ? sink : &m_outFile;
    }

    // For front ends and tests.
    const std::string& FilePath() const { return m_strFilePath; }
    int BytesDone() const { return m_nBytesDone; }
    int TotalBytes() const { return m_nTotalBytes; }
    int PacketNumber() const { return m_nPacketNumber; }
    int ModuleSize() const { return m_nModuleSize; }
    int EstimatedTime() const { return m_nEstimatedTime; }
    int ElapsedTime() const { return m_nElapsedTime; }
    int ProgressScale() const { return m_nProgressScale; }
    ::UploadKind RequestedKind() const { return ::UploadKind(m_nUploadKind); }
    bool IsStepLit(int step) const { return m_steps.IsLit(step); }
    bool IsOutputOpen() const { return m_pOutput->IsOpen(); }
    // Where the data of the last upload that did not complete was kept ("" if nowhere).
    const std::string& KeptPartialPath() const { return m_strKeptPartialPath; }
    // The program is closing: an upload under way keeps its data as .partial now,
    // so the front end can say where (the destructor would do it silently).
    void KeepUnfinishedOutput() { KeepPartialOutput(); }
    // From the receiver's ready until the window was told how the upload ended.
    bool IsTransferRunning() const { return m_bTransferRunning; }

protected:
    void EndTransferByUser(const std::string& reason) override;

private:
    // Lower-case hexadecimal without leading zeros, as the log shows bytes.
    static std::string Hex(unsigned value);

    // The engine's steps (ui/UploadEngine.cpp; the module headers in
    // ui/UploadModuleHeader.cpp).
    bool IsReceiverErrorReport(const std::uint8_t* data, int length) const;
    void OnWaitReady(const std::uint8_t* data, int length);
    void OnWaitFunction(const std::uint8_t* data, int length);
    void OnWaitFunctionRequest(std::uint8_t first);
    void OnWaitStartUpload(std::uint8_t first);
    void OnModuleHeaderBytes(const std::uint8_t* data, int length);
    void OnModuleHeader(bool bExtraBytes);
    void OnPacketBytes(const std::uint8_t* data, int length);
    // True when the packet was a duplicate, so the chunk's further bytes begin the next one.
    bool OnPacketComplete();
    void RefusePacket(const std::string& reason);
    bool IsDuplicatePacket(std::uint8_t sequence) const;
    void RequestModuleHeader();
    void RequestPacket();
    void CompleteUpload();
    // Ends the transfer on a file error: the reason in a box, the reset.
    void FailOnFileError(const std::string& reason);
    // Ends the transfer with `kind`: "ERROR : " and `reason` in a box, what
    // came kept as .partial, the reset, and the page waits for the receiver again.
    void FailTransfer(TransferEndKind kind, const std::string& text);
    // False (the upload ended) when the module's data can no longer fit its
    // kind: more than it holds, or less once its last packet came.
    bool CheckModuleLength(bool lastPacket);
    void ShowTransferProgress();
    void SetTransferBars(int bytesDone);
    void PlayTones(int firstHz, int secondHz);
    void LogReceivedByte(std::uint8_t byte);

    // The page (ui/UploadPage.cpp).
    // Closes the output of an unfinished upload; returns the sentence that tells
    // where its data went ("" when nothing was open or nothing had come).
    std::string KeepPartialOutput();
    // Tells the window how the transfer under way ended (SetTransferEnd), once.
    void SignalTransferEnd();
    void ShowPath(const std::string& path);

    int m_nUploadKind = int(::UploadKind::Digital);
    CStepTexts m_steps;
    std::string m_strFilePath;
    CUploadFile m_outFile;
    // Where the upload's data goes: m_outFile unless a front end chose another sink.
    CUploadSink* m_pOutput = &m_outFile;
    std::string m_strKeptPartialPath;

    // True from the receiver's ready until the window was told how it ended.
    bool m_bTransferRunning = false;
    // Modules started in this transfer, for the window's progress line.
    int m_nModuleIndex = 0;
    // Bytes still to drop of a repeated last packet that came where the next
    // module header was expected (a slow receiver answered a request and its
    // repeat); 0 when nothing is being dropped.
    int m_nRepeatBytesToDrop = 0;
    // Data bytes of the current module written to the file, and what its
    // header block says it holds (its kind, in words, for the error).
    int m_nModuleBytes = 0;
    int m_nModuleExpectedBytes = 0;
    std::string m_strModuleKind;
};
