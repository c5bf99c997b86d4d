// The window layer's building blocks: dialog units, the coloured step texts,
// the page built from its template, the animation, the box broker across
// threads, the file filter and the command line.
#include "GuiTestSupport.h"

#include "app/CommandLine.h"
#include "protocol/ProtocolThread.h"
#include "ui/ControlIds.h"
#include "ui/UploadPage.h"
#include "ui/qt/AnimationCtrl.h"
#include "ui/qt/ColorText.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/PageWidget.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtPageWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace guitest;

namespace
{
// How many pixels of the widget's picture are close to `colour`.
int CountPixels(QWidget* widget, const QColor& colour)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
        {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 40 && std::abs(pixel.green() - colour.green()) < 40 &&
                std::abs(pixel.blue() - colour.blue()) < 40)
                ++count;
        }
    return count;
}

// The texts of a page's controls of one kind, in template order.
template <typename Control> QStringList TextsOf(const QWidget& page)
{
    QStringList texts;
    for (Control* control : page.findChildren<Control*>())
        texts << control->text();
    return texts;
}
} // namespace

class WidgetsTest : public QObject
{
    Q_OBJECT
private slots:
    void dialogUnitsFollowTheFontMetrics()
    {
        const QFont font = CDialogUnits::DialogFont();
        QVERIFY(font.family() == QLatin1String("Arial") || font.family() == QLatin1String("Liberation Sans"));
        const CDialogUnits units(font);
        QVERIFY(units.AverageCharWidth() > 3);
        QCOMPARE(units.X(4), units.AverageCharWidth());
        QCOMPARE(units.Y(8), units.CharHeight());
        QCOMPARE(units.Rect(4, 8, 8, 16), QRect(units.AverageCharWidth(), units.CharHeight(),
                                                2 * units.AverageCharWidth(), 2 * units.CharHeight()));
        // A larger font gives larger units: the layout scales with the font.
        const CDialogUnits larger(CDialogUnits::DialogFont(18));
        QVERIFY(larger.X(100) > units.X(100) * 3 / 2);
    }

    void litStepShowsItsColourUnlitTheNormalColour()
    {
        CPageWidget page(DownloadPageTemplate());
        auto* step2 = page.ControlAs<CColorText>(IDC_STEP2);
        QVERIFY(step2);
        QCOMPARE(step2->metaObject()->className(), "CColorText");
        page.SetColor(IDC_STEP2, RGB(255, 0, 0));
        page.show();
        const QColor red(255, 0, 0);
        // Colour stored but highlight off: drawn in the normal colour.
        QCOMPARE(CountPixels(step2, red), 0);
        page.SetHighlight(IDC_STEP2, true);
        QVERIFY(step2->m_bHighlight);
        QVERIFY(CountPixels(step2, red) > 10);
        QCOMPARE(page.TextColorFor(step2), red);
        page.SetHighlight(IDC_STEP2, false);
        QCOMPARE(CountPixels(step2, red), 0);
        // A plain static text is never coloured, whatever it is asked.
        QCOMPARE(page.TextColorFor(page.Control(IDC_STATUS_TEXT)), page.palette().color(QPalette::WindowText));
    }

    void informationPageHoldsItsFiveTextsAndFourPictures()
    {
        CPageWidget page(InfoPageTemplate());
        QStringList texts;
        int pictures = 0;
        for (QLabel* label : page.findChildren<QLabel*>())
        {
            if (!label->pixmap().isNull())
                ++pictures;
            else
                texts << label->text();
        }
        QCOMPARE(texts, QStringList({"1. Check that the correct COM port and Baud rate    are selected.",
                                     "2. Choose the binary file to be download.",
                                     "3. Connect the serial cable between the PC and IRD",
                                     "4. Power the IRD standby and then on.",
                                     "5. Transmission will begin automatically."}));
        QCOMPARE(pictures, 4);
    }

