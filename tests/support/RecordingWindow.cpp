#include "support/RecordingWindow.h"

#include <algorithm>

namespace testsupport
{
namespace
{
const char* IconName(BoxIcon icon)
{
    switch (icon)
    {
    case BoxIcon::Information:
        return "Info";
    case BoxIcon::Error:
        return "Error";
    case BoxIcon::Exclamation:
        return "Exclamation";
    }
    return "?";
}
} // namespace

void CRecordingWindow::SetRange(int id, int lower, int upper)
{
    ranges[id] = {lower, upper};
    events.push_back("SetRange " + std::to_string(id) + " " + std::to_string(lower) + " " + std::to_string(upper));
}

void CRecordingWindow::SetPos(int id, int position)
{
    positions[id] = position;
    m_positionHistory.emplace(id, position);
    events.push_back("SetPos " + std::to_string(id) + " " + std::to_string(position));
}

void CRecordingWindow::SetCheck(int id, bool checked)
{
    checks[id] = checked;
    events.push_back("SetCheck " + std::to_string(id) + " " + (checked ? "1" : "0"));
}

void CRecordingWindow::SetText(int id, const std::string& text)
{
    texts[id] = text;
    events.push_back("SetText " + std::to_string(id) + " " + text);
}

void CRecordingWindow::SetColor(int id, ColorRef color)
{
    colors[id] = color;
}

void CRecordingWindow::SetHighlight(int id, bool on)
{
    highlights[id] = on;
    events.push_back("SetHighlight " + std::to_string(id) + " " + (on ? "1" : "0"));
}

void CRecordingWindow::PlayAnimation(int id, int repeat, int first, int last)
{
    animations[id] = Animation{repeat != 0, repeat, first, last};
    events.push_back("Play " + std::to_string(id) + " " + std::to_string(repeat) + " " + std::to_string(first) +
                     " " + std::to_string(last));
}

void CRecordingWindow::StopAnimation(int id)
{
    animations[id].playing = false;
    events.push_back("Stop " + std::to_string(id));
}

void CRecordingWindow::InsertLog(int id, const std::string& text)
{
    (void)id;
    log.insert(log.begin(), text);
}

void CRecordingWindow::MessageBox(const std::string& text, BoxIcon icon)
{
    MessageBoxDetail(text, icon, "");
}

void CRecordingWindow::MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
{
    boxes.push_back(Box{text, icon, detail});
    events.push_back(std::string("Box ") + IconName(icon) + ": " + text);
    if (onBox)
        onBox(boxes.back());
}

void CRecordingWindow::SetTimer(int id, int periodMs)
{
    timerPeriods[id] = periodMs;
    ++timersSet;
}

void CRecordingWindow::KillTimer(int id)
{
    timerPeriods.erase(id);
    ++timersKilled;
}

void CRecordingWindow::Beep(int frequencyHz, int durationMs)
{
    beeps.emplace_back(frequencyHz, durationMs);
}

std::vector<int> CRecordingWindow::PositionHistory(int id) const
{
    std::vector<int> result;
    auto [begin, end] = m_positionHistory.equal_range(id);
    for (auto it = begin; it != end; ++it)
        result.push_back(it->second);
    return result;
}

std::vector<std::string> CRecordingWindow::TopLog(std::size_t count) const
{
    return std::vector<std::string>(log.begin(), log.begin() + std::min(count, log.size()));
}

bool CRecordingWindow::LogContains(const std::string& line) const
{
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::vector<TransferEndKind> CRecordingWindow::EndKinds() const
{
    std::vector<TransferEndKind> kinds;
    for (const TransferEnd& end : transferEnds)
        kinds.push_back(end.kind);
    return kinds;
}

std::vector<std::string> CRecordingWindow::BoxTexts() const
{
    std::vector<std::string> result;
    for (const auto& box : boxes)
        result.push_back(box.text);
    return result;
}

void CRecordingWindow::ClearHistory()
{
    boxes.clear();
    events.clear();
    log.clear();
    m_positionHistory.clear();
    progress.clear();
    transfersEnded.clear();
    transferEnds.clear();
    transfersStarted = 0;
}
} // namespace testsupport
