// The DOWNLOAD page in the application: Browse, Clear, a whole download
// against the simulated receiver, and exit in the middle of a transfer.
#include "GuiTestSupport.h"

#include "support/TestSupport.h"
#include "image/SampleImages.h"
#include "receiver/SimulatedReceiver.h"
#include "serial/SerialPort.h"
#include "ui/ControlIds.h"
#include "ui/DownloadPage.h"
#include "ui/qt/ColorText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QtTest>

#include <filesystem>
#include <fstream>

using namespace guitest;

namespace
{
std::string WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsLit(CPageWidget* page, int id)
{
    return page->ControlAs<CColorText>(id)->m_bHighlight;
}

QString Text(CPageWidget* page, int id)
{
    if (auto* edit = page->ControlAs<QLineEdit>(id))
        return edit->text();
    // A long path is shown elided, whole in the tooltip.
    QLabel* label = page->ControlAs<QLabel>(id);
    return label->toolTip().isEmpty() ? label->text() : label->toolTip();
}

QProgressBar* Bar(CPageWidget* page, int id)
{
    return page->ControlAs<QProgressBar>(id);
}
} // namespace

class DownloadGuiTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void browseCancelOkAndClear()
    {
        const std::string folder = testsupport::MakeTempDir();
        const std::string image = WriteFile(folder + "/demo.bin", MakeDemoFirmwareImage());
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.View()->TabCtrl()->setCurrentIndex(1);
        CPageWidget* page = t.Page(1);
        QTRY_VERIFY(IsLit(page, IDC_STEP1));
        QVERIFY(!IsLit(page, IDC_STEP2) && !IsLit(page, IDC_STEP3));
        QCOMPARE(Text(page, IDC_ESTIMATED_TIME), QString(" 00 m 00 s"));
        QCOMPARE(Text(page, IDC_CURRENT_TIME), QString(" 00 m 00 s"));
        QCOMPARE(Bar(page, IDC_PACKET_BAR)->maximum(), 1024);

        // Cancel: nothing changes, no box.
        const size_t boxes = t.boxes->boxes.size();
        t.files->answers.push_back(QString());
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QCOMPARE(t.files->requests.size(), size_t(1));
        QCOMPARE(t.files->requests[0].filter,
                 QString("Bin File or Stb File(*.bin;*.stb)|*.bin;*.stb|All file (*.*)|*.*|"));
        t.OnProtocol([](CLumView&) { return true; }); // whatever the page was posted has run
        QCOMPARE(t.boxes->boxes.size(), boxes);
        QVERIFY(IsLit(page, IDC_STEP1));
        QCOMPARE(Text(page, IDC_FILE_EDIT), QString());
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::NoFile));

        // OK: the box, step 2, the path in the edit and the location.
        t.files->answers.push_back(QString::fromStdString(image));
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(t.boxes->boxes.back().icon == BoxIcon::Information);
        QTRY_VERIFY(IsLit(page, IDC_STEP2));
        QVERIFY(!IsLit(page, IDC_STEP1) && !IsLit(page, IDC_STEP3));
        QCOMPARE(Text(page, IDC_FILE_EDIT), QString::fromStdString(image));
        QCOMPARE(Text(page, IDC_FILE_LOCATION), QString::fromStdString(image));
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::WaitReady));

        // Clear: back to step 1, no file.
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_CLEAR), Qt::LeftButton);
        QTRY_VERIFY(IsLit(page, IDC_STEP1));
        QTRY_COMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::NoFile));
        QCOMPARE(Text(page, IDC_FILE_EDIT), QString());
        QCOMPARE(Text(page, IDC_FILE_LOCATION), QString());
        QVERIFY(!IsLit(page, IDC_STEP2));
        QVERIFY(page->LogLines().contains("State Reset"));

        // A file that cannot be read (here: gone before it was loaded): an error
        // box, no image, and the program goes on.
        const std::string missing = folder + "/vanished.bin";
        t.files->answers.push_back(QString::fromStdString(missing));
        const size_t before = t.boxes->boxes.size();
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_VERIFY(t.boxes->boxes.size() > before);
        bool sawError = false;
        for (size_t i = before; i < t.boxes->boxes.size(); ++i)
            sawError = sawError || t.boxes->boxes[i].icon == BoxIcon::Error;
        QVERIFY2(sawError, qPrintable(t.boxes->Texts().join(" | ")));
        QVERIFY(t.Frame()->isVisible());
        QTRY_VERIFY(IsLit(page, IDC_STEP1));
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::NoFile));

        // An STB file that does not decode: an error box, no image, the program goes on.
        const std::string junk = WriteFile(folder + "/junk.stb", {0x01, 0x02, 0x03});
        t.files->answers.push_back(QString::fromStdString(junk));
        const size_t beforeJunk = t.boxes->boxes.size();
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        auto errorAfter = [&](size_t from) {
            for (size_t i = from; i < t.boxes->boxes.size(); ++i)
                if (t.boxes->boxes[i].icon == BoxIcon::Error)
                    return true;
            return false;
        };
        QTRY_VERIFY2(errorAfter(beforeJunk), qPrintable(t.boxes->Texts().join(" | ")));
        QCOMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::NoFile));
        QVERIFY(t.Frame()->isVisible());
        std::filesystem::remove_all(folder);
    }

    void wholeDownloadAgainstTheSimulatedReceiver()
    {
        const std::string folder = testsupport::MakeTempDir();
        const std::vector<std::uint8_t> bytes = MakeDemoMixedImage();
        const std::string image = WriteFile(folder + "/mixed.bin", bytes);
        CSimulatedReceiver receiver;
        std::string slave, error;
        QVERIFY2(receiver.Start(slave, error), error.c_str());
        SetPortDevice(2, slave);

        AppUnderTest t;
        t.boxes->holdTexts << "Download Complete";
        QVERIFY(t.Start());
        t.View()->BaudRateBox()->setCurrentIndex(4); // 115200
        t.View()->TabCtrl()->setCurrentIndex(1);
        CPageWidget* page = t.Page(1);
        t.files->answers.push_back(QString::fromStdString(image));
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);

        ReceiverOptions options;
        options.role = ReceiverRole::Download;
        options.nRate = 115200;
        options.strSavePath = folder + "/received.bin";
        QVERIFY2(receiver.PowerOn(options, error), error.c_str());

        QTRY_VERIFY_WITH_TIMEOUT(IsLit(page, IDC_STEP3), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(t.boxes->Count("Download Complete"), 1, 60000);
        // The box is still open: the bars stand at their end, the kinds are checked.
        QTest::qWait(50);
        for (int id : {IDC_MODULE_BAR, IDC_TOTAL_BAR})
        {
            QProgressBar* bar = Bar(page, id);
            QVERIFY(bar->maximum() > 0);
            QCOMPARE(bar->value(), bar->maximum());
        }
        QCOMPARE(Bar(page, IDC_PACKET_BAR)->value(), 1024);
        int checked = 0;
        for (int id : {IDC_CHECK_FIRMWARE, IDC_CHECK_DIGITAL, IDC_CHECK_ANALOG})
            checked += page->ControlAs<QCheckBox>(id)->isChecked() ? 1 : 0;
        QVERIFY(checked >= 2);
        QVERIFY(Text(page, IDC_CURRENT_TIME).contains(" m "));
        QCOMPARE(page->LogLines().value(0), QString("Download Complete"));

        t.boxes->CloseHeld();
        // The page resets: bars back to 0, step 1 lit again, the same image kept.
        QTRY_COMPARE_WITH_TIMEOUT(Bar(page, IDC_TOTAL_BAR)->value(), 0, 5000);
        QTRY_VERIFY(IsLit(page, IDC_STEP1));
        QTRY_COMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::WaitReady));
        QVERIFY(page->LogLines().contains("Transfer ended: complete")); // the end and why, as a log line

        const std::optional<ReceiverResult> result = receiver.WaitForResult(std::chrono::seconds(10));
        QVERIFY(result.has_value());
        QVERIFY2(result->bSucceeded, result->strText.c_str());
        QCOMPARE(ReadFile(options.strSavePath), bytes);
        t.app->ExitInstance();
        receiver.Stop();
        std::filesystem::remove_all(folder);
    }

    void aDeviceThatVanishesShowsOneErrorAndThePageResets()
    {
        const std::string folder = testsupport::MakeTempDir();
        const std::string image = WriteFile(folder + "/demo.bin", MakeDemoFirmwareImage());
        auto line = std::make_unique<CTestPty>();
        SetPortDevice(2, line->SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.View()->TabCtrl()->setCurrentIndex(1);
        CPageWidget* page = t.Page(1);
        t.files->answers.push_back(QString::fromStdString(image));
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        const size_t before = t.boxes->boxes.size();

        line.reset(); // the adapter is pulled out
        QTRY_VERIFY_WITH_TIMEOUT(t.boxes->boxes.size() > before, 5000);
        // The reset runs and tries to reopen; that failure goes to the log only.
        QTRY_VERIFY_WITH_TIMEOUT(t.Page(1)->LogLines().filter("ERROR: Cannot open COM2 port!").size() == 1, 5000);
        QCOMPARE(t.boxes->boxes.size(), before + 1);
        const BoxRequest& box = t.boxes->boxes.back();
        QVERIFY(box.icon == BoxIcon::Error);
        QVERIFY2(QString::fromStdString(box.text).startsWith("ERROR : Lost the COM2 port"), box.text.c_str());
        QVERIFY(page->LogLines().contains("State Reset"));
        // The page keeps its image and waits for the receiver again; the window goes on.
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(1)->State(); }), int(CDownloadPage::WaitReady));
        QVERIFY(t.Frame()->isVisible());
        std::filesystem::remove_all(folder);
    }

    void exitInTheMiddleOfATransferEndsWithinASecond()
    {
        const std::string folder = testsupport::MakeTempDir();
        const std::string image = WriteFile(folder + "/demo.bin", MakeDemoFirmwareImage());
        CSimulatedReceiver receiver;
        std::string slave, error;
        QVERIFY2(receiver.Start(slave, error), error.c_str());
        SetPortDevice(2, slave);

        AppUnderTest t;
        t.boxes->holdTexts << "Download Complete";
        QVERIFY(t.Start());
        t.View()->TabCtrl()->setCurrentIndex(1);
        CPageWidget* page = t.Page(1);
        t.files->answers.push_back(QString::fromStdString(image));
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        ReceiverOptions options;
        options.role = ReceiverRole::Download;
        options.nRate = 9600;
        options.bPace = true; // a real 9600 line: 48 packets take about a minute
        QVERIFY2(receiver.PowerOn(options, error), error.c_str());
        QTRY_VERIFY_WITH_TIMEOUT(Bar(page, IDC_TOTAL_BAR)->value() > 0, 20000);

        QElapsedTimer clock;
        clock.start();
        t.Frame()->close();
        t.app->ExitInstance();
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed < 1000, qPrintable(QString("exit took %1 ms").arg(elapsed)));
        QVERIFY(theSerialPort == nullptr);
        receiver.Stop();
        std::filesystem::remove_all(folder);
    }
};

QTEST_MAIN(DownloadGuiTest)
#include "DownloadGuiTest.moc"