    void transferPagesKeepLogAndStatusHiddenAndCheckBoxesDisabled()
    {
        CPageWidget download(DownloadPageTemplate());
        download.show();
        QVERIFY(!download.Control(IDC_LOG_LIST)->isVisible());
        QVERIFY(!download.Control(IDC_STATUS_TEXT)->isVisible());
        for (int id : {IDC_CHECK_FIRMWARE, IDC_CHECK_DIGITAL, IDC_CHECK_ANALOG})
            QVERIFY(!download.Control(id)->isEnabled());
        download.InsertLog(IDC_LOG_LIST, "first");
        download.InsertLog(IDC_LOG_LIST, "second");
        QCOMPARE(download.LogLines(), QStringList({"second", "first"}));
        // A bar keeps its position within its range.
        download.SetRange(IDC_TOTAL_BAR, 0, 100);
        download.SetPos(IDC_TOTAL_BAR, 250);
        QCOMPARE(download.ControlAs<QProgressBar>(IDC_TOTAL_BAR)->value(), 100);
        // The edit's text is replaced whole.
        download.SetText(IDC_FILE_EDIT, "/tmp/a.bin");
        download.SetText(IDC_FILE_EDIT, "/tmp/b.stb");
        QCOMPARE(download.ControlAs<QLineEdit>(IDC_FILE_EDIT)->text(), QString("/tmp/b.stb"));
        // A path too long for the location text keeps its file name in view.
        const QString longPath = "/home/operator/receivers/site-" + QString(60, 'x') + "/firmware-2.bin";
        download.SetText(IDC_FILE_LOCATION, longPath);
        auto* location = download.ControlAs<QLabel>(IDC_FILE_LOCATION);
        QVERIFY(location->text().endsWith("firmware-2.bin"));
        QVERIFY(location->text().size() < longPath.size());
        QCOMPARE(location->toolTip(), longPath);
        download.SetText(IDC_FILE_LOCATION, "/tmp/short.bin");
        QCOMPARE(location->text(), QString("/tmp/short.bin"));
        QVERIFY(location->toolTip().isEmpty());

        CPageWidget upload(UploadPageTemplate());
        QVERIFY(upload.ControlAs<CColorText>(IDC_STEP1));
        QCOMPARE(upload.ControlAs<CColorText>(IDC_STEP3)->text(), QString("3. Wait during a few minites."));
        QVERIFY(!upload.Control(IDC_CHECK_FIRMWARE));
    }

    void transferPagesCarryTheirTemplateTexts()
    {
        // Every static text of each page in template order, hidden ones included.
        auto labelTexts = [](const CPageWidget& page) {
            QStringList texts;
            for (QLabel* label : page.findChildren<QLabel*>())
                if (label->pixmap().isNull())
                    texts << label->text();
            return texts;
        };
        CPageWidget download(DownloadPageTemplate());
        QCOMPARE(labelTexts(download),
                 QStringList({"1. Select BIN or STB file.", "2. Power the IRD standby and  then on.",
                              "3. Wait a few minites.", "From :", "File location", "Status :", "State ",
                              "Packet   :", "Module  :", "Total      :", "Estim... Time :", "Static",
                              "Current  Time :", "Static"}));
        QCOMPARE(TextsOf<QPushButton>(download), QStringList({"Browse", "Clear"}));
        QCOMPARE(TextsOf<QCheckBox>(download),
                 QStringList({"Firmware download", "Digital data download", "Analog data download"}));
        QVERIFY(download.Control(IDC_BROWSE) && download.Control(IDC_CLEAR));

        CPageWidget upload(UploadPageTemplate());
        QCOMPARE(labelTexts(upload),
                 QStringList({"1. Select STB file.", "2. Power the IRD standby and  then on.",
                              "3. Wait during a few minites.", "From :", "File location", "Status  :", "State ",
                              "Packet   :", "Module  :", "Total      :", "Estim... Time :", "Static",
                              "Current  Time :", "Static"}));
        QCOMPARE(TextsOf<QPushButton>(upload), QStringList({"Browse", "Clear"}));
        QVERIFY(upload.Control(IDC_UPLOAD_BROWSE) && upload.Control(IDC_UPLOAD_CLEAR));

        // The status labels stay hidden with the status lines.
        for (CPageWidget* page : {&download, &upload})
        {
            page->show();
            QVERIFY(!page->Control(IDC_STATUS_LABEL)->isVisible());
            QVERIFY(!page->Control(IDC_STATUS_TEXT)->isVisible());
        }
    }

    void fileDialogListsTheFilterNamesAsWorded()
    {
        const std::pair<const char*, QStringList> cases[] = {
            {"Bin File or Stb File(*.bin;*.stb)|*.bin;*.stb|All file (*.*)|*.*|",
             {"Bin File or Stb File(*.bin;*.stb)", "All file (*.*)"}},
            {"Bin File (*.bin)|*.bin|All file (*.*)|*.*|", {"Bin File (*.bin)", "All file (*.*)"}},
        };
        for (const auto& [filter, shown] : cases)
        {
            QFileDialog dialog;
            dialog.setOption(QFileDialog::DontUseNativeDialog, true);
            ConfigureFileDialog(dialog, FileDialogRequest{QString::fromLatin1(filter), {}, {}, false, {}});
            auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
            QVERIFY(types);
            QStringList items;
            for (int i = 0; i < types->count(); ++i)
                items << types->itemText(i);
            QCOMPARE(items, shown);
            // The patterns still filter, upper-case names included.
            QVERIFY(dialog.nameFilters().value(0).contains("*.BIN"));
        }
    }

