#pragma once
// CWardenhallApp: the console program's application object (one, theApp). It holds the user's
// connection settings, the on-line state and its window title, the commands that take the
// console on-line and off-line, save the engine's configuration, change the user's password and
// shut the engine down, and the running console session.
//
// Start-up (InitInstance), in this order: the socket layer (failing: text 104 and the end);
// the settings, then the command line's --server, --port and --user in their place; the image
// list and the main frame; then Go On-line is posted to the running loop, so the On-line
// Options dialog opens as soon as the loop runs. The console never sets the engine's
// configuration root: objects that save themselves write nothing into any engine's store.
//
// Exit (ExitInstance): a running session is terminated and waited for, before the settings are
// saved (every value but the password) and anything it uses goes. Nothing asks about changes
// that were not saved.
//
// Threads. Everything here belongs to the GUI thread except what a session thread uses (the
// IWardenhallHost operations and the two flags) and the session interface (IsOnline,
// QueueMessage, QueueRequest), which any thread may call; SetOnline and ChangePassword from
// another thread act through queued calls.

#include "console/ConsoleSession.h"
#include "console/ConsoleSettings.h"
#include "console/session/WardenhallHost.h"
#include "platform/kernel/Sync.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class CMainFrame;
class CWardenhallDoc;

class CWardenhallApp : public IConsoleSession, public IWardenhallHost {
public:
    // Makes the session for Go On-line; null when none could be made.
    using SessionFactory = std::function<IWardenhallSession*(CWardenhallApp&)>;

    CWardenhallApp();
    ~CWardenhallApp() override;
    CWardenhallApp(const CWardenhallApp&) = delete;
    CWardenhallApp& operator=(const CWardenhallApp&) = delete;

    // Start-up (see the top of this file) with the program's arguments (the first is the
    // program). False when the program must end.
    bool InitInstance(const QStringList& arguments);
    // Exit: returns the program's exit code.
    int ExitInstance();
    // InitInstance, the event loop, ExitInstance.
    int Run(const QStringList& arguments);

    CMainFrame* GetMainFrame() const { return m_mainFrame.get(); }
    // The document (console/WardenhallDoc.h), made new by InitInstance; null before.
    CWardenhallDoc* GetDocument() const { return m_document.get(); }

    // --- On-line state --------------------------------------------------------------------
    // Stores the flag and sets the title "Urvo Wardenhall - Online to <server>" or "Urvo
    // Wardenhall - Off-line", and the commands' states. Any thread.
    void SetOnline(bool online) override;
    bool IsOnline() const override { return m_online.load(); }

    // --- IWardenhallHost: what the running session uses ---------------------------------------
    CConsoleSettings LogonSettings() const override { return m_settings; }
    void SetLastLogonSucceeded(bool succeeded) override { m_lastLogonSucceeded = succeeded ? 1 : 0; }
    void SetConfigurationChanged(bool changed) override { m_configurationChanged = changed ? 1 : 0; }
    // An alert owned by the main window (console/AlertThread.h).
    void Alert(int mode, unsigned flags, const std::string& title, const std::string& text,
               const std::string& address = {}, std::function<void()> dismissed = {}) override;
    // Change Password, run by the GUI thread's loop.
    void ChangePassword() override;
    IViewDispatcher& Views() override;

    // --- IConsoleSession: requests go to the running session -------------------------------
    void QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                      const std::string& arg3) override;
    void QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) override;

    // --- The session ------------------------------------------------------------------------
    // The factory of Go On-line; an empty one brings back the console session
    // (console/session/WardenhallSession.h).
    void SetSessionFactory(SessionFactory factory) { m_sessionFactory = std::move(factory); }
    // Called by a session as it ends: true (and the application forgets it) when it is still
    // the application's session. Any thread.
    bool ForgetSession(IWardenhallSession* session) override;
    bool HasSession() const;

    // --- Settings ---------------------------------------------------------------------------
    void LoadSettings() { m_settings.Load(); }
    bool SaveSettings() const { return m_settings.Save(); }

    // --- Commands ---------------------------------------------------------------------------
    void OnGoOnline();
    void OnGoOffline();
    void OnSaveChanges();
    void OnChangePassword();
    // The On-line Options dialog; its result is not used further.
    void OnOnlineOptions();
    void OnShutdownEngine();
    void OnAppAbout();
    void OnAppExit();
    // Opens the help page beside the program, whatever was asked for.
    void WinHelp();

    // --- Fields -------------------------------------------------------------------------------
    // User name, password, server, port and the five Wants values.
    CConsoleSettings m_settings;
    // The windows that the session's notices go to (console/ViewDispatcher.h); GUI thread.
    // The views' panes, set by the frame.
    QPointer<QWidget> m_activityView;
    QPointer<QWidget> m_configurationView;
    // Open sheets, registered while they are open: the user sheet with the user it edits.
    QPointer<QWidget> m_userSheetWindow;
    CRef<CObject> m_userSheetObject;
    QPointer<QWidget> m_dialerSheetWindow;
    int m_dialerSheetRegistered = 0;
    int m_cacheSheetRegistered = 0;
    QPointer<QWidget> m_cacheSheetWindow;
    // Set by a successful log-on, cleared by a failed one (any thread).
    std::atomic<int> m_lastLogonSucceeded{0};
    // Set when the engine accepted a change; cleared when it accepts request 12, and by Go
    // Off-line and Shutdown (any thread).
    std::atomic<int> m_configurationChanged{0};

private:
    // The configuration tree's openers of the property sheets and dialogs the console has.
    static void InstallConfigurationDialogs();
    // The title and the commands for the on-line flag as it is now; GUI thread.
    void ShowOnlineState();
    bool ApplyArguments(const QStringList& arguments);

    std::unique_ptr<CWardenhallDoc> m_document;
    std::unique_ptr<CMainFrame> m_mainFrame;
    // The main window as the owner of alerts raised on other threads; null while there is none.
    std::atomic<QWidget*> m_alertOwner{nullptr};
    std::atomic<bool> m_online{false};
    mutable std::mutex m_sessionMutex;
    IWardenhallSession* m_session = nullptr;
    SessionFactory m_sessionFactory;
};

extern CWardenhallApp theApp;
