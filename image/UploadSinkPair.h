// Two sinks that take the same upload: a check of the receiver's memory that
// also saves what it read (`kavdm verify --save FILE`) writes a file and memory
// at once. The first sink is the one whose place the user sees (the file): its
// target and its kept .partial are the pair's.
//
// A write or a commit that fails in either sink fails the pair, with that
// sink's reason; the first sink commits first, so a file that cannot be saved
// leaves the upload incomplete in both.
#pragma once

#include "image/UploadSink.h"

class CUploadSinkPair final : public CUploadSink
{
public:
    // Neither sink is owned; both outlive the pair's use.
    CUploadSinkPair(CUploadSink& first, CUploadSink& second) : m_first(first), m_second(second) {}

    bool Open(const std::string& target) override;
    bool Write(const void* data, std::size_t length) override;
    bool Commit() override;
    std::string Abandon() override;
    void Discard() override;

    bool IsOpen() const override { return m_first.IsOpen() || m_second.IsOpen(); }
    const std::string& TargetPath() const override { return m_first.TargetPath(); }
    const std::string& LastErrorText() const override { return m_pFailed->LastErrorText(); }

private:
    // Notes which sink failed; always false.
    bool Failed(CUploadSink& sink);

    CUploadSink& m_first;
    CUploadSink& m_second;
    const CUploadSink* m_pFailed = &m_first;
};
