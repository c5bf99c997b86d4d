// Helpers of the GUI tests: a box presenter that records the boxes and closes
// them itself, a scripted file dialog, and pseudo-terminals that stand in for
// COM ports.
#pragma once

#include "ui/qt/FileChooser.h"
#include "ui/qt/MessageBoxBroker.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <deque>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace guitest
{
// What the presenter saw; shared with the test, touched on the window thread only.
struct BoxLog
{
    std::vector<BoxRequest> boxes;
    bool bAutoClose = true;
    // Boxes with these texts are held open even when the others close at once.
    QStringList holdTexts;
    // Boxes held open while bAutoClose is false, closed by CloseHeld().
    std::vector<std::function<void()>> held;
    bool bClosedAll = false;

    QStringList Texts() const
    {
        QStringList texts;
        for (const BoxRequest& box : boxes)
            texts << QString::fromStdString(box.text);
        return texts;
    }
    int Count(const QString& text) const { return int(Texts().count(text)); }
    void CloseHeld()
    {
        auto pending = std::move(held);
        held.clear();
        for (auto& close : pending)
            close();
    }
};

class CRecordingPresenter : public CBoxPresenter
{
public:
    explicit CRecordingPresenter(std::shared_ptr<BoxLog> log) : m_log(std::move(log)) {}
    void Present(const BoxRequest& request, std::function<void()> closed) override
    {
        m_log->boxes.push_back(request);
        if (m_log->bAutoClose && !m_log->holdTexts.contains(QString::fromStdString(request.text)))
            closed();
        else
            m_log->held.push_back(std::move(closed));
    }
    void CloseAll() override
    {
        m_log->bClosedAll = true;
        m_log->CloseHeld();
    }

private:
    std::shared_ptr<BoxLog> m_log;
};

// Answers the file dialogs from a queue: a path, or an empty text for Cancel.
struct ScriptedFiles
{
    std::deque<QString> answers;
    std::vector<FileDialogRequest> requests;
};

inline FileChooser MakeScriptedChooser(std::shared_ptr<ScriptedFiles> files)
{
    return [files](const FileDialogRequest& request) -> std::optional<QString> {
        files->requests.push_back(request);
        if (files->answers.empty())
            return std::nullopt;
        const QString answer = files->answers.front();
        files->answers.pop_front();
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    };
}

// A pseudo-terminal: the test holds the master and a raw slave descriptor of its
// own, so the program closing and reopening the slave never hangs the line up.
class CTestPty
{
public:
    CTestPty()
    {
        char name[256] = {};
        if (openpty(&m_nMaster, &m_nSlave, name, nullptr, nullptr) != 0)
            return;
        termios raw{};
        tcgetattr(m_nSlave, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_nSlave, TCSANOW, &raw);
        fcntl(m_nMaster, F_SETFL, fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);
        m_strSlavePath = name;
    }
    ~CTestPty()
    {
        if (m_nSlave >= 0)
            close(m_nSlave);
        if (m_nMaster >= 0)
            close(m_nMaster);
    }
    CTestPty(const CTestPty&) = delete;
    CTestPty& operator=(const CTestPty&) = delete;

    bool IsOpen() const { return !m_strSlavePath.empty(); }
    const std::string& SlavePath() const { return m_strSlavePath; }
    void Send(const std::string& bytes) const
    {
        const ssize_t written = write(m_nMaster, bytes.data(), bytes.size());
        (void)written;
    }
    // Everything the program wrote so far.
    std::string Drain() const
    {
        std::string bytes;
        char buffer[4096];
        for (;;)
        {
            const ssize_t n = read(m_nMaster, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, size_t(n));
        }
        return bytes;
    }

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    std::string m_strSlavePath;
};
} // namespace guitest

#include "app/LumApp.h"
#include "app/MainFrame.h"
#include "serial/PortNames.h"
#include "ui/LinkSettings.h"
#include "ui/qt/LumView.h"
#include "ui/qt/PageWidget.h"

#include <QTemporaryDir>

#include <atomic>

namespace guitest
{
// Each test program keeps its settings file (XDG_CONFIG_HOME) in a folder of
// its own that starts empty, never in the user's.
inline QString UseOwnConfigFolder()
{
    static QTemporaryDir folder;
    static const bool set = qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    (void)set;
    return folder.path();
}

// The whole application with recorded boxes and scripted file dialogs.
struct AppUnderTest
{
    std::shared_ptr<BoxLog> boxes = std::make_shared<BoxLog>();
    std::shared_ptr<ScriptedFiles> files = std::make_shared<ScriptedFiles>();
    std::unique_ptr<CLumApp> app;

    explicit AppUnderTest(GuiOptions options = {}, bool autoClose = true)
    {
        UseOwnConfigFolder();
        theLinkSettings = kInitialLinkSettings; // every run starts with COM2 at 9600
        boxes->bAutoClose = autoClose;
        app = std::make_unique<CLumApp>(options, std::make_unique<CRecordingPresenter>(boxes),
                                        MakeScriptedChooser(files));
    }
    bool Start()
    {
        return app->InitInstance() && QTest::qWaitFor([&] { return View()->PagesReady(); }, 10000);
    }
    CMainFrame* Frame() const { return app->MainFrame(); }
    CLumView* View() const { return Frame()->View(); }
    CPageWidget* Page(int index) const { return View()->PageWidget(index); }

    // Runs `call` on the protocol thread and waits for it with the window
    // thread's events flowing (a step may be showing a box).
    template <typename F> auto OnProtocol(F call, int timeoutMs = 10000)
    {
        using Result = decltype(call(std::declval<CLumView&>()));
        auto done = std::make_shared<std::atomic<bool>>(false);
        auto result = std::make_shared<std::optional<Result>>();
        CLumView* view = View();
        view->PostToProtocol([view, call, done, result] {
            result->emplace(call(*view));
            done->store(true);
        });
        const bool finished = QTest::qWaitFor([&] { return done->load(); }, timeoutMs);
        if (!finished)
            qWarning("protocol step did not finish");
        return result->value_or(Result{});
    }
};
} // namespace guitest
