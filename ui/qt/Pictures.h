// The program's pictures, drawn in code so that no image file is needed: the
// maker's logo, the title pictures of the pages, the three illustrations of
// the Information page, the application icon and the transfer animation.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace Pictures
{
inline constexpr int kAnimationFrameCount = 17;
inline constexpr int kAnimationWidth = 280;
inline constexpr int kAnimationHeight = 56;
inline constexpr int kAnimationFrameMs = 100; // 10 frames per second

QImage Logo();                  // 250 x 75
QImage DownloadTitle();         // "Download Panel", 172 x 27
QImage UploadTitle();           // "Upload Panel", 173 x 27
QImage InformationTitle();      // "Information", 124 x 31
QImage ComPortIllustration();   // the COM radio buttons, pointer on COM2, 180 x 48
QImage BrowseIllustration();    // "Browse" and "Clear", pointer on "Browse", 132 x 48
QImage ReceiverIllustration();  // the receiver's front panel, pointer on standby, 169 x 38
QImage AnimationFrame(int index); // 280 x 56; index modulo the frame count
QImage IconImage(int size);     // the application icon, size x size
QIcon AppIcon();

// A title in purple italics, centred in a picture of the given size.
QImage TitlePicture(const QString& text, int width, int height);
} // namespace Pictures
