// Writes the application icon, drawn by the program's own code, as PNG files
// in the hicolor theme's layout: FOLDER/hicolor/NxN/apps/kavdm.png. With
// --all, also every other picture of the program (for the documentation).
#include "ui/qt/Pictures.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    // Drawing needs no screen: without a display (a build machine, a package
    // build) use the offscreen platform unless one was chosen explicitly.
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY") && !isSet("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: kavdm-pictures FOLDER [--all]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 24, 32, 48, 64, 128, 256})
    {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !Pictures::IconImage(size).save(dir + QStringLiteral("/kavdm.png")))
        {
            std::fprintf(stderr, "kavdm-pictures: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    if (argc > 2 && std::strcmp(argv[2], "--all") == 0)
    {
        const std::pair<const char*, QImage> pictures[] = {
            {"logo.png", Pictures::Logo()},
            {"download-title.png", Pictures::DownloadTitle()},
            {"upload-title.png", Pictures::UploadTitle()},
            {"information-title.png", Pictures::InformationTitle()},
            {"com-ports.png", Pictures::ComPortIllustration()},
            {"browse.png", Pictures::BrowseIllustration()},
            {"receiver.png", Pictures::ReceiverIllustration()},
        };
        for (const auto& [name, image] : pictures)
            image.save(folder + QLatin1Char('/') + QString::fromLatin1(name));
        for (int i = 0; i < Pictures::kAnimationFrameCount; ++i)
            Pictures::AnimationFrame(i).save(QStringLiteral("%1/animation-%2.png").arg(folder).arg(i, 2, 10, QLatin1Char('0')));
    }
    return 0;
}
