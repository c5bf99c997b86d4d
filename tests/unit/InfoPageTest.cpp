// The page base: its timer, the port binding (initialisation, reopen, port
// change, ownership on tab selection), status reports and a lost port.
#include "protocol/Clock.h"
#include "protocol/ProtocolThread.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "support/RecordingWindow.h"
#include "support/ScriptedLine.h"
#include "ui/ControlIds.h"
#include "ui/InfoPage.h"
#include "ui/LinkSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

using testsupport::CRecordingWindow;
using testsupport::CScriptedLine;

namespace
{
// A plain page that keeps its log and counts its time-outs.
class CProbePage : public CInfoPage
{
public:
    using CInfoPage::CInfoPage;
    void AddLog(const std::string& text) override { logLines.push_back(text); }
    void OnTimeout() override
    {
        ++timeouts;
        if (onTimeout)
            onTimeout();
    }
    std::vector<std::string> logLines;
    int timeouts = 0;
    std::function<void()> onTimeout;
};

class InfoPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetClock(&m_clock);
        theLinkSettings = kInitialLinkSettings;
    }
    void TearDown() override
    {
        delete theSerialPort;
        theSerialPort = nullptr;
        SetClock(nullptr);
        ClearPortDevices();
    }

    CVirtualClock m_clock;
    CRecordingWindow m_window;
};

int TicksUntilTimeout(CProbePage& page, int limit = 100)
{
    for (int tick = 1; tick <= limit; ++tick)
    {
        page.OnTimer(kPageTimerId);
        if (page.timeouts > 0)
            return tick;
    }
    return -1;
}
} // namespace

TEST_F(InfoPageTest, TimerFiresAfterTheCountPlusOneTicks)
{
    CProbePage page(&m_window, nullptr);
    page.StartTimer(0, 7);
    EXPECT_EQ(m_window.timerPeriods.at(kPageTimerId), 500);
    EXPECT_EQ(page.TimerCode(), 7);
    EXPECT_EQ(TicksUntilTimeout(page), 1);
    EXPECT_EQ(page.TimerTicks(), -1);
    EXPECT_TRUE(m_window.timerPeriods.empty()) << "the tick at zero stops the timer before the time-out";

    page.timeouts = 0;
    page.StartTimer(10, 0);
    EXPECT_EQ(TicksUntilTimeout(page), 11);
}

TEST_F(InfoPageTest, StartTimerWhileRunningOnlyReplacesTheCount)
{
    CProbePage page(&m_window, nullptr);
    page.StartTimer(10, 0);
    page.OnTimer(kPageTimerId);
    page.StartTimer(2, 0);
    EXPECT_EQ(m_window.timersSet, 1);
    EXPECT_EQ(TicksUntilTimeout(page), 3);
    page.StopTimer();
    page.StopTimer();
    EXPECT_EQ(m_window.timersKilled, 1) << "stopping a stopped timer kills nothing";
}

TEST_F(InfoPageTest, TimeoutThatRestartsKeepsTheTimerRunning)
{
    CProbePage page(&m_window, nullptr);
    page.onTimeout = [&] {
        page.StopTimer();
        page.StartTimer(10, 0);
    };
    page.StartTimer(10, 0);
    EXPECT_EQ(TicksUntilTimeout(page), 11);
    page.timeouts = 0;
    EXPECT_EQ(TicksUntilTimeout(page), 11);
    EXPECT_EQ(page.TimerTicks(), 10);
    page.OnTimer(kPageTimerId + 1); // another timer's tick is not ours
    EXPECT_EQ(page.TimerTicks(), 10);
}

TEST_F(InfoPageTest, InitialisationCreatesTheDefaultPortOnCom2)
{
    CScriptedLine line(2);
    CProbePage page(&m_window, nullptr);
    ASSERT_TRUE(page.OnInitDialog());
    EXPECT_EQ(page.logLines, (std::vector<std::string>{"Dialog initial", "Initial crc table", "serial port create"}));
    ASSERT_NE(theSerialPort, nullptr);
    EXPECT_TRUE(theSerialPort->IsOpen());
    EXPECT_EQ(theSerialPort->StopBits(), 2);
    EXPECT_EQ(line.BaudRate(), 9600);
    EXPECT_TRUE(m_window.boxes.empty());

    // A second page finds the port and leaves it alone.
    CForwardingSerialPort* port = theSerialPort;
    CProbePage second(&m_window, nullptr);
    EXPECT_TRUE(second.OnInitDialog());
    EXPECT_EQ(theSerialPort, port);
}

