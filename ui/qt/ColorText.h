// A static text with a colour of its own and a highlight switch: the numbered
// step texts of the transfer pages. The text draws nothing special by itself;
// the page that contains it decides the text colour (CPageWidget::TextColorFor),
// recognising the control by its class name "CColorText". Under a dark palette
// a colour too dark to read on the window is drawn lighter.
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
    // `color`, made lighter as far as needed to be read on a dark `background`
    // (a contrast ratio of at least 4.5:1); the hue stays.
    static QColor ReadableOn(const QColor& color, const QColor& background);

protected:
    void paintEvent(QPaintEvent* event) override;
};
