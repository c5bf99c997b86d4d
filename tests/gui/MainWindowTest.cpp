// The application shell: start-up state and port sequence, tabs and port
// ownership, the COM port and baud choices, the About box and exit.
#include "GuiTestSupport.h"

#include "serial/SerialPort.h"
#include "ui/ControlIds.h"
#include "ui/DownloadPage.h"
#include "ui/InfoPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>
#include <QtTest>

#include "app/AboutDlg.h"
#include "ui/qt/LogWindow.h"

using namespace guitest;

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { ClearPortDevices(); }
    void cleanup() { ClearPortDevices(); }

    void startsUpWithItsWindowAndTwoErrorBoxesWhenCom2IsMissing()
    {
        SetPortDevice(2, "/nonexistent/kavdm-test-com2");
        AppUnderTest t;
        QVERIFY(t.Start());
        CMainFrame* frame = t.Frame();
        QCOMPARE(frame->windowTitle(), QString("Kavronel Download Manager"));
        QCOMPARE(frame->size(), QSize(622, 535));
        QStringList menus;
        for (QAction* action : frame->menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, QStringList({"&Menu", "&Help"}));
        QVERIFY(frame->findChildren<QToolBar*>().isEmpty());
        QVERIFY(frame->findChildren<QStatusBar*>().isEmpty());
        QVERIFY(frame->findChild<QAction*>("actionExit"));
        QCOMPARE(frame->findChild<QAction*>("actionExit")->text(), QString("E&xit"));
        QCOMPARE(frame->findChild<QAction*>("actionAbout")->text(), QString("&About Download Manager"));

        // The Information page is shown, COM2 and 9600 chosen.
        CLumView* view = t.View();
        QCOMPARE(view->TabCtrl()->count(), 3);
        QCOMPARE(view->TabCtrl()->tabText(0), QString("Information"));
        QCOMPARE(view->TabCtrl()->tabText(1), QString("DOWNLOAD"));
        QCOMPARE(view->TabCtrl()->tabText(2), QString("UPLOAD"));
        QCOMPARE(view->TabCtrl()->currentIndex(), 0);
        // Fixed-width tabs: all as wide as the widest.
        QCOMPARE(view->TabCtrl()->tabRect(1).width(), view->TabCtrl()->tabRect(0).width());
        QCOMPARE(view->TabCtrl()->tabRect(2).width(), view->TabCtrl()->tabRect(0).width());
        QVERIFY(t.Page(0)->isVisible() && t.Page(0)->isEnabled());
        QVERIFY(!t.Page(1)->isVisible() && !t.Page(1)->isEnabled());
        QVERIFY(!t.Page(2)->isVisible() && !t.Page(2)->isEnabled());
        QVERIFY(view->ComPortGroup()->button(1)->isChecked());
        QCOMPARE(view->BaudRateBox()->currentText(), QString("    9600"));

        // The port sequence of start-up: the Information page could not open
        // the port, then neither could the DOWNLOAD page. The reason goes into
        // the box's details.
        QTRY_COMPARE(t.boxes->boxes.size(), size_t(2));
        QCOMPARE(t.boxes->Texts(), QStringList({"ERROR : Comm port open error!", "ERROR: Cannot open COM2 port!"}));
        QVERIFY(t.boxes->boxes[0].icon == BoxIcon::Error);
        QVERIFY(t.boxes->boxes[1].icon == BoxIcon::Error);
        QVERIFY(QString::fromStdString(t.boxes->boxes[1].detail).contains("/nonexistent/kavdm-test-com2"));

        const QStringList log = t.Page(1)->LogLines();
        QVERIFY(log.size() >= 3);
        QCOMPARE(log.mid(0, 3), QStringList({"Download Control settup", "Initial crc table", "Dialog initial"}));
    }

    void selectingATabMakesItsPageTheReceiverOfTheLine()
    {
        CTestPty line;
        QVERIFY(line.IsOpen());
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        QTest::qWait(100);
        QVERIFY(t.boxes->boxes.empty());

        // Right after start-up the DOWNLOAD page receives the line.
        line.Send("x");
        QTRY_COMPARE(t.boxes->Count("Please, select a file to download"), 1);

        t.View()->TabCtrl()->setCurrentIndex(0 + 1);
        QVERIFY(t.Page(1)->isVisible() && t.Page(1)->isEnabled());
        QVERIFY(!t.Page(0)->isVisible());
        QTRY_COMPARE(t.Page(1)->LogLines().value(0), QString("Serial active change"));

        t.View()->TabCtrl()->setCurrentIndex(0);
        QTRY_VERIFY(t.OnProtocol([](CLumView&) { return true; }));
        line.Send("x");
        QTest::qWait(300);
        QCOMPARE(t.boxes->Count("Please, select a file to download"), 1); // the Information page ignores it

        t.View()->TabCtrl()->setCurrentIndex(2);
        QTRY_COMPARE(t.Page(2)->LogLines().value(0), QString("Serial active change"));
        t.View()->TabCtrl()->setCurrentIndex(1);
        QTRY_VERIFY(t.OnProtocol([](CLumView&) { return true; }));
        line.Send("x");
        QTRY_COMPARE(t.boxes->Count("Please, select a file to download"), 2);
    }

    void comPortChoiceReopensThePortEvenOnTheSelectedButton()
    {
        CTestPty com2;
        CTestPty com3;
        SetPortDevice(2, com2.SlavePath());
        SetPortDevice(3, com3.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.View()->TabCtrl()->setCurrentIndex(2); // the UPLOAD page becomes the new port's owner
        QAbstractButton* com3Button = t.View()->ComPortGroup()->button(2);
        QTest::mouseClick(com3Button, Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("COM Port changed to COM3 "), 1);
        QVERIFY(t.boxes->boxes.back().icon == BoxIcon::Information);
        QCOMPARE(t.View()->ComPort(), 2);
        QCOMPARE(t.OnProtocol([](CLumView&) { return theLinkSettings.portIndex; }), 2);
        // The UPLOAD page logs its box: it handled the click and owns the port.
        QTRY_COMPARE(t.Page(2)->LogLines().value(0), QString("COM Port changed to COM3 "));

        QTest::mouseClick(com3Button, Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("COM Port changed to COM3 "), 2);

        // The line really is COM3 now: a byte from it reaches the UPLOAD page,
        // one from COM2 reaches nobody.
        com2.Send("x");
        QTest::qWait(300);
        QCOMPARE(t.boxes->Count("Please, select a file to save"), 0);
        com3.Send("x");
        QTRY_COMPARE(t.boxes->Count("Please, select a file to save"), 1);

        // A port that does not exist: the error box, and COM3 again recovers.
        SetPortDevice(4, "/nonexistent/kavdm-test-com4");
        QTest::mouseClick(t.View()->ComPortGroup()->button(3), Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("ERROR: Cannot open COM4 port!"), 1);
        QTest::mouseClick(com3Button, Qt::LeftButton);
        QTRY_COMPARE(t.boxes->Count("COM Port changed to COM3 "), 3);
    }

    void baudChoiceChangesOnlyTheSelectedRate()
    {
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        const size_t boxesBefore = t.boxes->boxes.size();
        QComboBox* baud = t.View()->BaudRateBox();
        QStringList items;
        for (int i = 0; i < baud->count(); ++i)
            items << baud->itemText(i);
        QCOMPARE(items, QStringList({"    9600", "  19200", "  38400", "  57600", "115200"}));
        baud->setCurrentIndex(4);
        const LinkSettings settings = t.OnProtocol([](CLumView&) { return theLinkSettings; });
        QCOMPARE(settings.selectedBaudRate, 115200);
        QCOMPARE(settings.openBaudRate, 9600);
        QCOMPARE(settings.portIndex, 1);
        QCOMPARE(t.boxes->boxes.size(), boxesBefore);
        QCOMPARE(t.View()->ComPort(), 1);
    }

    void aboutBoxOpensAndClosesWithOk()
    {
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.Frame()->findChild<QAction*>("actionAbout")->trigger();
        CAboutDlg* about = nullptr;
        QTRY_VERIFY((about = t.Frame()->findChild<CAboutDlg*>()) && about->isVisible());
        QCOMPARE(about->windowTitle(), QString("About Download Manager"));
        QVERIFY(about->isModal() || about->windowModality() != Qt::NonModal);
        QPointer<CAboutDlg> guard(about);
        QTest::mouseClick(about->findChild<QPushButton*>("aboutOk"), Qt::LeftButton);
        QTRY_VERIFY(guard.isNull() || !guard->isVisible());
        QVERIFY(t.Frame()->isVisible());
    }

    void exitClosesThePortAndEndsWithoutAsking()
    {
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        const size_t boxesBefore = t.boxes->boxes.size();
        t.Frame()->findChild<QAction*>("actionExit")->trigger();
        QTRY_VERIFY(!t.Frame()->isVisible());
        QCOMPARE(t.boxes->boxes.size(), boxesBefore);
        // The protocol thread has ended; the pages and the port are gone.
        QVERIFY(theSerialPort == nullptr);
        QVERIFY(t.View()->Page(0) == nullptr && t.View()->Page(1) == nullptr);
        t.app->ExitInstance(); // a second shutdown is harmless
    }

    void logWindowShowsTheHiddenLogs()
    {
        CTestPty line;
        SetPortDevice(2, line.SlavePath());
        AppUnderTest t;
        QVERIFY(t.Start());
        t.Frame()->findChild<QAction*>("actionShowLog")->trigger();
        QVERIFY(t.Frame()->LogWindow() && t.Frame()->LogWindow()->isVisible());
        QVERIFY(!t.Page(1)->Control(IDC_LOG_LIST)->isVisible()); // the page keeps it hidden
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
