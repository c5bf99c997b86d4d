// The three coloured step texts of a transfer page (1038, 1039, 1040): one is
// lit at a time, drawn in its own colour, the others in the normal text colour.
// The pages keep the highlight state here because the reset looks at it.
#pragma once

#include "ui/ControlIds.h"
#include "ui/PageWindow.h"

#include <array>

class CStepTexts
{
public:
    static constexpr std::array<int, 3> kIds{IDC_STEP1, IDC_STEP2, IDC_STEP3};
    static constexpr std::array<ColorRef, 3> kColors{RGB(0, 150, 0), RGB(255, 0, 0), RGB(0, 0, 255)};

    explicit CStepTexts(CPageWindow* window) : m_pWindow(window) {}

    // Gives each text its colour and lights the first.
    void Initialise();
    // Lights step `step` (1 to 3) and unlights the other two.
    void Light(int step);
    bool IsLit(int step) const { return step >= 1 && step <= 3 && m_bLit[step - 1]; }

private:
    void SetHighlight(int index, bool on);

    CPageWindow* m_pWindow;
    std::array<bool, 3> m_bLit{};
};
