// The animation control of the transfer pages: plays the frames of the
// program's clip at 10 frames per second, like the common animation control.
#pragma once

#include "ui/qt/Pictures.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <vector>

class CAnimationCtrl : public QWidget
{
    Q_OBJECT
public:
    explicit CAnimationCtrl(QWidget* parent = nullptr);

    // Plays frames first..last (-1: the clip's last), `repeat` times (-1: without
    // end). Frames 0..0 with a repeat count of 0 show the first frame still.
    void Play(int repeat, int first, int last);
    void Stop();

    bool IsPlaying() const { return m_timer.isActive(); }
    int CurrentFrame() const { return m_nFrame; }
    int FrameCount() const { return int(m_frames.size()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnTick();
    // Draws the frames for the control's screen and palette.
    void DrawFrames();

    std::vector<QImage> m_frames;
    Pictures::Look m_look;
    QTimer m_timer;
    int m_nFrame = 0;
    int m_nFirst = 0;
    int m_nLast = 0;
    int m_nRepeatsLeft = 0; // -1: without end
};
