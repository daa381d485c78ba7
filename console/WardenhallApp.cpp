#include "console/WardenhallApp.h"

#include "console/ActivityView.h"
#include "console/AlertPresenter.h"
#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/MainFrame.h"
#include "console/MessageBox.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallDoc.h"
#include "console/WardenhallView.h"
#include "console/dialogs/AboutDlg.h"
#include "console/dialogs/CacheSheet.h"
#include "console/dialogs/ChangePasswordDlg.h"
#include "console/dialogs/DefaultPolicyDlg.h"
#include "console/dialogs/DialerSheet.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "console/dialogs/ServiceSheet.h"
#include "console/dialogs/UserSheet.h"
#include "console/session/WardenhallSession.h"
#include "foundation/Format.h"
#include "platform/kernel/Paths.h"
#include "platform/net/SocketStartup.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDesktopServices>
#include <QFileInfo>
#include <QThread>
#include <QUrl>

#include <cstdio>

CWardenhallApp theApp;

namespace {

// How long exit waits for a session to end before it goes on without it.
constexpr DWORD kSessionEndWaitMs = 15000;

bool OnGuiThread() { return qApp != nullptr && QThread::currentThread() == qApp->thread(); }

}  // namespace

CWardenhallApp::CWardenhallApp() = default;

CWardenhallApp::~CWardenhallApp() = default;

bool CWardenhallApp::ApplyArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    QCommandLineOption server("server", "The engine's host name or address.", "HOST");
    QCommandLineOption port("port", "The engine's remote-control port.", "N");
    QCommandLineOption user("user", "The user name to log on with.", "NAME");
    parser.addOptions({server, port, user});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "Wardenhall: %s\nusage: Wardenhall [--server HOST] [--port N] [--user NAME]\n",
                     qPrintable(parser.errorText().isEmpty() ? QStringLiteral("unexpected argument")
                                                             : parser.errorText()));
        return false;
    }
    if (parser.isSet(port)) {
        bool numeric = false;
        int value = parser.value(port).toInt(&numeric);
        if (!numeric || value < 1 || value > 65535) {
            std::fprintf(stderr, "Wardenhall: --port needs a number from 1 to 65535\n");
            return false;
        }
        m_settings.port = value;
    }
    if (parser.isSet(server))
        m_settings.server = FromDisplay(parser.value(server));
    if (parser.isSet(user))
        m_settings.userName = FromDisplay(parser.value(user));
    return true;
}

bool CWardenhallApp::InitInstance(const QStringList& arguments) {
    if (!SocketStartup()) {
        ConsoleMessageBox(nullptr, ConsoleTexts::kSocketsFailed);
        return false;
    }
    m_settings = CConsoleSettings();
    LoadSettings();
    if (!ApplyArguments(arguments))
        return false;
    m_online = false;
    m_lastLogonSucceeded = 0;
    m_configurationChanged = 0;

    QApplication::setApplicationDisplayName(QString());
    ConsoleImages::LoadImageList(nullptr);
    CAlertPresenter::Install();
    CViewDispatcher::Instance(*this);
    InstallConfigurationDialogs();
    m_document = std::make_unique<CWardenhallDoc>();
    m_document->OnNewDocument();
    m_mainFrame = std::make_unique<CMainFrame>();
    m_alertOwner = m_mainFrame.get();
    m_activityView = m_mainFrame->ActivityPane();
    m_configurationView = m_mainFrame->ConfigurationPane();
    ShowOnlineState();
    m_mainFrame->show();

    // Go On-line as soon as the loop runs.
    QMetaObject::invokeMethod(m_mainFrame.get(), [this] { OnGoOnline(); }, Qt::QueuedConnection);
    return true;
}

void CWardenhallApp::InstallConfigurationDialogs() {
    CConfigurationDialogs dialogs;
    AddUserDatabaseDialogs(dialogs);
    AddServiceDialogs(dialogs);
    AddPolicyDialogs(dialogs);
    AddDialerDialogs(dialogs);
    AddCacheSheet(dialogs);
    CWardenhallView::SetDialogs(std::move(dialogs));
}

int CWardenhallApp::ExitInstance() {
    std::shared_ptr<CEvent> ended;
    {
        std::lock_guard lock(m_sessionMutex);
        if (m_session) {
            ended = m_session->EndedEvent();
            m_session->Terminate(0);
        }
    }
    if (ended)
        ended->Wait(kSessionEndWaitMs);
    SaveSettings();
    m_activityView = nullptr;
    m_configurationView = nullptr;
    m_alertOwner = nullptr;
    m_mainFrame.reset();
    m_document.reset();
    CAlertPresenter::Uninstall();
    return 0;
}

int CWardenhallApp::Run(const QStringList& arguments) {
    if (!InitInstance(arguments))
        return 1;
    QApplication::exec();
    return ExitInstance();
}

void CWardenhallApp::SetOnline(bool online) {
    m_online = online;
    if (OnGuiThread())
        ShowOnlineState();
    else if (qApp)
        QMetaObject::invokeMethod(qApp, [this] { ShowOnlineState(); }, Qt::QueuedConnection);
}