TEST_F(InfoPageTest, InitialisationReportsAPortThatWillNotOpen)
{
    SetPortDevice(2, "/dev/kavdm-test-no-such-device");
    CProbePage page(&m_window, nullptr);
    EXPECT_FALSE(page.OnInitDialog());
    ASSERT_EQ(m_window.boxes.size(), 1u);
    EXPECT_EQ(m_window.boxes[0].text, "ERROR : Comm port open error!");
    EXPECT_EQ(m_window.boxes[0].icon, BoxIcon::Error);
    EXPECT_FALSE(m_window.boxes[0].detail.empty()) << "the system's reason goes into the box";
    ASSERT_NE(theSerialPort, nullptr) << "the unopened object is kept";
    EXPECT_FALSE(theSerialPort->IsOpen());
}

TEST_F(InfoPageTest, ChangePortAnnouncesTheNewPortOrWhyItFailed)
{
    CScriptedLine com3(3);
    CProbePage page(&m_window, nullptr);
    page.ChangePort(2);
    EXPECT_EQ(theLinkSettings.portIndex, 2);
    ASSERT_EQ(m_window.BoxTexts(), std::vector<std::string>{"COM Port changed to COM3 "});
    EXPECT_EQ(m_window.boxes[0].icon, BoxIcon::Information);
    ASSERT_NE(theSerialPort, nullptr);
    EXPECT_TRUE(theSerialPort->IsOpen());
    EXPECT_EQ(theSerialPort->StopBits(), 0) << "the reopen path uses one stop bit";

    SetPortDevice(4, "/dev/kavdm-test-no-such-device");
    m_window.portHint = "choose another device for";
    page.ChangePort(3);
    ASSERT_EQ(m_window.boxes.size(), 2u);
    EXPECT_EQ(m_window.boxes[1].text, "ERROR: Cannot open COM4 port!");
    const std::string& detail = m_window.boxes[1].detail;
    EXPECT_NE(detail.find("COM4"), std::string::npos);
    EXPECT_NE(detail.find("\nchoose another device for COM4"), std::string::npos) << "the window's hint follows the reason";
    ASSERT_NE(theSerialPort, nullptr);
    EXPECT_FALSE(theSerialPort->IsOpen());
}

TEST_F(InfoPageTest, ReopenUsesTheOpenRateAndSetBaudRateOnlyStoresTheChoice)
{
    CScriptedLine line(2);
    CProbePage page(&m_window, nullptr);
    page.SetBaudRate(57600);
    EXPECT_EQ(theLinkSettings.selectedBaudRate, 57600);
    EXPECT_EQ(theLinkSettings.openBaudRate, 9600);
    theLinkSettings.openBaudRate = 38400;
    EXPECT_EQ(page.ReopenPort(false), 1);
    EXPECT_EQ(line.BaudRate(), 38400);
    EXPECT_TRUE(m_window.boxes.empty()) << "a silent reopen shows nothing";
}

