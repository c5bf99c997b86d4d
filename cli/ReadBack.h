// The read-back check of `kavdm verify` and `kavdm download --verify`: the
// receiver's memory read by the upload exchange into memory (and into a file
// too with --save), then set against what a download of the image puts in the
// receiver (image/ReadBackCheck.h), with a row per module printed.
//
// Runs on the command's main thread, like CTransferRunner, which it uses.
#pragma once

#include "cli/TransferRunner.h"
#include "image/ImageFile.h"
#include "image/ReadBackCheck.h"

#include <optional>
#include <string>

class CTransferEventWindow;

// The image a check compares with. A BIN file stays open from the load on, so
// a file changed on disk meanwhile is noticed rather than compared.
struct ReadBackImage
{
    std::string path;
    CImageFile image;
    UploadKind kind = UploadKind::Digital; // what the upload asks for: the kinds of data module the image holds
};

// Loads the image to check into `target`: "" when it can be checked, else the
// sentence saying why not (it cannot be read, or it holds firmware only, which
// a receiver cannot send back).
std::string LoadReadBackImage(const std::string& path, ReadBackImage& target);

struct ReadBackRequest
{
    TransferOptions transfer;
    std::string savePath;                   // --save FILE: the upload written there as well; "" for memory only
    CTransferEventWindow* events = nullptr; // --json: the read-back's events go there
    bool afterDownload = false;             // the receiver was just written to: ask for it to be switched again
};

struct ReadBackResult
{
    TransferOutcome outcome = TransferOutcome::NotStarted; // of the upload
    int signal = 0;
    TransferEnd end;                    // the check's end: complete when verified, different, or the upload's end
    std::optional<ReadBackCheck> check; // when the memory was read back and compared
    std::string savedPath;              // --save: the file written, or the .partial kept ("" when none)
    int exitCode = 1;                   // 0 verified, 1 different or failed, 3 --wait ran out, 128+N on signal N

    // true verified, false different, nullopt not checked.
    std::optional<bool> Verified() const;
};

// Reads the receiver's memory back and checks it against `target`; `what`
// names the command in messages ("verify", "download"). Prints the table (on
// stdout, or on stderr with --json unless quiet), emits the "verify" event,
// and writes the result to the --log file. The caller emits "ended".
ReadBackResult RunReadBack(const std::string& what, ReadBackImage& target, const ReadBackRequest& request);
