#include "image/UploadSinkPair.h"

bool CUploadSinkPair::Failed(CUploadSink& sink)
{
    m_pFailed = &sink;
    return false;
}

bool CUploadSinkPair::Open(const std::string& target)
{
    if (!m_first.Open(target))
        return Failed(m_first);
    if (!m_second.Open(target))
    {
        m_first.Discard();
        return Failed(m_second);
    }
    return true;
}

bool CUploadSinkPair::Write(const void* data, std::size_t length)
{
    if (!m_first.Write(data, length))
        return Failed(m_first);
    if (!m_second.Write(data, length))
        return Failed(m_second);
    return true;
}

bool CUploadSinkPair::Commit()
{
    if (!m_first.Commit())
        return Failed(m_first);
    if (!m_second.Commit())
        return Failed(m_second);
    return true;
}

std::string CUploadSinkPair::Abandon()
{
    const std::string kept = m_first.Abandon();
    const std::string keptToo = m_second.Abandon();
    if (!kept.empty())
        m_pFailed = &m_first; // says why, should the data have stayed under its temporary name
    return kept.empty() ? keptToo : kept;
}

void CUploadSinkPair::Discard()
{
    m_first.Discard();
    m_second.Discard();
}