void CWardenhallApp::ShowOnlineState() {
    if (!m_mainFrame)
        return;
    bool online = m_online.load();
    std::string title = online ? FormatText(ConsoleTexts::kTitleOnline, m_settings.server.c_str())
                               : std::string(ConsoleTexts::kTitleOffline);
    m_mainFrame->setWindowTitle(ToDisplay(title));
    m_mainFrame->EnableCommands(online);
}

void CWardenhallApp::Alert(int mode, unsigned flags, const std::string& title, const std::string& text,
                           const std::string& address, std::function<void()> dismissed) {
    auto* alert = new CAlertThread(mode, m_alertOwner.load(), flags, title, text, address);
    alert->dismissed = std::move(dismissed);
    alert->Start();
}

void CWardenhallApp::ChangePassword() {
    if (!qApp)
        return;
    // As the main window's command: it does nothing while the command is disabled.
    QMetaObject::invokeMethod(
        qApp,
        [this] {
            if (m_mainFrame)
                if (QAction* command = m_mainFrame->Action(ConsoleIds::kChangePassword))
                    command->trigger();
        },
        Qt::QueuedConnection);
}

IViewDispatcher& CWardenhallApp::Views() { return CViewDispatcher::Instance(*this); }

void CWardenhallApp::QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                                  const std::string& arg3) {
    std::lock_guard lock(m_sessionMutex);
    if (m_session)
        m_session->QueueMessage(op, arg1, arg2, arg3);
}

void CWardenhallApp::QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) {
    std::lock_guard lock(m_sessionMutex);
    if (m_session)
        m_session->QueueRequest(op, arg1, std::move(object));
}

bool CWardenhallApp::ForgetSession(IWardenhallSession* session) {
    std::lock_guard lock(m_sessionMutex);
    if (session == nullptr || m_session != session)
        return false;
    m_session = nullptr;
    return true;
}

bool CWardenhallApp::HasSession() const {
    std::lock_guard lock(m_sessionMutex);
    return m_session != nullptr;
}

void CWardenhallApp::OnGoOnline() {
    {
        std::lock_guard lock(m_sessionMutex);
        // On-line: end the session. Its own end forgets it, puts the console off-line and empties
        // the views.
        if (IsOnline()) {
            if (m_session)
                m_session->Terminate(0);
            return;
        }
        // A session still ending is told to end.
        if (m_session)
            m_session->Terminate(0);
    }
    if (!m_lastLogonSucceeded) {
        COnlineOptionsDlg dialog(m_settings, m_mainFrame.get());
        if (ExecChildDialog(dialog) != QDialog::Accepted)
            return;
    }
    IWardenhallSession* session =
        m_sessionFactory ? m_sessionFactory(*this) : new CWardenhallSession(*this);
    if (session == nullptr)
        return;
    std::lock_guard lock(m_sessionMutex);
    m_session = session;
    if (!session->Start())
        m_session = nullptr;
}

void CWardenhallApp::OnGoOffline() {
    if (!IsOnline())
        return;
    if (m_configurationChanged &&
        ConsoleMessageBox(m_mainFrame.get(), ConsoleTexts::kOfflineUnsaved, ConsoleTexts::kConfigurationChanged,
                          MB::kIconStop | MB::kYesNo) == IDNO)
        return;
    {
        std::lock_guard lock(m_sessionMutex);
        if (m_session)
            m_session->Terminate(0);
    }
    m_configurationChanged = 0;
}

void CWardenhallApp::OnSaveChanges() {
    if (IsOnline())
        ConsoleSession().QueueMessage(ConsoleRequests::kCommitConfiguration, {}, {}, {});
}

void CWardenhallApp::OnChangePassword() {
    CChangePasswordDlg dialog(m_mainFrame.get());
    if (ExecChildDialog(dialog) != QDialog::Accepted)
        return;
    if (IsOnline())
        ConsoleSession().QueueMessage(ConsoleRequests::kChangePassword, m_settings.userName, dialog.OldPassword(),
                                      dialog.NewPassword());
    m_settings.password = dialog.NewPassword();
}

void CWardenhallApp::OnOnlineOptions() {
    COnlineOptionsDlg dialog(m_settings, m_mainFrame.get());
    ExecChildDialog(dialog);
}

void CWardenhallApp::OnShutdownEngine() {
    if (!IsOnline())
        return;
    if (m_configurationChanged &&
        ConsoleMessageBox(m_mainFrame.get(), ConsoleTexts::kShutdownUnsaved, ConsoleTexts::kConfigurationChanged,
                          MB::kIconStop | MB::kYesNo) == IDNO)
        return;
    m_configurationChanged = 0;
    ConsoleSession().QueueMessage(ConsoleRequests::kShutdown, {}, {}, {});
}

void CWardenhallApp::OnAppAbout() {
    CAboutDlg dialog(m_mainFrame.get());
    ExecChildDialog(dialog);
}

void CWardenhallApp::OnAppExit() {
    if (m_mainFrame)
        m_mainFrame->close();
}

void CWardenhallApp::WinHelp() {
    std::string page = ProgramDirectory() + "/" + ConsoleTexts::kHelpFile;
    QString path = QString::fromLocal8Bit(page.c_str());
    if (!QFileInfo::exists(path) || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        ConsoleMessageBox(m_mainFrame.get(), FormatText(ConsoleTexts::kHelpNotOpened, page.c_str()), {},
                          MB::kIconExclamation);
}
