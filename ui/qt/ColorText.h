// A static text with a colour of its own and a highlight switch: the numbered
// step texts of the transfer pages. The text draws nothing special by itself;
// the page that contains it decides the text colour (CPageWidget::TextColorFor),
// recognising the control by its class name "CColorText".
#pragma once

#include "ui/PageWindow.h"

#include <QLabel>

class CColorText : public QLabel
{
    Q_OBJECT
public:
    explicit CColorText(const QString& text, QWidget* parent = nullptr);

    // Stores the colour; the screen changes at the next repaint.
    void SetColor(ColorRef color);
    // Stores the switch and repaints the control.
    void SetHighlight(bool on);

    bool m_bHighlight = false;
    ColorRef m_crText = 0;

    // 0x00BBGGRR as a Qt colour.
    static QColor ToQColor(ColorRef color);

protected:
    void paintEvent(QPaintEvent* event) override;
};
