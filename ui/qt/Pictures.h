// The program's pictures, drawn in code so that no image file is needed: the
// maker's logo, the title pictures of the pages, the three illustrations of
// the Information page, the application icon and the transfer animation.
// Each is drawn for a look: at a device pixel ratio (so that it stays sharp on
// a scaled screen; sizes below are in device-independent pixels) and for a
// light or a dark palette (the screens' own colours on a light palette; on a
// dark one the illustrations take dark faces and light lines and texts).
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

class QPalette;
class QWidget;

namespace Pictures
{
inline constexpr int kAnimationFrameCount = 17;
inline constexpr int kAnimationWidth = 280;
inline constexpr int kAnimationHeight = 56;
inline constexpr int kAnimationFrameMs = 100; // 10 frames per second

struct Look
{
    qreal dpr = 1.0;
    bool dark = false;
    bool operator==(const Look&) const = default;
};

// Whether a palette draws light text on a dark window.
bool IsDark(const QPalette& palette);
// The look a widget needs: its screen's device pixel ratio and its palette.
Look LookOf(const QWidget* widget);

QImage Logo(const Look& look = {});                // 250 x 75
QImage DownloadTitle(const Look& look = {});       // "Download Panel", 172 x 27
QImage UploadTitle(const Look& look = {});         // "Upload Panel", 173 x 27
QImage InformationTitle(const Look& look = {});    // "Information", 124 x 31
QImage ComPortIllustration(const Look& look = {}); // the COM radio buttons, pointer on COM2, 180 x 48
QImage BrowseIllustration(const Look& look = {});  // "Browse" and "Clear", pointer on "Browse", 132 x 48
QImage
ReceiverIllustration(const Look& look = {}); // the receiver's front panel, pointer on standby, 169 x 38
QImage AnimationFrame(int index, const Look& look = {}); // 280 x 56; index modulo the frame count
QImage IconImage(int size, const Look& look = {});       // the application icon, size x size
QIcon AppIcon();

// A title in purple italics, centred in a picture of the given size.
QImage TitlePicture(const QString& text, int width, int height, const Look& look = {});
} // namespace Pictures
