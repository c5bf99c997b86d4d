// Demo mode end to end: the simulated receiver on COM2, a shipped sample image
// downloaded, then an upload with a CRC fault, all from the Demo menu. Also
// saves screenshots of the tabs, the About box and both transfers under way
// into the build folder (screenshots/).
#include "GuiTestSupport.h"

#include "app/AboutDlg.h"
#include "app/DemoMode.h"
#include "support/TestSupport.h"
#include "ui/ControlIds.h"
#include "ui/UploadPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QtTest>

#include <filesystem>

using namespace guitest;

namespace
{
QString ScreenshotFolder()
{
    const QString folder = QStringLiteral(KAVDM_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    return folder;
}

bool Save(QWidget* widget, const QString& name)
{
    QCoreApplication::processEvents();
    return widget->grab().save(ScreenshotFolder() + QLatin1Char('/') + name);
}

int TotalBarPercent(CPageWidget* page)
{
    QProgressBar* bar = page->ControlAs<QProgressBar>(IDC_TOTAL_BAR);
    return bar->maximum() > 0 ? bar->value() * 100 / bar->maximum() : 0;
}

// The DOWNLOAD page of a demo run, a third into a download at 115200 baud.
bool DownloadUnderWay(AppUnderTest& t)
{
    CDemoMode* demo = t.app->Demo();
    t.View()->BaudRateBox()->setCurrentIndex(4);
    t.View()->OpenImage(demo->SamplesFolder() + "/demo-firmware.stb");
    if (!QTest::qWaitFor([&]
                         { return t.boxes->Count("Remember to power the IRD standby and then on!") == 1; }))
        return false;
    demo->SetPaced(true);
    return demo->PowerOn(ReceiverRole::Download) &&
           QTest::qWaitFor([&] { return TotalBarPercent(t.Page(1)) >= 35; }, 30000);
}

QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(235, 235, 235);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Light, QColor(90, 90, 90));
    dark.setColor(QPalette::Midlight, QColor(75, 75, 75));
    dark.setColor(QPalette::Mid, QColor(100, 100, 100));
    dark.setColor(QPalette::Dark, QColor(25, 25, 25));
    dark.setColor(QPalette::Shadow, Qt::black);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    dark.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return dark;
}
} // namespace

class DemoModeTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void demoDownloadThenUploadFromTheMenu()
    {
        GuiOptions options;
        options.bDemo = true;
        AppUnderTest t(options);
        QVERIFY(t.Start());
        CDemoMode* demo = t.app->Demo();
        QVERIFY(demo);
        QVERIFY(IsPortMapped(2));
        QVERIFY(t.boxes->boxes.empty()); // COM2 opened on the receiver's line
        QStringList menus;
        for (QAction* action : t.Frame()->menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, QStringList({"&Menu", "&Help", "&Demo"}));
        demo->SetPaced(false);

        // A shipped sample, downloaded at 115200.
        const QString sample = demo->SamplesFolder() + "/demo-mixed.stb";
        QVERIFY2(QFile::exists(sample), qPrintable(sample));
        t.View()->BaudRateBox()->setCurrentIndex(4);
        t.View()->TabCtrl()->setCurrentIndex(1);
        t.files->answers.push_back(sample);
        QTest::mouseClick(t.Page(1)->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QCOMPARE(t.files->requests.back().folder, demo->SamplesFolder());
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        t.Frame()->findChild<QAction*>("actionDemoDownload")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("Download Complete"), 1, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(demo->LastResult().size() > 0, 10000);

        // Then an upload into a new file, with a CRC fault on the way.
        const std::string folder = testsupport::MakeTempDir();
        const std::string target = folder + "/upload.bin";
        t.View()->TabCtrl()->setCurrentIndex(2);
        t.files->answers.push_back(QString::fromStdString(target));
        QTest::mouseClick(t.Page(2)->ControlAs<QPushButton>(IDC_UPLOAD_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 2);
        demo->SetFault("crc:5");
        t.Frame()->findChild<QAction*>("actionDemoUpload")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("Upload Complete"), 1, 120000);
        QCOMPARE(std::filesystem::file_size(target),
                 std::uintmax_t(2 * 64 + kFlashModuleLength + kEepromModuleLength));
        QVERIFY(demo->LogModel()->rowCount() > 0);
        t.app->ExitInstance();
        std::filesystem::remove_all(folder);
    }

    void chosenFaultReachesTheReceiver()
    {
        GuiOptions options;
        options.bDemo = true;
        AppUnderTest t(options);
        QVERIFY(t.Start());
        CDemoMode* demo = t.app->Demo();
        demo->SetPaced(false);
        t.View()->TabCtrl()->setCurrentIndex(1);
        t.files->answers.push_back(demo->SamplesFolder() + "/demo-firmware.bin");
        QTest::mouseClick(t.Page(1)->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        // An upload fault does not apply to a download; the download fault does.
        demo->SetFault("crc:5");
        demo->SetFault("status:5:W");
        QVERIFY(demo->PowerOn(ReceiverRole::Download));
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("ERROR  : Checksum check"), 1, 30000);
        QTest::qWait(500);
        QCOMPARE(t.boxes->Count("Download Complete"), 0);
        // Powered on again with no fault, the same image goes through.
        demo->SetFault("");
        QVERIFY(demo->PowerOn(ReceiverRole::Download));
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("Download Complete"), 1, 30000);
        t.app->ExitInstance();
    }

    void screenshots()
    {
        GuiOptions options;
        options.bDemo = true;
        AppUnderTest t(options);
        QVERIFY(t.Start());
        CDemoMode* demo = t.app->Demo();
        CMainFrame* frame = t.Frame();
        QVERIFY(Save(frame, "information.png"));

        // The DOWNLOAD page in the middle of a download at 115200 baud.
        t.View()->BaudRateBox()->setCurrentIndex(4);
        t.View()->TabCtrl()->setCurrentIndex(1);
        t.files->answers.push_back(demo->SamplesFolder() + "/demo-firmware.stb");
        QTest::mouseClick(t.Page(1)->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(Save(frame, "download.png"));
        demo->SetPaced(true);
        QVERIFY(demo->PowerOn(ReceiverRole::Download));
        QTRY_VERIFY_WITH_TIMEOUT(TotalBarPercent(t.Page(1)) >= 40, 30000);
        QVERIFY(Save(frame, "download-transfer.png"));
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("Download Complete"), 1, 60000);

        // The UPLOAD page in the middle of an upload.
        const std::string folder = testsupport::MakeTempDir();
        t.View()->TabCtrl()->setCurrentIndex(2);
        QVERIFY(Save(frame, "upload.png"));
        t.files->answers.push_back(QString::fromStdString(folder + "/receiver.bin"));
        QTest::mouseClick(t.Page(2)->ControlAs<QPushButton>(IDC_UPLOAD_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 2);
        QVERIFY(demo->PowerOn(ReceiverRole::Upload));
        QTRY_VERIFY_WITH_TIMEOUT(TotalBarPercent(t.Page(2)) >= 8, 60000);
        QVERIFY(Save(frame, "upload-transfer.png"));

        frame->OnAppAbout();
        CAboutDlg* about = nullptr;
        QTRY_VERIFY((about = frame->findChild<CAboutDlg*>()) != nullptr);
        QVERIFY(Save(about, "about.png"));
        about->accept();
        t.app->ExitInstance();
        std::filesystem::remove_all(folder);

        for (const char* name : {"information.png", "download.png", "download-transfer.png", "upload.png",
                                 "upload-transfer.png", "about.png"})
            QVERIFY(!QImage(ScreenshotFolder() + "/" + name).isNull());
    }

    // Run with QT_SCALE_FACTOR=2 (its own test): the window and its pictures
    // at twice the pixels.
    void screenshotAtScaleTwo()
    {
        if (qApp->devicePixelRatio() < 2)
            QSKIP("needs QT_SCALE_FACTOR=2");
        GuiOptions options;
        options.bDemo = true;
        AppUnderTest t(options);
        QVERIFY(t.Start());
        QVERIFY(DownloadUnderWay(t));
        const QPixmap shot = t.Frame()->grab();
        QCOMPARE(shot.devicePixelRatio(), 2.0);
        QCOMPARE(shot.size(), t.Frame()->size() * 2);
        QCOMPARE(t.View()->findChild<QLabel*>("logo")->pixmap().devicePixelRatio(), 2.0);
        QVERIFY(shot.save(ScreenshotFolder() + "/download-transfer-scale2.png"));
        t.app->ExitInstance();
    }

    void screenshotInADarkPalette()
    {
        const QPalette light = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        GuiOptions options;
        options.bDemo = true;
        AppUnderTest t(options);
        QVERIFY(t.Start());
        QVERIFY(Save(t.Frame(), "information-dark.png"));
        QVERIFY(DownloadUnderWay(t));
        QVERIFY(Save(t.Frame(), "download-transfer-dark.png"));
        t.app->ExitInstance();
        QApplication::setPalette(light);
    }
};

QTEST_MAIN(DemoModeTest)
#include "DemoModeTest.moc"
