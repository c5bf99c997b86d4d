// A static picture drawn in code: shows the picture drawn for its screen's
// device pixel ratio and its palette, and draws it again when either changes
// (the window moved to another screen, the desktop switched to a dark theme).
#pragma once

#include "ui/qt/Pictures.h"

#include <QLabel>

#include <functional>

class CPictureLabel : public QLabel
{
    Q_OBJECT
public:
    using Painter = std::function<QImage(const Pictures::Look& look)>;

    explicit CPictureLabel(Painter painter, QWidget* parent = nullptr);

    // The picture's size in device-independent pixels.
    QSize PictureSize() const { return m_pictureSize; }

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Redraw();

    Painter m_painter;
    Pictures::Look m_look;
    QSize m_pictureSize;
};
