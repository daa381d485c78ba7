// A console scenario program: the console library started like Wardenhall (same options)
// against an engine, driven from here, with each window it shows saved as a PNG file.
//
//   wardenhall_scenario --out DIR [--server HOST] [--port N] [--user NAME]
//
// The start-up scenario: the main window off-line and the On-line Options dialog that opens by
// itself (main-offline.png, online-options.png), then the other windows of the console for a
// look at them (about.png, change-password.png, message-received.png, alert.png), and the sheet
// framework's test sheet on its second page (tab-sheet.png). Exit code 0
// when every picture was saved. Runs offscreen or on an X display (xvfb-run).

#include "console/MainFrame.h"
#include "console/MessageBox.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/AboutDlg.h"
#include "console/dialogs/ChangePasswordDlg.h"
#include "console/dialogs/MessageDlg.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "tests/console/TestSheet.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int kTimeoutMs = 20000;

class CScenario {
public:
    explicit CScenario(QString out) : m_out(std::move(out)) {}

    bool Save(QWidget* window, const char* name) {
        QString path = QDir(m_out).filePath(QString::fromLatin1(name));
        bool saved = window->grab().save(path, "PNG");
        std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
        m_failures += saved ? 0 : 1;
        return saved;
    }

    // Shows `window` on its own, saves it and closes it.
    void Shoot(QWidget* window, const char* name) {
        window->show();
        QApplication::processEvents();
        Save(window, name);
        window->close();
    }

    // The other windows, each shown on its own.
    void ShootTheRest() {
        auto about = std::make_unique<CAboutDlg>();
        Shoot(about.get(), "about.png");
        auto change = std::make_unique<CChangePasswordDlg>();
        Shoot(change.get(), "change-password.png");
        auto received = std::make_unique<CMessageDlg>(false, "Message from Operator on 192.168.1.20",
                                                      "Operator", "The backup line is up again.\nMail is flowing.");
        Shoot(received.get(), "message-received.png");
        std::unique_ptr<QMessageBox> alert(MakeMessageBox(
            nullptr, "There was a problem connecting to the server.\nConnection refused by server.  Check your\n"
                     "server name and port number",
            "Problem connecting to server", MB::kIconStop));
        Shoot(alert.get(), "alert.png");
        CTestRecord record;
        CTestSheet sheet;
        sheet.SetObject(&record, TRUE);
        sheet.show();
        sheet.TabSheet().SelectPage(1);
        Shoot(&sheet, "tab-sheet.png");
    }

    int Failures() const { return m_failures; }
    void Fail() { ++m_failures; }

private:
    QString m_out;
    int m_failures = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    int at = static_cast<int>(arguments.indexOf("--out"));
    if (at < 1 || at + 1 >= arguments.size()) {
        std::fprintf(stderr, "usage: wardenhall_scenario --out DIR [Wardenhall options]\n");
        return 2;
    }
    CScenario scenario(arguments.at(at + 1));
    arguments.remove(at, 2);
    if (!theApp.InitInstance(arguments))
        return 1;

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* options = qobject_cast<COnlineOptionsDlg*>(QApplication::activeModalWidget());
        if (options == nullptr || !options->isVisible())
            return;
        poll.stop();
        scenario.Save(theApp.GetMainFrame(), "main-offline.png");
        scenario.Save(options, "online-options.png");
        options->reject();
        scenario.ShootTheRest();
        QTimer::singleShot(0, qApp, &QApplication::quit);
    });
    poll.start(20);
    QTimer::singleShot(kTimeoutMs, [&] {
        std::fprintf(stderr, "wardenhall_scenario: the On-line Options dialog did not open\n");
        scenario.Fail();
        QApplication::quit();
    });
    QApplication::exec();
    theApp.ExitInstance();
    return scenario.Failures() == 0 ? 0 : 1;
}