    void animationLoopsAndShowsTheFirstFrameStill()
    {
        CAnimationCtrl animation;
        QCOMPARE(animation.FrameCount(), Pictures::kAnimationFrameCount);
        QCOMPARE(Pictures::AnimationFrame(3).size(), QSize(280, 56));
        // Different frames really differ.
        QVERIFY(Pictures::AnimationFrame(0) != Pictures::AnimationFrame(5));
        animation.Play(-1, 0, -1);
        QVERIFY(animation.IsPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(animation.CurrentFrame() >= 2, 2000);
        animation.Stop();
        QVERIFY(!animation.IsPlaying());
        animation.Play(0, 0, 0);
        QVERIFY(!animation.IsPlaying());
        QCOMPARE(animation.CurrentFrame(), 0);
        // Played once, it stops on its last frame.
        animation.Play(1, 14, -1);
        QTRY_VERIFY_WITH_TIMEOUT(!animation.IsPlaying(), 2000);
        QCOMPARE(animation.CurrentFrame(), Pictures::kAnimationFrameCount - 1);
    }

    void picturesHaveTheirSizes()
    {
        QCOMPARE(Pictures::Logo().size(), QSize(250, 75));
        QCOMPARE(Pictures::DownloadTitle().size(), QSize(172, 27));
        QCOMPARE(Pictures::UploadTitle().size(), QSize(173, 27));
        QCOMPARE(Pictures::InformationTitle().size(), QSize(124, 31));
        QCOMPARE(Pictures::ComPortIllustration().size(), QSize(180, 48));
        QCOMPARE(Pictures::BrowseIllustration().size(), QSize(132, 48));
        QCOMPARE(Pictures::ReceiverIllustration().size(), QSize(169, 38));
        // The title is purple.
        QLabel title;
        title.setPixmap(QPixmap::fromImage(Pictures::DownloadTitle()));
        title.resize(172, 27);
        QVERIFY(CountPixels(&title, QColor(128, 0, 128)) > 20);
        QVERIFY(!Pictures::AppIcon().isNull());
    }

    void brokerBlocksTheCallerUntilTheBoxIsClosedAndShutdownReleasesIt()
    {
        auto log = std::make_shared<BoxLog>();
        log->bAutoClose = false;
        CMessageBoxBroker broker(std::make_unique<CRecordingPresenter>(log));
        std::atomic<int> returned{0};
        std::thread caller([&] {
            broker.ShowAndWait(BoxRequest{"first", BoxIcon::Error, "why"});
            ++returned;
            broker.ShowAndWait(BoxRequest{"second", BoxIcon::Information, {}});
            ++returned;
        });
        QTRY_COMPARE(int(log->boxes.size()), 1);
        QTest::qWait(50);
        QCOMPARE(returned.load(), 0); // still waiting for the user
        QCOMPARE(log->boxes[0].detail, std::string("why"));
        log->CloseHeld();
        QTRY_COMPARE(returned.load(), 1);
        QTRY_COMPARE(int(log->boxes.size()), 2);
        // Program exit: the open box is closed and the caller goes on.
        broker.Shutdown();
        QTRY_COMPARE(returned.load(), 2);
        caller.join();
        QVERIFY(log->bClosedAll);
        // Afterwards a box returns at once without being shown.
        std::thread late([&] { broker.ShowAndWait(BoxRequest{"late", BoxIcon::Error, {}}); });
        late.join();
        QCOMPARE(int(log->boxes.size()), 2);
    }

    void realBoxIsCaptionedWithTheDetailsAndClosedAtExit()
    {
        QWidget parent;
        parent.show();
        CQtBoxPresenter presenter(&parent);
        int closed = 0;
        presenter.Present(BoxRequest{"ERROR: Cannot open COM3 port!", BoxIcon::Error,
                                     "COM3 (/dev/ttyUSB0): Permission denied\nadd your user to the dialout group"},
                          [&] { ++closed; });
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = parent.findChild<QMessageBox*>()) != nullptr);
        QCOMPARE(box->windowTitle(), QString("DOWNLOAD MANAGER"));
        QCOMPARE(box->text(), QString("ERROR: Cannot open COM3 port!"));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QVERIFY(box->detailedText().contains("dialout"));
        QVERIFY(box->windowModality() != Qt::NonModal);
        QCOMPARE(closed, 0);
        presenter.Present(BoxRequest{"COM Port changed to COM3 ", BoxIcon::Information, {}}, [&] { ++closed; });
        presenter.CloseAll();
        QTRY_COMPARE(closed, 2);
    }

    void windowLayerQueuesUpdatesAndRunsTimerTicksOnTheProtocolThread()
    {
        CPageWidget page(DownloadPageTemplate());
        auto log = std::make_shared<BoxLog>();
        CMessageBoxBroker broker(std::make_unique<CRecordingPresenter>(log));
        CProtocolThread protocol;
        CQtPageWindow window(&page, broker, protocol);
        std::atomic<int> ticks{0};
        std::atomic<bool> tickOnProtocolThread{true};
        protocol.Post([&] {
            window.SetTickHandler([&](int id) {
                if (id == kPageTimerId)
                    ++ticks;
                if (!protocol.IsCurrentThread())
                    tickOnProtocolThread = false;
            });
            window.SetRange(IDC_PACKET_BAR, 0, 1024);
            window.SetPos(IDC_PACKET_BAR, 512);
            window.SetCheck(IDC_CHECK_DIGITAL, true);
            window.SetText(IDC_FILE_LOCATION, "/data/image.bin");
            window.InsertLog(IDC_LOG_LIST, "line");
            window.SetTimer(kPageTimerId, 20);
            window.MessageBoxDetail("boxed", BoxIcon::Error, "the reason");
        });
        // No Sync() here: the step waits for the box, which this thread shows.
        QTRY_COMPARE(log->Texts(), QStringList({"boxed"}));
        QTRY_COMPARE(page.ControlAs<QProgressBar>(IDC_PACKET_BAR)->value(), 512);
        QVERIFY(page.ControlAs<QCheckBox>(IDC_CHECK_DIGITAL)->isChecked());
        QCOMPARE(page.ControlAs<QLabel>(IDC_FILE_LOCATION)->text(), QString("/data/image.bin"));
        QCOMPARE(page.LogLines(), QStringList({"line"}));
        QCOMPARE(log->Texts(), QStringList({"boxed"}));
        QTRY_VERIFY(ticks.load() >= 3);
        protocol.Post([&] { window.KillTimer(kPageTimerId); });
        protocol.Sync();
        const int stopped = ticks.load();
        QTest::qWait(100);
        QVERIFY(ticks.load() <= stopped + 1); // a tick already queued may still run
        QVERIFY(tickOnProtocolThread.load());
        protocol.Stop();
    }

    void fileFilterBecomesQtFilterWithUpperCasePatterns()
    {
        QCOMPARE(QtFilterFromPipeFilter("Bin File or Stb File(*.bin;*.stb)|*.bin;*.stb|All file (*.*)|*.*|"),
                 QString("Bin File or Stb File(*.bin;*.stb) (*.bin *.BIN *.stb *.STB);;All file (*.*) (*)"));
        QCOMPARE(QtFilterFromPipeFilter("Bin File (*.bin)|*.bin|All file (*.*)|*.*|"),
                 QString("Bin File (*.bin) (*.bin *.BIN);;All file (*.*) (*)"));
    }

    void commandLineMapsPortsAndRefusesNonsense()
    {
        GuiOptions options = ParseGuiOptions({"--demo", "--com3", "/dev/ttyUSB0", "--com12=/dev/pts/4"});
        QVERIFY(options.strError.empty());
        QVERIFY(options.bDemo);
        QCOMPARE(options.portDevices.size(), size_t(2));
        QCOMPARE(options.portDevices[3], std::string("/dev/ttyUSB0"));
        QCOMPARE(options.portDevices[12], std::string("/dev/pts/4"));
        QVERIFY(!ParseGuiOptions({"--com3"}).strError.empty());
        QVERIFY(!ParseGuiOptions({"--com0", "/dev/x"}).strError.empty());
        QVERIFY(!ParseGuiOptions({"--comX", "/dev/x"}).strError.empty());
        QVERIFY(!ParseGuiOptions({"--com2="}).strError.empty());
        QVERIFY(!ParseGuiOptions({"a.bin", "b.bin"}).strError.empty());
        QVERIFY(ParseGuiOptions({}).portDevices.empty());
    }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