TEST_F(InfoPageTest, StatusReportsShowTheirTextsAndReset)
{
    struct Case
    {
        char letter;
        const char* text;
        BoxIcon icon;
    };
    const Case cases[] = {
        {'Q', "ERROR : Function Communication. ", BoxIcon::Information},
        {'T', "ERROR : Header is wrong", BoxIcon::Error},
        {'U', "ERROR : Data Communication", BoxIcon::Error},
        {'V', "ERROR : Count Number", BoxIcon::Error},
        {'W', "ERROR  : Checksum check", BoxIcon::Error},
        {'X', "ERROR  :  Frash Erase Fail", BoxIcon::Error},
        {'Y', "ERROR  :  Header Communication", BoxIcon::Error},
        {'Z', "ERROR  : Data Communication", BoxIcon::Error},
    };
    CProbePage page(&m_window, nullptr);
    for (const Case& c : cases)
    {
        m_window.ClearHistory();
        page.logLines.clear();
        const char block[] = {'P', c.letter, 0};
        page.OnReceive(block, 2);
        ASSERT_EQ(m_window.boxes.size(), 1u) << c.letter;
        EXPECT_EQ(m_window.boxes[0].text, c.text);
        EXPECT_EQ(m_window.boxes[0].icon, c.icon);
        EXPECT_EQ(page.logLines, std::vector<std::string>{"State Reset"});
    }
    m_window.ClearHistory();
    for (const char* block : {"PR", "PS", "QT", "xP", "P"})
        page.OnReceive(block, int(std::strlen(block)));
    EXPECT_TRUE(m_window.boxes.empty());
}

TEST_F(InfoPageTest, StatusReportSplitAcrossDeliveriesIsRecognised)
{
    CProbePage page(&m_window, nullptr);
    page.OnReceive("P", 1);
    EXPECT_TRUE(m_window.boxes.empty());
    page.OnReceive("W", 1);
    EXPECT_EQ(m_window.BoxTexts(), std::vector<std::string>{"ERROR  : Checksum check"});

    // A lone 'P' followed by something else is no report.
    m_window.ClearHistory();
    page.OnReceive("P", 1);
    page.OnReceive("\x70", 1);
    EXPECT_TRUE(m_window.boxes.empty());

    // A lone 'P' does not swallow the first byte of the next delivery: a whole
    // report right behind it is still recognised.
    page.OnReceive("P", 1);
    page.OnReceive("PX", 2);
    EXPECT_EQ(m_window.BoxTexts(), std::vector<std::string>{"ERROR  :  Frash Erase Fail"});
}

namespace
{
// Runs `check` on the protocol thread, so it reads the window without racing a delivery.
template <typename Check> bool EventuallyOn(CProtocolThread& thread, Check check)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline)
    {
        bool done = false;
        thread.RunDelivery([&] { done = check(); });
        if (done)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}
} // namespace

TEST_F(InfoPageTest, SelectedPageReceivesTheDeliveries)
{
    SetClock(nullptr);
    CScriptedLine line(2);
    CProtocolThread thread;
    CRecordingWindow otherWindow;
    CProbePage* first = nullptr;
    CProbePage* second = nullptr;
    thread.RunDelivery([&] {
        first = new CProbePage(&m_window, &thread);
        second = new CProbePage(&otherWindow, &thread);
        first->OnInitDialog();
        second->OnActivatePage();
    });
    line.Send({'P', 'T'});
    EXPECT_TRUE(EventuallyOn(thread, [&] { return !otherWindow.boxes.empty(); }));
    thread.RunDelivery([&] {
        EXPECT_TRUE(m_window.boxes.empty());
        EXPECT_EQ(second->logLines, (std::vector<std::string>{"Serial active change", "State Reset"}));
        delete second;
        delete first;
    });
    EXPECT_EQ(theSerialPort, nullptr) << "a destroyed page closes the port";
}

TEST_F(InfoPageTest, LostPortIsReportedOnceAndThePageResets)
{
    SetClock(nullptr);
    auto line = std::make_unique<CScriptedLine>(2);
    CProtocolThread thread;
    CProbePage* page = nullptr;
    thread.RunDelivery([&] {
        page = new CProbePage(&m_window, &thread);
        page->OnInitDialog();
    });
    line->HangUp();
    EXPECT_TRUE(EventuallyOn(thread, [&] { return !m_window.boxes.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    thread.RunDelivery([&] {
        ASSERT_EQ(m_window.boxes.size(), 1u);
        EXPECT_NE(m_window.boxes[0].text.find("ERROR : Lost the COM2 port"), std::string::npos)
            << m_window.boxes[0].text;
        // The box's details say what to check.
        EXPECT_NE(m_window.boxes[0].detail.find("check the cable or adapter"), std::string::npos)
            << m_window.boxes[0].detail;
        EXPECT_EQ(page->logLines.back(), "State Reset");
        delete page;
    });
}
