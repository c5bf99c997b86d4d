// The UPLOAD page in the application: first state, Browse, a whole upload on
// the simulated receiver with a CRC fault, Clear in the middle, and a tab
// switch during an upload.
#include "GuiTestSupport.h"

#include "receiver/ReceiverImage.h"
#include "receiver/SimulatedReceiver.h"
#include "support/TestSupport.h"
#include "ui/ControlIds.h"
#include "ui/UploadPage.h"
#include "ui/qt/ColorText.h"

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
std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
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

// The application on a simulated receiver at COM2, the UPLOAD tab selected.
struct UploadRig
{
    std::string folder = testsupport::MakeTempDir();
    CSimulatedReceiver receiver;
    std::unique_ptr<AppUnderTest> t;
    CPageWidget* page = nullptr;

    bool Start()
    {
        std::string slave, error;
        if (!receiver.Start(slave, error))
            return false;
        SetPortDevice(2, slave);
        t = std::make_unique<AppUnderTest>();
        if (!t->Start())
            return false;
        t->View()->TabCtrl()->setCurrentIndex(2);
        page = t->Page(2);
        return true;
    }
    void Browse(const std::string& path)
    {
        t->files->answers.push_back(QString::fromStdString(path));
        QTest::mouseClick(page->ControlAs<QPushButton>(IDC_UPLOAD_BROWSE), Qt::LeftButton);
    }
    bool PowerOn(std::vector<std::string> faults, int paceBaud)
    {
        ReceiverOptions options;
        options.role = ReceiverRole::Upload;
        options.nRate = kReceiverAnyRate;
        options.bPace = paceBaud > 0;
        options.nPaceBaud = paceBaud;
        for (const std::string& spec : faults)
        {
            ReceiverFault fault;
            std::string error;
            if (!ParseReceiverFault(spec, fault, error))
                return false;
            options.faults.push_back(fault);
        }
        std::string error;
        return receiver.PowerOn(options, error);
    }
    int BytesDone()
    {
        return t->OnProtocol([](CLumView& v) { return static_cast<CUploadPage*>(v.Page(2))->BytesDone(); });
    }
    int State()
    {
        return t->OnProtocol([](CLumView& v) { return v.Page(2)->State(); });
    }
    ~UploadRig()
    {
        if (t)
            t->app->ExitInstance();
        receiver.Stop();
        std::filesystem::remove_all(folder);
    }
};

// A digital upload of the synthetic memory: flash then EEPROM, each behind
// the 64-byte header block the page writes.
bool IsDigitalUploadOfSyntheticMemory(const std::vector<std::uint8_t>& file)
{
    const std::vector<ReceiverModule> memory = SyntheticMemory();
    const size_t header = 64;
    const std::vector<std::uint8_t>& flash = memory[0].data;
    const std::vector<std::uint8_t>& eeprom = memory[1].data;
    if (file.size() != 2 * header + flash.size() + eeprom.size())
        return false;
    const auto flashStart = file.begin() + std::ptrdiff_t(header);
    const auto eepromStart = flashStart + std::ptrdiff_t(flash.size() + header);
    return std::equal(flash.begin(), flash.end(), flashStart) &&
           std::equal(eeprom.begin(), eeprom.end(), eepromStart);
}
} // namespace

class UploadGuiTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void firstStateAndBrowse()
    {
        UploadRig rig;
        QVERIFY(rig.Start());
        CPageWidget* page = rig.page;
        QTRY_VERIFY(page->isVisible());
        QTRY_VERIFY(IsLit(page, IDC_STEP1));
        QVERIFY(!IsLit(page, IDC_STEP2) && !IsLit(page, IDC_STEP3));
        QCOMPARE(page->TextColorFor(page->Control(IDC_STEP1)), QColor(0, 150, 0));
        QCOMPARE(Text(page, IDC_UPLOAD_FILE_EDIT), QString());
        QCOMPARE(Text(page, IDC_FILE_LOCATION), QString());
        QCOMPARE(Text(page, IDC_STATUS_TEXT), QString());
        QCOMPARE(Text(page, IDC_ESTIMATED_TIME), QString(" 00 m 00 s"));
        QCOMPARE(Text(page, IDC_CURRENT_TIME), QString(" 00 m 00 s"));
        QProgressBar* packetBar = page->ControlAs<QProgressBar>(IDC_PACKET_BAR);
        QCOMPARE(packetBar->maximum(), 1024);
        QCOMPARE(packetBar->value(), 0);

        // Cancel: nothing changes, no box.
        const size_t boxes = rig.t->boxes->boxes.size();
        rig.Browse("");
        QCOMPARE(rig.t->files->requests.back().filter, QString("Bin File (*.bin)|*.bin|All file (*.*)|*.*|"));
        QVERIFY(rig.t->files->requests.back().bMayNotExist);
        QTest::qWait(100);
        QCOMPARE(rig.t->boxes->boxes.size(), boxes);
        QVERIFY(IsLit(page, IDC_STEP1));

        // OK on a new name: the box, its text logged, step 2, no file yet.
        const std::string target = rig.folder + "/new.bin";
        rig.Browse(target);
        QTRY_COMPARE(rig.t->boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QTRY_COMPARE(page->LogLines().value(0), QString("Remember to power the IRD standby and then on!"));
        QTRY_VERIFY(IsLit(page, IDC_STEP2));
        QCOMPARE(Text(page, IDC_UPLOAD_FILE_EDIT), QString::fromStdString(target));
        QCOMPARE(Text(page, IDC_FILE_LOCATION), QString::fromStdString(target));
        QVERIFY(!std::filesystem::exists(target));
        QCOMPARE(rig.State(), int(CUploadPage::WaitReady));
    }

    void wholeUploadWithACrcFaultIsByteExact()
    {
        UploadRig rig;
        QVERIFY(rig.Start());
        const std::string target = rig.folder + "/flash.bin";
        rig.Browse(target);
        QTRY_COMPARE(rig.t->boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(rig.PowerOn({"crc:5"}, 0));
        QTRY_VERIFY_WITH_TIMEOUT(IsLit(rig.page, IDC_STEP3), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.t->boxes->Count("Upload Complete"), 1, 120000);
        for (const BoxRequest& box : rig.t->boxes->boxes)
        {
            if (box.text == "Upload Complete")
                QCOMPARE(box.detail, "Saved as " + target); // the box says where the file is
        }
        QVERIFY(IsDigitalUploadOfSyntheticMemory(ReadFile(target)));
        bool sawCrcError = false;
        for (const QString& line : rig.page->LogLines())
            sawCrcError = sawCrcError || line.contains("CRC Error");
        QVERIFY(sawCrcError); // the broken packet was refused and asked for again
        QVERIFY(!std::filesystem::exists(target + ".partial"));
        QTRY_VERIFY(IsLit(rig.page, IDC_STEP1));
    }

    void clearInTheMiddleKeepsTheEarlierFileAndThePartialData()
    {
        UploadRig rig;
        QVERIFY(rig.Start());
        const std::string target = rig.folder + "/earlier.bin";
        WriteText(target, "an earlier upload");
        rig.Browse(target);
        QTRY_COMPARE(rig.t->boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(rig.PowerOn({}, 115200));
        QTRY_VERIFY_WITH_TIMEOUT(rig.BytesDone() > 4096, 20000);
        const int resetsBefore = int(rig.page->LogLines().count("State Reset"));
        QTest::mouseClick(rig.page->ControlAs<QPushButton>(IDC_UPLOAD_CLEAR), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(int(rig.page->LogLines().count("State Reset")), resetsBefore + 2, 10000);
        QTRY_COMPARE(rig.State(), int(CUploadPage::NoFile));
        QTRY_VERIFY(IsLit(rig.page, IDC_STEP1));
        QCOMPARE(Text(rig.page, IDC_UPLOAD_FILE_EDIT), QString());
        QCOMPARE(Text(rig.page, IDC_FILE_LOCATION), QString());
        const std::vector<std::uint8_t> earlier = ReadFile(target);
        QCOMPARE(std::string(earlier.begin(), earlier.end()), std::string("an earlier upload"));
        QVERIFY(std::filesystem::exists(target + ".partial"));
        QVERIFY(std::filesystem::file_size(target + ".partial") >= 4096);
    }

    void exitInTheMiddleOfAnUploadEndsWithinASecondAndLosesNothing()
    {
        UploadRig rig;
        QVERIFY(rig.Start());
        const std::string target = rig.folder + "/earlier.bin";
        WriteText(target, "kept as it was");
        rig.Browse(target);
        QTRY_COMPARE(rig.t->boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(rig.PowerOn({}, 115200));
        QTRY_VERIFY_WITH_TIMEOUT(rig.BytesDone() > 4096, 20000);

        QElapsedTimer clock;
        clock.start();
        rig.t->Frame()->close();
        rig.t->app->ExitInstance();
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed < 1000, qPrintable(QString("exit took %1 ms").arg(elapsed)));
        const std::vector<std::uint8_t> earlier = ReadFile(target);
        QCOMPARE(std::string(earlier.begin(), earlier.end()), std::string("kept as it was"));
        QVERIFY(std::filesystem::exists(target + ".partial"));
        QVERIFY(std::filesystem::file_size(target + ".partial") >= 4096);
    }

    void aDeviceThatVanishesShowsTheLostPortBoxAndThePageWaitsAgain()
    {
        const std::string folder = testsupport::MakeTempDir();
        auto line = std::make_unique<CTestPty>();
        SetPortDevice(2, line->SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.View()->TabCtrl()->setCurrentIndex(2);
        t.files->answers.push_back(QString::fromStdString(folder + "/backup.bin"));
        QTest::mouseClick(t.Page(2)->ControlAs<QPushButton>(IDC_UPLOAD_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);
        const size_t before = t.boxes->boxes.size();

        line.reset(); // the adapter is pulled out
        QTRY_VERIFY_WITH_TIMEOUT(t.boxes->boxes.size() > before, 5000);
        QTest::qWait(1500); // the reset runs and tries to reopen
        QCOMPARE(t.boxes->boxes.size(), before + 1);
        const BoxRequest& box = t.boxes->boxes.back();
        QVERIFY(box.icon == BoxIcon::Error);
        QVERIFY2(QString::fromStdString(box.text).startsWith("ERROR : Lost the COM2 port"), box.text.c_str());
        QCOMPARE(t.OnProtocol([](CLumView& v) { return v.Page(2)->State(); }), int(CUploadPage::WaitReady));
        t.app->ExitInstance();
        std::filesystem::remove_all(folder);
    }

    void switchingToInformationDuringAnUploadAndBack()
    {
        UploadRig rig;
        QVERIFY(rig.Start());
        const std::string target = rig.folder + "/switch.bin";
        rig.Browse(target);
        QTRY_COMPARE(rig.t->boxes->Count("Remember to power the IRD standby and then on!"), 1);
        QVERIFY(rig.PowerOn({}, 115200));
        QTRY_VERIFY_WITH_TIMEOUT(rig.BytesDone() > 2048, 20000);

        rig.t->View()->TabCtrl()->setCurrentIndex(0);
        QTest::qWait(300);
        const int state = rig.State();
        const int done = rig.BytesDone();
        const int totalBar = rig.page->ControlAs<QProgressBar>(IDC_TOTAL_BAR)->value();
        QTest::qWait(1500);
        // Nothing reaches the page meanwhile; it keeps its state and progress.
        QCOMPARE(rig.BytesDone(), done);
        QCOMPARE(rig.State(), state);
        QVERIFY(state != int(CUploadPage::NoFile) && state != int(CUploadPage::WaitReady));
        QCOMPARE(rig.page->ControlAs<QProgressBar>(IDC_TOTAL_BAR)->value(), totalBar);
        QVERIFY(totalBar > 0);
        QVERIFY(IsLit(rig.page, IDC_STEP3));

        // Back on the tab, the page asks again after its time-out and goes on.
        rig.t->View()->TabCtrl()->setCurrentIndex(2);
        QTRY_VERIFY_WITH_TIMEOUT(rig.BytesDone() > done, 15000);
    }
};

QTEST_MAIN(UploadGuiTest)
#include "UploadGuiTest.moc"
