// The desktop application's responsiveness, offscreen:
// - start-up: from constructing the application to the first painted frame of
//   the main window (and to the pages being built on the protocol thread);
// - the window thread during a 1 MB download against the simulated receiver:
//   a 1 ms timer probe records the longest gap between its ticks, i.e. the
//   longest time the window thread was kept from its event loop.
#include "GuiTestSupport.h"

#include "image/ModuleKind.h"
#include "support/TestSupport.h"
#include "image/SampleImages.h"
#include "receiver/SimulatedReceiver.h"
#include "ui/ControlIds.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace guitest;

namespace
{
// Notes the first paint of any widget of the main window.
class CFirstPaintWatch : public QObject
{
public:
    qint64 m_nPaintedAtNs = -1;
    QElapsedTimer* m_pClock = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_nPaintedAtNs < 0)
        {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && qobject_cast<CMainFrame*>(widget->window()))
                m_nPaintedAtNs = m_pClock->nsecsElapsed();
        }
        return false;
    }
};

void BM_StartupToFirstPaint(benchmark::State& state)
{
    CTestPty line;
    double pagesMsTotal = 0;
    double firstPaintMsMax = 0;
    for (auto _ : state)
    {
        ClearPortDevices();
        SetPortDevice(2, line.SlavePath());
        QElapsedTimer clock;
        CFirstPaintWatch watch;
        watch.m_pClock = &clock;
        qApp->installEventFilter(&watch);
        clock.start();
        AppUnderTest t;
        t.app->InitInstance();
        while (watch.m_nPaintedAtNs < 0 && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double paintMs = double(watch.m_nPaintedAtNs) / 1e6;
        while (!t.View()->PagesReady() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pagesMsTotal += double(clock.nsecsElapsed()) / 1e6;
        qApp->removeEventFilter(&watch);
        state.SetIterationTime(paintMs / 1000.0);
        firstPaintMsMax = std::max(firstPaintMsMax, paintMs);
        t.app->ExitInstance();
    }
    state.counters["first_paint_ms_max"] = firstPaintMsMax;
    state.counters["pages_ready_ms_avg"] = pagesMsTotal / double(state.iterations());
}
BENCHMARK(BM_StartupToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_WindowStallDuring1MBDownload(benchmark::State& state)
{
    constexpr std::size_t kImageBytes = 1024 * 1024;
    const std::string folder = testsupport::MakeTempDir();
    const std::string path = folder + "/one-megabyte.bin";
    {
        std::vector<std::uint8_t> image;
        AppendModule(image, MakeModuleHeader(ModuleKind::Firmware, kImageBytes),
                     MakeMachineCodeLikeBytes(kImageBytes, 7));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    double worstStallMs = 0;
    double transferSeconds = 0;
    std::int64_t probeTicks = 0;
    for (auto _ : state)
    {
        CSimulatedReceiver receiver;
        std::string slave, error;
        if (!receiver.Start(slave, error))
        {
            state.SkipWithError(error.c_str());
            break;
        }
        ClearPortDevices();
        SetPortDevice(2, slave);
        AppUnderTest t;
        t.Start();
        t.View()->BaudRateBox()->setCurrentIndex(4);
        t.View()->TabCtrl()->setCurrentIndex(1);
        t.files->answers.push_back(QString::fromStdString(path));
        QTest::mouseClick(t.Page(1)->ControlAs<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return t.boxes->Count("Remember to power the IRD standby and then on!") == 1; }))
        {
            state.SkipWithError("the image did not load");
            break;
        }

        // The probe: a 1 ms timer; a gap between ticks is time the window
        // thread spent away from its event loop.
        QElapsedTimer clock;
        clock.start();
        qint64 lastTickNs = clock.nsecsElapsed();
        double stallMs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stallMs = std::max(stallMs, double(now - lastTickNs) / 1e6);
            lastTickNs = now;
            ++probeTicks;
        });
        probe.start();
        ReceiverOptions options;
        options.nRate = 115200;
        receiver.PowerOn(options, error);
        // A plain event loop: QTest::qWaitFor would sleep between its rounds
        // and show up as stalls.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (t.boxes->Count("Download Complete") == 1 || clock.elapsed() > 120000)
                loop.quit();
        });
        check.start(20);
        loop.exec();
        const bool completed = t.boxes->Count("Download Complete") == 1;
        transferSeconds = double(clock.elapsed()) / 1000.0;
        probe.stop();
        worstStallMs = std::max(worstStallMs, stallMs);
        state.SetIterationTime(transferSeconds);
        t.app->ExitInstance();
        receiver.Stop();
        if (!completed)
        {
            state.SkipWithError("the download did not complete");
            break;
        }
    }
    state.counters["worst_stall_ms"] = worstStallMs;
    state.counters["download_s"] = transferSeconds;
    state.counters["probe_ticks"] = double(probeTicks);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WindowStallDuring1MBDownload)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
