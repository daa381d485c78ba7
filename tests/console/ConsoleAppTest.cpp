// The application: settings in the per-user hive, the command line, titles and commands by the
// on-line flag (also set from another thread), Go On-line and Go Off-line with a session,
// and exit.

#include "console/ActivityView.h"
#include "console/WardenhallView.h"
#include "console/ConsoleIds.h"
#include "console/MainFrame.h"
#include "console/ScaledLayout.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "foundation/RegistryStore.h"
#include "platform/registry/Registry.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

namespace {

using namespace ConsoleIds;

// A session thread that goes on-line at once and ends when told to, as the console session
// does: it forgets itself, puts the console off-line, and only then counts as ended.
class CFakeSession : public IWardenhallSession {
public:
    ~CFakeSession() override {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Start() override {
        m_thread = std::thread([this] {
            theApp.m_lastLogonSucceeded = 1;
            theApp.SetOnline(true);
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_terminations > 0; });
            lock.unlock();
            if (theApp.ForgetSession(this))
                theApp.SetOnline(false);
            m_ended->Set();
        });
        return true;
    }
    void Terminate(int) override {
        std::lock_guard lock(m_mutex);
        ++m_terminations;
        m_cv.notify_all();
    }
    std::shared_ptr<CEvent> EndedEvent() const override { return m_ended; }
    void QueueMessage(WORD op, const std::string&, const std::string&, const std::string&) override { ops.push_back(op); }
    void QueueRequest(WORD op, const std::string&, CRef<CObject>) override { ops.push_back(op); }

    std::vector<WORD> ops;

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_terminations = 0;
    std::shared_ptr<CEvent> m_ended = std::make_shared<CEvent>(true);
};

// Each On-line Options dialog that opens is answered by `answer` (OK or Cancel).
class CDialogAnswerer {
public:
    explicit CDialogAnswerer(bool ok) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, ok] {
            if (auto* dialog = qobject_cast<COnlineOptionsDlg*>(QApplication::activeModalWidget())) {
                ++opened;
                ok ? dialog->accept() : dialog->reject();
            }
        });
        m_timer.start(10);
    }
    int opened = 0;

private:
    QTimer m_timer;
};

std::string Title() { return FromDisplay(theApp.GetMainFrame()->windowTitle()); }

bool Enabled(int id) { return theApp.GetMainFrame()->Action(id)->isEnabled(); }

class ConsoleApp : public testing::Test {
protected:
    void TearDown() override {
        if (theApp.GetMainFrame())
            theApp.ExitInstance();
        theApp.SetSessionFactory({});
    }
    // Starts the application and lets its first Go On-line run to its dialog, cancelled.
    void Start(QStringList arguments) {
        arguments.prepend("Wardenhall");
        CDialogAnswerer cancel(false);
        ASSERT_TRUE(theApp.InitInstance(arguments));
        ASSERT_TRUE(ProcessUntil([&] { return cancel.opened == 1; }));
    }
    TempStateDir state;
    CBoxRecorder boxes;
};

