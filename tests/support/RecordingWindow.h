// A window layer for unit tests: records what a page shows, control by control,
// and answers message boxes at once. Used on one thread (the test's); a test
// that runs pages on a CProtocolThread reads it only after Sync().
#pragma once

#include "ui/PageWindow.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport
{
class CRecordingWindow : public CPageWindow
{
public:
    struct Box
    {
        std::string text;
        BoxIcon icon;
        std::string detail;
    };
    struct Animation
    {
        bool playing = false;
        int repeat = 0;
        int first = 0;
        int last = 0;
    };

    void SetRange(int id, int lower, int upper) override;
    void SetPos(int id, int position) override;
    void SetCheck(int id, bool checked) override;
    void SetText(int id, const std::string& text) override;
    void SetColor(int id, ColorRef color) override;
    void SetHighlight(int id, bool on) override;
    void PlayAnimation(int id, int repeat, int first, int last) override;
    void StopAnimation(int id) override;
    void InsertLog(int id, const std::string& text) override;
    void MessageBox(const std::string& text, BoxIcon icon) override;
    void MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void BeginWaitCursor() override { ++waitCursorDepth; }
    void EndWaitCursor() override { --waitCursorDepth; }
    void Beep(int frequencyHz, int durationMs) override;
    void TransferStarted() override { ++transfersStarted; }
    void ShowProgress(const TransferProgress& p) override { progress.push_back(p); }
    void TransferEnded(const TransferEnd& end) override
    {
        transfersEnded.push_back(end.Completed());
        transferEnds.push_back(end);
    }
    bool ReopensLineAfterReset(bool afterLoss) override
    {
        reopenQuestions.push_back(afterLoss);
        return reopensLineAfterReset;
    }
    std::string PortOpenHint(int portNumber) override
    {
        return portHint.empty() ? "" : portHint + " COM" + std::to_string(portNumber);
    }

    // What the controls show now.
    std::map<int, std::pair<int, int>> ranges;
    std::map<int, int> positions;
    std::map<int, bool> checks;
    std::map<int, std::string> texts;
    std::map<int, ColorRef> colors;
    std::map<int, bool> highlights;
    std::map<int, Animation> animations;
    std::string portHint; // PortOpenHint() gives it and the port's name, when set
    bool reopensLineAfterReset = true; // the answer to ReopensLineAfterReset()
    std::vector<bool> reopenQuestions; // its afterLoss arguments, in order
    std::vector<std::string> log; // newest first, as the list shows it
    // What happened, in order.
    std::vector<Box> boxes;
    std::vector<std::string> events; // "SetPos 1019 512", "Box Error: ...", ...
    std::vector<int> PositionHistory(int id) const;
    std::vector<std::pair<int, int>> beeps;
    std::map<int, int> timerPeriods; // running timers by id
    int timersSet = 0;
    int timersKilled = 0;
    int waitCursorDepth = 0;
    int transfersStarted = 0;
    std::vector<bool> transfersEnded;
    std::vector<TransferEnd> transferEnds; // the same ends, with their kinds and reasons
    std::vector<TransferProgress> progress;

    // Called for each box before it "closes" (e.g. to act while it is open).
    std::function<void(const Box&)> onBox;

    // Log lines newest first, the top `count` of them.
    std::vector<std::string> TopLog(std::size_t count) const;
    bool LogContains(const std::string& line) const;
    std::vector<std::string> BoxTexts() const;
    // The kinds of the transfer ends so far, in order.
    std::vector<TransferEndKind> EndKinds() const;
    void ClearHistory();

private:
    std::multimap<int, int> m_positionHistory;
};
} // namespace testsupport
