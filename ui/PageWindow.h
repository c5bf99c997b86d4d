// The window a page draws into, addressed by control id as the pages' dialogs
// are. The pages hold no widget code: the Qt front end, the console of `kavdm`
// and the tests' recorder each implement this interface.
//
// Every call is made on the protocol thread. Control updates must not wait for
// the window thread; MessageBox() is the one call that blocks, until the user
// has closed the box (a front end shutting down closes open boxes itself).
#pragma once

#include "ui/TransferEnd.h"

#include <cstdint>
#include <string>

enum class BoxIcon
{
    Information, // the "i" in a circle: a step done, a reminder
    Error,       // the stop sign: something failed
    Exclamation, // the warning triangle
};

// A colour as 0x00BBGGRR, the way the pages' colours are written (RGB(r, g, b)).
using ColorRef = std::uint32_t;
constexpr ColorRef RGB(int r, int g, int b)
{
    return ColorRef(r & 0xFF) | (ColorRef(g & 0xFF) << 8) | (ColorRef(b & 0xFF) << 16);
}

// Where a transfer stands, for front ends that show their own progress (the
// command line's progress bar). Byte counts are exact, not scaled for a bar.
struct TransferProgress
{
    int module = 0;                   // 1-based index of the module being sent or received
    int packet = 0;                   // number of the packet just handled within the module
    std::int64_t bytesDone = 0;       // bytes moved so far in this transfer
    std::int64_t totalBytes = 0;      // bytes the transfer is expected to move
    std::int64_t elapsedSeconds = 0;  // since the receiver's ready was answered
    std::int64_t estimatedSeconds = 0; // estimated duration of the whole transfer (0: none yet)
};

// The caption of every box a page shows.
inline constexpr const char* kBoxCaption = "DOWNLOAD MANAGER";

class CPageWindow
{
public:
    virtual ~CPageWindow() = default;

    // Progress bars (1019, 1020, 1021).
    virtual void SetRange(int id, int lower, int upper) = 0;
    virtual void SetPos(int id, int position) = 0;
    // Check boxes (1031 to 1033).
    virtual void SetCheck(int id, bool checked) = 0;
    // Static texts (1027, 1028, 1034, 1035) and the file edit (1002: select all,
    // replace by the text, scroll to the caret).
    virtual void SetText(int id, const std::string& text) = 0;
    // Step texts (1038 to 1040): colour and highlight (lit: drawn in its colour,
    // unlit: in the normal text colour).
    virtual void SetColor(int id, ColorRef color) = 0;
    virtual void SetHighlight(int id, bool on) = 0;
    // Animation (1037): play frames first..last (-1: the clip's last), `repeat`
    // times (-1: without end; 0 with frames 0..0 shows the first frame still).
    virtual void PlayAnimation(int id, int repeat, int first, int last) = 0;
    virtual void StopAnimation(int id) = 0;
    // Message log (1023): insert a line at the top.
    virtual void InsertLog(int id, const std::string& text) = 0;

    // A modal box with the page's caption; returns when the user closed it.
    virtual void MessageBox(const std::string& text, BoxIcon icon) = 0;

    // The page's window timer: ticks every `periodMs` until killed; each tick
    // reaches the page's OnTimer(id) on the protocol thread. Setting a running
    // timer again restarts its period.
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;

    // The busy cursor while an image loads.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // A short tone. Returns at once; the page makes the pause itself.
    virtual void Beep(int frequencyHz, int durationMs) = 0;

    // The methods below have default bodies so that every window layer keeps
    // compiling when one is added.

    // A modal box with a detailed text under the main one (the system's reason
    // and a hint when a port cannot be opened). Blocks like MessageBox().
    virtual void MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
    {
        (void)detail;
        MessageBox(text, icon);
    }

    // A line for the details of the box that says port `portNumber` could not
    // be opened: where to choose another device for it. "" for none.
    virtual std::string PortOpenHint(int portNumber)
    {
        (void)portNumber;
        return {};
    }

    // Whether a page's reset puts its line back at the resting rate for the
    // next transfer (`afterLoss`: the reset follows a lost port). A front end
    // that ends with the first transfer's end or a lost port says no: it closes
    // the port right after, and a reopen by name would hold, meanwhile, any
    // device that has taken that name since (a new adapter, another program's
    // pseudo-terminal).
    virtual bool ReopensLineAfterReset(bool afterLoss)
    {
        (void)afterLoss;
        return true;
    }

    // Transfer milestones, for front ends that act on them (the command line's
    // exit code and progress bar). Called on the protocol thread, never blocking.
    // The receiver's ready was answered: a transfer is under way.
    virtual void TransferStarted() {}
    // A packet went out (download) or came in (upload).
    virtual void ShowProgress(const TransferProgress& progress) { (void)progress; }
    // The page is about to reset: how the transfer (or the wait for one) ended
    // and why. Completed() is true for the receiver's or the page's completion.
    virtual void TransferEnded(const TransferEnd& end) { (void)end; }
};