TEST_F(ConsoleApp, SettingsDefaultOnAnEmptyHiveAndAreSavedWithoutThePassword) {
    CConsoleSettings loaded;
    loaded.port = 1;
    loaded.Load();
    EXPECT_EQ(loaded.port, 1) << "nothing stored: the value stays";
    EXPECT_EQ(RegHivePath(HKEY_CURRENT_USER).empty(), false);

    Start({});
    EXPECT_EQ(theApp.m_settings.userName, "Administrator");
    EXPECT_EQ(theApp.m_settings.server, "localhost");
    EXPECT_EQ(theApp.m_settings.port, 808);
    EXPECT_EQ(theApp.m_settings.wantsMonitor + theApp.m_settings.wantsModifyEngine +
                  theApp.m_settings.wantsModifyUsers + theApp.m_settings.wantsAlerts + theApp.m_settings.wantsMessages,
              5);
    // The console never names the engine's configuration root, so nothing it holds can save
    // itself into an engine's store.
    EXPECT_EQ(OpenRegistryRoot(), nullptr);

    theApp.m_settings.password = "secret";
    theApp.m_settings.wantsAlerts = 0;
    theApp.ExitInstance();

    CRegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, SettingsFormat::kKey, KEY_READ, key.Receive()), ERROR_SUCCESS);
    std::vector<std::string> names;
    std::string name, data;
    DWORD type = 0;
    for (DWORD i = 0; RegEnumValue(key.Get(), i, &name, &type, &data) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Username", "NorvaneServer", "NorvanePort", "WantsMonitorNorvane",
                                               "WantsModifyNorvane", "WantsModifyUsers", "WantsAlerts",
                                               "WantsMessages"}));
    ASSERT_EQ(RegQueryValueEx(key.Get(), "Username", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, std::string("Administrator\0", 14));
    ASSERT_EQ(RegQueryValueEx(key.Get(), "NorvanePort", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("\x28\x03\0\0", 4));

    CConsoleSettings again;
    again.Load();
    EXPECT_EQ(again.wantsAlerts, 0);
    EXPECT_EQ(again.password, "");
}

TEST_F(ConsoleApp, CommandLineReplacesStoredSettingsAndIsSavedAtExit) {
    CConsoleSettings stored;
    stored.server = "stored.example";
    stored.userName = "Operator";
    ASSERT_TRUE(stored.Save());

    Start({"--server", "engine.example", "--port", "9808"});
    EXPECT_EQ(theApp.m_settings.server, "engine.example");
    EXPECT_EQ(theApp.m_settings.port, 9808);
    EXPECT_EQ(theApp.m_settings.userName, "Operator");
    theApp.ExitInstance();

    CConsoleSettings saved;
    saved.Load();
    EXPECT_EQ(saved.server, "engine.example");
    EXPECT_EQ(saved.port, 9808);

    for (QStringList bad : {QStringList{"--port", "eight"}, {"--port", "70000"}, {"--bogus"}, {"stray"}}) {
        bad.prepend("Wardenhall");
        EXPECT_FALSE(theApp.InitInstance(bad)) << bad.join(' ').toStdString();
        EXPECT_EQ(theApp.GetMainFrame(), nullptr);
    }
}

TEST_F(ConsoleApp, FrameTitlesAndCommandsFollowTheOnlineFlag) {
    Start({"--server", "engine.example"});
    CMainFrame* frame = theApp.GetMainFrame();
    // The first layout's 600 x 440 and 400-pixel left pane, for the font the console shows,
    // and shown as tall as three quarters of the screen.
    EXPECT_EQ(frame->width(), ScaledWidth(frame, 600));
    EXPECT_GT(frame->width(), 600) << "the console's font is wider than the first layout's";
    EXPECT_EQ(frame->height(), std::max(ScaledWidth(frame, 440), frame->screen()->availableGeometry().height() * 3 / 4));
    EXPECT_EQ(frame->Splitter()->sizes().value(0), ScaledWidth(frame, 400));
    EXPECT_EQ(theApp.m_activityView.data(), static_cast<QWidget*>(frame->ActivityPane()));
    EXPECT_EQ(theApp.m_configurationView.data(), static_cast<QWidget*>(frame->ConfigurationPane()));
    EXPECT_EQ(frame->ToolBar()->allowedAreas(), Qt::AllToolBarAreas);
    EXPECT_EQ(frame->toolBarArea(frame->ToolBar()), Qt::TopToolBarArea);
    EXPECT_EQ(frame->ToolBar()->actions().size(), 5);
    EXPECT_TRUE(frame->ToolBar()->actions().at(3)->isSeparator());
    EXPECT_EQ(frame->Action(kGoOnline)->shortcut(), QKeySequence("Ctrl+G"));
    EXPECT_EQ(frame->Action(kGoOnline)->statusTip(), "Go on-line to Norvane for remote monitoring and control");
    EXPECT_EQ(frame->Action(kGoOnline)->toolTip(), "Go On-line");
    EXPECT_TRUE(frame->ConfigurationMenu()->menuAction()->isEnabled()) << "filled by the configuration tree";
    EXPECT_TRUE(frame->ActivityMenu()->menuAction()->isEnabled()) << "filled by the activity view";
    EXPECT_TRUE(CWardenhallView::Dialogs().userSheet && CWardenhallView::Dialogs().groupDialog)
        << "the tree opens the user sheet and the group dialogs";

    auto expectState = [&](bool online) {
        EXPECT_EQ(Title(), online ? "Urvo Wardenhall - Online to engine.example" : "Urvo Wardenhall - Off-line");
        EXPECT_EQ(Enabled(kGoOnline), !online);
        for (int id : {kGoOffline, kSaveChanges, kChangePassword, kShutdownEngine})
            EXPECT_EQ(Enabled(id), online) << id;
        for (int id : {kOnlineOptions, kAppAbout, kAppExit})
            EXPECT_TRUE(Enabled(id)) << id;
    };
    expectState(false);
    theApp.SetOnline(true);
    expectState(true);

    // From another thread the widgets change on the GUI thread, through the loop.
    std::thread([] { theApp.SetOnline(false); }).join();
    EXPECT_FALSE(theApp.IsOnline());
    EXPECT_EQ(Title(), "Urvo Wardenhall - Online to engine.example") << "not yet: the call is queued";
    ASSERT_TRUE(ProcessUntil([] { return Title() == "Urvo Wardenhall - Off-line"; }));
    expectState(false);
}

TEST_F(ConsoleApp, GoOnlineGoOfflineAndExitDriveTheSession) {
    std::vector<std::unique_ptr<CFakeSession>> sessions;
    theApp.SetSessionFactory([&](CWardenhallApp&) {
        sessions.push_back(std::make_unique<CFakeSession>());
        return sessions.back().get();
    });
    Start({"--server", "127.0.0.2"});
    EXPECT_TRUE(sessions.empty()) << "the dialog was cancelled";

    {
        CDialogAnswerer ok(true);
        theApp.OnGoOnline();
        EXPECT_EQ(ok.opened, 1);
    }
    ASSERT_EQ(sessions.size(), 1u);
    ASSERT_TRUE(ProcessUntil([] { return Title() == "Urvo Wardenhall - Online to 127.0.0.2"; }));
    EXPECT_TRUE(boxes.calls.size() == 1 && boxes.calls[0].text.starts_with("You have not specified a password"));

    // Requests reach the running session, and its own commands too.
    theApp.OnSaveChanges();
    theApp.OnShutdownEngine();
    EXPECT_EQ(sessions[0]->ops, (std::vector<WORD>{12, 140}));

    // Go On-line while on-line only ends the session; its own end puts the console off-line.
    theApp.OnGoOnline();
    ASSERT_TRUE(ProcessUntil([] { return Title() == "Urvo Wardenhall - Off-line"; }));
    EXPECT_FALSE(theApp.HasSession());
    EXPECT_EQ(sessions.size(), 1u);

    // After a successful log-on the next Go On-line asks nothing.
    theApp.OnGoOnline();
    ASSERT_EQ(sessions.size(), 2u);
    ASSERT_TRUE(ProcessUntil([] { return theApp.IsOnline(); }));

    // Go Off-line with unsaved changes asks first; No keeps the session.
    theApp.m_configurationChanged = 1;
    boxes.Answer(IDNO);
    theApp.OnGoOffline();
    EXPECT_EQ(boxes.calls.back().title, "Configuration changed");
    EXPECT_EQ(boxes.calls.back().flags, MB::kIconStop | MB::kYesNo);
    EXPECT_FALSE(sessions[1]->EndedEvent()->IsSignalled());
    boxes.Answer(IDYES);
    theApp.OnGoOffline();
    EXPECT_EQ(theApp.m_configurationChanged.load(), 0);
    ASSERT_TRUE(ProcessUntil([] { return !theApp.IsOnline(); }));

    // Exit while on-line ends the session and waits for it before the settings are saved.
    theApp.OnGoOnline();
    ASSERT_EQ(sessions.size(), 3u);
    ASSERT_TRUE(ProcessUntil([] { return theApp.IsOnline(); }));
    theApp.m_settings.password = "never stored";
    theApp.ExitInstance();
    EXPECT_TRUE(sessions[2]->EndedEvent()->IsSignalled());
    CConsoleSettings saved;
    saved.Load();
    EXPECT_EQ(saved.server, "127.0.0.2");
}

TEST_F(ConsoleApp, ChangePasswordQueuesOnlyOnlineAndKeepsTheNewPassword) {
    CRecordingSession session;
    Start({});
    theApp.m_settings.userName = "Operator";
    for (bool online : {true, false}) {
        session.online = online;
        theApp.SetOnline(online);
        std::string newPassword = online ? "new-1" : "new-2";
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            SetControlText(dialog, 1002, "old");
            SetControlText(dialog, 1001, QString::fromStdString(newPassword));
            SetControlText(dialog, 1024, QString::fromStdString(newPassword));
            ClickControl(dialog, kOk);
        });
        theApp.OnChangePassword();
        EXPECT_EQ(theApp.m_settings.password, newPassword);
    }
    EXPECT_EQ(session.requests, (std::vector<CRecordingSession::Request>{{120, "Operator", "old", "new-1", false}}));
}

}  // namespace
