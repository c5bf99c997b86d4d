// "Menu > Compare Images...": the dialog offers the DOWNLOAD page's image and
// the UPLOAD page's file, and shows their comparison as a table.
#include "GuiTestSupport.h"

#include "image/SampleImages.h"
#include "ui/UploadPage.h"
#include "ui/qt/CompareDialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace guitest;

class CompareDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void offersTheSentImageAndTheUploadedFileAndTablesTheirModules()
    {
        CTestPty line;
        const QString image = QStringLiteral(KAVDM_SOURCE_DIR "/resources/samples/demo-upload.bin");
        AppUnderTest t(ParseGuiOptions({"--com2", QString::fromStdString(line.SlavePath()), image}));
        QVERIFY(t.Start());
        QTRY_COMPARE(t.boxes->Count("Remember to power the IRD standby and then on!"), 1);

        // The file an upload wrote: the sample with one EEPROM byte read back wrong.
        QTemporaryDir folder;
        const QString uploaded = folder.filePath(QStringLiteral("back.bin"));
        std::vector<std::uint8_t> bytes = MakeDemoUploadImage();
        bytes[64 + kFlashModuleLength + 64 + 7] ^= 0x10;
        QFile file(uploaded);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        file.close();
        t.View()->TabCtrl()->setCurrentIndex(2);
        t.files->answers.push_back(uploaded);
        QTest::mouseClick(t.Page(2)->ControlAs<QPushButton>(IDC_UPLOAD_BROWSE), Qt::LeftButton);
        QTRY_COMPARE(t.Page(2)->ControlAs<QLineEdit>(IDC_UPLOAD_FILE_EDIT)->text(), uploaded);

        t.Frame()->findChild<QAction*>("actionCompareImages")->trigger();
        CCompareDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = t.Frame()->findChild<CCompareDialog*>()) != nullptr);
        QCOMPARE(dialog->FirstPath()->text(), image);
        QCOMPARE(dialog->SecondPath()->text(), uploaded);

        QTest::mouseClick(dialog->findChild<QPushButton*>("compareRun"), Qt::LeftButton);
        QTableWidget* table = dialog->Table();
        QCOMPARE(table->rowCount(), 2);
        const auto cell = [table](int row, int column) { return table->item(row, column)->text(); };
        QCOMPARE(cell(0, CCompareDialog::KindColumn), QString("digital-flash"));
        QCOMPARE(cell(0, CCompareDialog::ResultColumn), QString("equal"));
        QCOMPARE(cell(1, CCompareDialog::ModuleColumn), QString("2 / 2"));
        QCOMPARE(cell(1, CCompareDialog::LengthBColumn), QString("2048"));
        QVERIFY(cell(1, CCompareDialog::CrcAColumn) != cell(1, CCompareDialog::CrcBColumn));
        QCOMPARE(cell(1, CCompareDialog::ResultColumn), QString("differs at offset 7 (1 byte)"));
        QCOMPARE(dialog->Summary()->text(), QString("different: 1 of 2 modules"));

        // Browse chooses another image; one that cannot be read is said so.
        t.files->answers.push_back(folder.filePath(QStringLiteral("missing.stb")));
        QTest::mouseClick(dialog->findChild<QPushButton*>("compareSecondBrowse"), Qt::LeftButton);
        QCOMPARE(t.files->requests.back().folder, folder.path());
        QTest::mouseClick(dialog->findChild<QPushButton*>("compareRun"), Qt::LeftButton);
        QCOMPARE(table->rowCount(), 0);
        QVERIFY(dialog->Summary()->text().startsWith("Cannot compare: "));
        dialog->reject();
        t.app->ExitInstance();
    }
};

QTEST_MAIN(CompareDialogTest)
#include "CompareDialogTest.moc"
