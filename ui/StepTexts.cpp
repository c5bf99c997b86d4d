#include "ui/StepTexts.h"

void CStepTexts::Initialise()
{
    for (int i = 0; i < 3; ++i)
        m_pWindow->SetColor(kIds[i], kColors[i]);
    for (int i = 0; i < 3; ++i)
        SetHighlight(i, i == 0);
}

void CStepTexts::Light(int step)
{
    for (int i = 0; i < 3; ++i)
        SetHighlight(i, i == step - 1);
}

void CStepTexts::SetHighlight(int index, bool on)
{
    m_bLit[index] = on;
    m_pWindow->SetHighlight(kIds[index], on);
}
