// A window layer that shows nothing: every control update is dropped and a
// message box closes at once. Headless tools, benchmarks and tests derive from
// it and override only the calls they act on.
#pragma once

#include "ui/PageWindow.h"

class CNullWindow : public CPageWindow
{
public:
    void SetRange(int, int, int) override {}
    void SetPos(int, int) override {}
    void SetCheck(int, bool) override {}
    void SetText(int, const std::string&) override {}
    void SetColor(int, ColorRef) override {}
    void SetHighlight(int, bool) override {}
    void PlayAnimation(int, int, int, int) override {}
    void StopAnimation(int) override {}
    void InsertLog(int, const std::string&) override {}
    void MessageBox(const std::string&, BoxIcon) override {}
    void SetTimer(int, int) override {}
    void KillTimer(int) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void Beep(int, int) override {}
};
