// Where an upload's data goes. The upload page writes every module (its header
// block, then its data packet by packet) through this interface, so the same
// exchange fills a file (CUploadFile), memory for a check of what the receiver
// holds (CUploadMemory), or both (CUploadSinkPair).
//
// One upload is Open, any number of Writes, then exactly one of Commit (it
// completed), Abandon (it ended otherwise: keep what came where the sink can)
// or Discard (keep nothing). Every failure leaves a sentence for the user in
// LastErrorText().
#pragma once

#include <cstddef>
#include <string>

class CUploadSink
{
public:
    virtual ~CUploadSink() = default;

    // Starts a new upload for `target` (the file chosen; a memory sink only
    // keeps the name). An upload still open is abandoned first. False with the
    // reason when nothing can be written there.
    virtual bool Open(const std::string& target) = 0;
    // Appends `length` bytes. False (with the reason) when they could not all be kept.
    virtual bool Write(const void* data, std::size_t length) = 0;
    // The upload completed: its data becomes the result. On failure the sink
    // stays open, for Abandon() to keep what it can.
    virtual bool Commit() = 0;
    // The upload ended without completing: what came is kept where the user
    // can find it, and that path is returned ("" when it was kept nowhere a
    // user can reach, or nothing had come).
    virtual std::string Abandon() = 0;
    // Ends the upload without keeping anything.
    virtual void Discard() = 0;

    // Between Open and the end of the upload.
    virtual bool IsOpen() const = 0;
    // The file a commit replaces; "" for a sink that writes no file.
    virtual const std::string& TargetPath() const = 0;
    // A sentence naming what failed and why, for the last failure.
    virtual const std::string& LastErrorText() const = 0;
};
