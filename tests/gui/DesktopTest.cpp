// What the program keeps and offers as a desktop program: port choices kept in
// the settings file, images opened by argument and drop, pictures drawn at the
// screen's pixel ratio and for a dark palette, and the saved log.
#include "GuiTestSupport.h"

#include "app/PortSettingsDlg.h"
#include "ui/ControlIds.h"
#include "ui/qt/ColorText.h"
#include "ui/qt/GuiSettings.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/PortSetupHint.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

using namespace guitest;

namespace
{
const QString kSamples = QStringLiteral(KAVDM_SOURCE_DIR "/resources/samples");

QString ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The rectangle of the pixels that differ clearly from the corner's.
QRect InkBox(const QImage& image)
{
    const QRgb corner = image.pixel(0, 0);
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
        {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(corner)) + std::abs(qGreen(p) - qGreen(corner)) +
                    std::abs(qBlue(p) - qBlue(corner)) + std::abs(qAlpha(p) - qAlpha(corner)) >
                96)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

// The contrast ratio of two colours as the rules for readable text define it.
double Contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c)
    {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void portChoiceIsKeptForTheNextRunAndYieldsToOptionAndEnvironment()
    {
        UseOwnConfigFolder();
        QFile::remove(CGuiSettings::FilePath());
        CTestPty adapter;
        const QString device = QString::fromStdString(adapter.SlavePath());
        {
            // COM2's default device is missing; the user picks the adapter in the dialog.
            SetPortDevice(2, "/nonexistent/kavdm-test-com2");
            AppUnderTest t;
            QVERIFY(t.Start());
            t.Frame()->findChild<QAction*>("actionPortSettings")->trigger();
            CPortSettingsDlg* dialog = nullptr;
            QTRY_VERIFY((dialog = t.Frame()->findChild<CPortSettingsDlg*>()) != nullptr);
            dialog->PortBox(2)->setCurrentText(device);
            dialog->PortBox(3)->setCurrentText("rfc2217://bench:4001");
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            // The port in use is opened again on its new device.
            QTRY_COMPARE(t.boxes->Count("COM Port changed to COM2 "), 1);
        }
        const QString file = ReadAll(CGuiSettings::FilePath());
        QVERIFY2(file.contains("[ports]") && file.contains("com2=" + device) &&
                     file.contains("com3=rfc2217://bench:4001"),
                 qPrintable(file));

        // The next run opens the kept device, without a box.
        ClearPortDevices();
        {
            AppUnderTest t;
            QVERIFY(t.Start());
            QCOMPARE(QString::fromStdString(PortDevicePath(2)), device);
            QTest::qWait(100);
            QVERIFY(t.boxes->boxes.empty());
        }
        // The environment wins over the file, an option over both.
        ClearPortDevices();
        qputenv("KAVDM_COM2", "/dev/from-environment");
        {
            AppUnderTest t;
            QVERIFY(t.app->InitInstance());
            QCOMPARE(PortDevicePath(2), std::string("/dev/from-environment"));
        }
        ClearPortDevices();
        {
            GuiOptions options;
            options.portDevices[2] = "/dev/from-option";
            AppUnderTest t(options);
            QVERIFY(t.app->InitInstance());
            QCOMPARE(PortDevicePath(2), std::string("/dev/from-option"));
        }
        qunsetenv("KAVDM_COM2");

        // An adapter is kept under its stable name; the box of a port that
        // cannot be opened names the adapters and where to assign one.
        SerialDeviceInfo usb;
        usb.name = "ttyUSB0";
        usb.devicePath = "/dev/ttyUSB0";
        usb.byIdPaths = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0"};
        usb.usbVendorId = "0403";
        usb.manufacturer = "FTDI";
        CPortSettingsDlg dialog({usb}, {}, {{4, "--com4 /dev/x"}});
        dialog.PortBox(1)->setCurrentText("/dev/ttyUSB0");
        QCOMPARE(dialog.Choices()[1], QString::fromStdString(usb.byIdPaths[0]));
        QVERIFY(dialog.findChild<QLabel*>("portOverride4"));
        const std::string hint = PortSetupHint(2, "/dev/ttyS1", {usb});
        QVERIFY(hint.find("/dev/ttyUSB0 (FTDI)") != std::string::npos);
        QVERIFY(hint.find("Menu > Port Settings") != std::string::npos);
        QVERIFY(PortSetupHint(2, "/dev/ttyUSB0", {usb}).empty());
    }

    void imagesOpenByArgumentDropAndShortcut()
    {
        CTestPty line;
        const QString firmware = kSamples + "/demo-firmware.stb";
        const QString mixed = kSamples + "/demo-mixed.stb";
        const QString previous = QDir::currentPath();
        QDir::setCurrent(kSamples);
        GuiOptions options =
            ParseGuiOptions({"--com2", QString::fromStdString(line.SlavePath()), "demo-firmware.stb"});
        QDir::setCurrent(previous);
        QVERIFY(options.strError.empty());
        QCOMPARE(options.strImage, firmware);

        AppUnderTest t(options);
        QVERIFY(t.Start());
        auto* edit = t.Page(1)->ControlAs<QLineEdit>(IDC_FILE_EDIT);
        QTRY_COMPARE(edit->text(), firmware);
        QCOMPARE(t.View()->CurrentPage(), 1);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);

        // A file dropped on the window.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(mixed)});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(t.Frame(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(t.Frame(), &drop);
        QTRY_COMPARE(edit->text(), mixed);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 2);
        QCOMPARE(CGuiSettings().RecentFiles().mid(0, 2), QStringList({mixed, firmware}));

        // Ctrl+O browses on the current page, the next time in the folder chosen before.
        QAction* browse = t.Frame()->findChild<QAction*>("actionBrowse");
        QCOMPARE(browse->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(t.Frame()->findChild<QAction*>("actionExit")->shortcut(), QKeySequence("Ctrl+Q"));
        t.files->answers = {firmware, QString()};
        browse->trigger();
        browse->trigger();
        QCOMPARE(t.files->requests.size(), size_t(2));
        QCOMPARE(t.files->requests[1].folder, kSamples);
    }

    void picturesAreDrawnAtThePixelRatioAndForADarkPalette()
    {
        using namespace Pictures;
        const std::function<QImage(const Look&)> pictures[] = {
            &Logo,
            &DownloadTitle,
            &ComPortIllustration,
            &BrowseIllustration,
            &ReceiverIllustration,
            [](const Look& look) { return AnimationFrame(5, look); },
            [](const Look& look) { return IconImage(32, look); }};
        for (const auto& draw : pictures)
        {
            const QImage one = draw(Look{1.0, false});
            const QImage two = draw(Look{2.0, false});
            QCOMPARE(two.size(), one.size() * 2);
            QCOMPARE(two.devicePixelRatio(), 2.0);
            QCOMPARE(two.deviceIndependentSize(), one.deviceIndependentSize());
            // The same drawing, finer: what it covers lies in the same place.
            const QRect inkOne = InkBox(one);
            const QRect inkTwo = InkBox(two);
            for (int edge : {inkTwo.left() / 2 - inkOne.left(), inkTwo.top() / 2 - inkOne.top(),
                             inkTwo.right() / 2 - inkOne.right(), inkTwo.bottom() / 2 - inkOne.bottom()})
                QVERIFY2(std::abs(edge) <= 2, qPrintable(QStringLiteral("%1 %2").arg(one.width()).arg(edge)));
        }

        // Under a dark palette the illustrations take a dark face and the step
        // colours are lightened until they read on the window.
        QVERIFY(QColor(ComPortIllustration(Look{1.0, true}).pixel(1, 1)).lightness() < 100);
        const QColor window(53, 53, 53);
        for (const QColor& step : {QColor(0, 150, 0), QColor(255, 0, 0), QColor(0, 0, 255)})
            QVERIFY(Contrast(CColorText::ReadableOn(step, window), window) >= 4.5);
    }

    void savedLogHoldsTimestampedLines()
    {
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        QTRY_VERIFY(t.Page(1)->LogLines().contains("Dialog initial"));
        QTemporaryDir folder;
        const QString path = folder.path() + "/report.txt";
        t.files->answers.push_back(path);
        t.Frame()->findChild<QAction*>("actionSaveLog")->trigger();
        QVERIFY(t.files->requests.back().bSave);

        const QStringList lines = ReadAll(path).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.value(0).startsWith("Kavronel Download Manager"));
        const QRegularExpression stamped(
            R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})  (DOWNLOAD|UPLOAD  )  (.*)$)");
        QString last;
        int stampedLines = 0;
        for (const QString& text : lines.mid(2))
        {
            const QRegularExpressionMatch match = stamped.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            QVERIFY(match.captured(1) >= last); // oldest first
            last = match.captured(1);
            ++stampedLines;
        }
        QVERIFY(stampedLines >= 3);
        QCOMPARE(lines.filter(QRegularExpression("  DOWNLOAD  Dialog initial$")).size(), 1);
        // The log window shows the time too; the page's own list keeps its texts.
        const QString newest = t.Page(1)->TimedLog()->index(0).data().toString();
        QVERIFY(newest.contains(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d{3}  )")));
        QVERIFY(newest.endsWith("  " + t.Page(1)->LogLines().value(0)));
    }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
