// A console scenario program: the console library started like Wardenhall (same options)
// against an engine, driven from here, with the windows it shows saved as PNG files.
//
//   wardenhall_scenario --out DIR [--commands] [--server HOST] [--port N] [--user NAME]
//
// The start-up scenario (without --commands): the main window off-line and the On-line Options
// dialog that opens by itself (main-offline.png, online-options.png), then the other windows
// of the console for a look at them (about.png, change-password.png, location.png, message-received.png,
// alert.png), and the sheet framework's test sheet on its second page (tab-sheet.png). Exit
// code 0 when every picture was saved.
//
// With --commands the program reads one command a line from its standard input, and answers
// each with "ok <command>" or "FAILED <command>: <why>" once it is done. Meanwhile it prints
// what the console shows: "view <cfg|act> <code> <what>" for each notice to a view, "alert
// <title>|<text>" for each alert, "box <title>|<text>" for each question (answered Yes or OK),
// "message <caption>|<reply address>" for each message received, "title <text>" as the title
// changes (line breaks are written "\n"), "saved <path>|<title>" for each picture. Commands:
//   logon PASSWORD [USER]  answers the On-line Options dialog (opened if need be) with them
//   wait TEXT              until a line printed since the last wait (not an answer) holds TEXT
//   seen TEXT              until any line printed so far (not an answer) holds TEXT; for what
//                          may come before or after the last wait's line
//   dismiss                clicks OK in the oldest open alert
//   request OP [A1 A2 A3]  queues a request on the session
//   add-group NAME         queues request 25 with a new group of that name
//   save | shutdown | offline | online   the application's commands
//   change-password OLD NEW  answers the next Change Password dialog
//   flags                  "flags online=0|1 changed=0|1 logon=0|1"
//   counts                 "counts users=U groups=G services=S locations=L machines=M"
//   user NAME              "user NAME sent=.. received=.. remote-sent=.. remote-received=.. time=.."
//   touch                  reads every object that a notice brought ("touched N")
//   wait-ended             until every session made has ended ("ended N")
//   shot NAME | shot-alert NAME   the main window / the newest alert as NAME.png
//   new-user NAME PASSWORD  New user: the sheet filled (session creation audited), each page
//                          saved as user-<page>.png, then OK
//   open-user NAME         the user's property sheet, left open on its Accounting page
//   sheet                  "sheet <the five quantities of the open sheet>"
//   close-sheet            Cancel on the open sheet
//   shot-groups            New Group and Edit Group ("Users") as new-group.png, edit-group.png
//   tree cfg|act           "tree <view> <label>/<label>..." for every item of that view, then
//                          "tree <view> end"
//   terminate TEXT         selects the first activity item whose label holds TEXT and runs
//                          Terminate on it
//   new-location PATTERN [USER]  answers the Location dialog of New Location (32848) with
//                          them; then "shown PATTERN N": the items with that label right
//                          after OK
//   gallery MANIFEST [SECRET...]  walks the gallery's manifest (Gallery.h), one picture of each
//                          window and page; no window may show a SECRET in clear text
//   run VIEW PATH ID       runs command ID on the item at PATH of view cfg or act (Gallery.h)
//   picture VIEW PATH      "picture N": the picture the item at PATH shows
//   send-message LABEL TEXT  Send Message on the activity item LABEL, TEXT written and sent
//                          ("composing <caption>|<address>")
//   reply TEXT             Reply in the newest message received, TEXT written and sent
//   service NAME|new:CLASS STEP...  the service's property sheet (Properties of NAME, or a New
//                          service of CLASS): each STEP "PAGE:ID=TEXT" types TEXT into control
//                          ID of page PAGE (its dialog number), "PAGE:ID" clicks it; each page
//                          is saved as service-<PAGE>.png, then OK
//   empty-right TEXT       double-clicks "System Rights" in the configuration tree and, in the
//                          Default Policy dialog, removes every recipient of the right whose
//                          description is TEXT (saved as system-rights.png), then OK
//   open-dialer            "Dialing" of the configuration tree: the dialer sheet, left open; its
//                          notices are printed as "view dialer <code> <what>"
//   dialer-add NAME ENTRY  the Phonebook page's Add: the new profile NAME dials ENTRY
//   dialer-site TEXT       the Local sites page's Add with TEXT
//   dialer-apply | dialer-ok   the dialer sheet's Apply / OK (each page saved as a picture first)
//   dialer-dial NAME | dialer-reset NAME   the Phonebook page's Dial / Reset on NAME's row
//   dialer-wait NAME TEXT  until the Status of NAME's row is TEXT (or one of TEXT|TEXT...)
//   open-service NAME|new:CLASS STEP...  the service's property sheet as `service` opens and
//                          fills it, left open for the sheet commands
//   open-cache             the configuration tree's "Caching" opens the cache sheet (its notices
//                          print as "view cache <code> -"); the sheet commands act on it, or on
//                          the sheet of open-service:
//   sheet-page N           goes to page N (an index, or a page's dialog number) as a click on
//                          its tab does
//   sheet-check ID 0|1 | sheet-click ID   on the active page's control (else the sheet's);
//                          sheet-check clicks only when the box is not so already
//   sheet-choose ID TEXT   chooses the item TEXT of the combo box ID
//   sheet-answer ID STEP...  clicks the button ID (or double-clicks the first row of list ID),
//                          and answers the sheet that opens with the STEPs of `service`, then OK
//   sheet-criterion VARIABLE|COMPARISON|VALUE   Add Criterion on the active page's last filter,
//                          its Criterion dialog answered with them
//   sheet-shot NAME | sheet-ok   the open sheet as NAME.png / its OK
//   quit
// A command that names a service, a user, an item of a view or a dialer profile first waits
// until the console holds it (the engine's lists arrive after the log-on, as notices that may
// trail the requests' answers). Every time limit is a multiple of NORVANE_TIME_SCALE, which
// the drivers set for sanitizer builds. Runs offscreen or on an X display (xvfb-run).

#include "console/ActivityView.h"
#include "console/ConsoleIds.h"
#include "console/Controls.h"
#include "console/MainFrame.h"
#include "console/MessageBox.h"
#include "console/RequestFilterTree.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"
#include "console/dialogs/AboutDlg.h"
#include "console/dialogs/CacheSheet.h"
#include "console/dialogs/ChangePasswordDlg.h"
#include "console/dialogs/CriterionDlg.h"
#include "console/dialogs/DefaultPolicyDlg.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/DialerSheet.h"
#include "console/dialogs/EditProfileSheet.h"
#include "console/dialogs/LocationDlg.h"
#include "console/dialogs/GroupDlg.h"
#include "console/dialogs/MessageDlg.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "console/dialogs/ServiceSheet.h"
#include "console/dialogs/UserSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "console/session/WHTreeItem.h"
#include "console/session/WardenhallSession.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/framework/ServiceManager.h"
#include "platform/framework/RuntimeClass.h"
#include "foundation/ScopedLock.h"
#include "tests/console/Gallery.h"
#include "tests/console/Shots.h"
#include "tests/console/TestSheet.h"
#include "tests/support/TimeScale.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace {

constexpr int kTimeoutMs = 20000;
// The whole gallery walk.
constexpr int kGalleryTimeoutMs = 240000;
// How long a command waits for a dialog to open by itself before it opens one.
constexpr int kDialogWaitMs = 2000;

std::string OneLine(std::string text) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
        text.replace(at, 1, "\\n");
    return text;
}

// Everything printed so far, for the waits.
std::vector<std::string> said;

void Say(const std::string& line) {
    said.push_back(line);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The start-up scenario's pictures, and the other windows shot on their own.
class CScenario : public CShots {
public:
    explicit CScenario(QString out) : CShots(std::move(out), Say) {}

    // The other windows, each shown on its own.
    void ShootTheRest() {
        auto about = std::make_unique<CAboutDlg>();
        Shoot(about.get(), "about.png");
        auto change = std::make_unique<CChangePasswordDlg>();
        Shoot(change.get(), "change-password.png");
        auto location = std::make_unique<CLocationDlg>();
        Shoot(location.get(), "location.png");
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
};

// Prints and keeps every notice a view gets, before the view handles it.
class CRecordingView : public QObject {
public:
    explicit CRecordingView(const char* name) : m_name(name) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != CViewUpdateEvent::Type())
            return false;
        auto* update = static_cast<CViewUpdateEvent*>(event);
        kept.push_back(update->Object());
        Say("view " + m_name + " " + std::to_string(update->Code()) + " " + Describe(update->Object().Get()));
        return false;
    }

    // What a notice names: a record's kind and label, or the object's class and label.
    static std::string Describe(CObject* object) {
        if (object == nullptr)
            return "-";
        if (auto* item = dynamic_cast<CWHTreeItem*>(object))
            return "item " + std::to_string(item->kind) + " " + item->text;
        return std::string(object->GetRuntimeClass()->GetName()) + " " + CWHTreeItem(CRef<CObject>(object), "").text;
    }

    std::vector<CRef<CObject>> kept;

private:
    std::string m_name;
};

// The command mode (see the top of this file).
class CCommands {
public:
    explicit CCommands(CScenario& scenario) : m_scenario(scenario) {
        SetMessageBoxAnswerer([](const MessageBoxCall& call) {
            Say("box " + OneLine(call.title) + "|" + OneLine(call.text));
            return (call.flags & MB::kButtonMask) == MB::kYesNo ? IDYES : IDOK;
        });
        theApp.SetSessionFactory([this](CWardenhallApp& app) {
            auto* session = new CWardenhallSession(app);
            m_ended.push_back(session->EndedEvent());
            return session;
        });
        QObject::connect(&m_watch, &QTimer::timeout, [this] { Watch(); });
        m_watch.start(20);
        m_input = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
        QObject::connect(m_input.get(), &QSocketNotifier::activated, [this] { ReadCommand(); });
    }

    // After InitInstance: the views' notices are recorded.
    void Attach() {
        theApp.m_configurationView->installEventFilter(&m_configuration);
        theApp.m_activityView->installEventFilter(&m_activity);
    }

private:
    // Alerts and the title as they appear.
    void Watch() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible() || box->isModal() || m_seen.contains(box))
                continue;
            m_seen.insert(box);
            m_alerts.push_back(box);
            Say("alert " + OneLine(FromDisplay(box->windowTitle())) + "|" + OneLine(FromDisplay(box->text())));
            // A later box may get this one's address: it is forgotten as it goes.
            QObject::connect(box, &QObject::destroyed, [this, box] {
                std::erase(m_alerts, box);
                m_seen.erase(box);
            });
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* message = qobject_cast<CMessageDlg*>(widget);
            if (message == nullptr || !message->isVisible() || m_seenMessages.contains(message))
                continue;
            m_seenMessages.insert(message);
            Say("message " + OneLine(message->Caption()) + "|" + message->Address());
            QObject::connect(message, &QObject::destroyed, [this, message] { m_seenMessages.erase(message); });
        }
        if (m_answer && QApplication::activeModalWidget() && m_answer(QApplication::activeModalWidget()))
            m_answer = nullptr;
        if (CMainFrame* frame = theApp.GetMainFrame(); frame && frame->windowTitle() != m_title) {
            m_title = frame->windowTitle();
            Say("title " + FromDisplay(m_title));
        }
        if (m_pending) {
            const bool done = m_pending->done();
            if (done || m_pending->deadline.hasExpired()) {
                Pending pending = std::move(*m_pending);
                m_pending.reset();
                if (pending.then)
                    pending.then();
                else
                    Finish(done ? std::string() : pending.failure());
            }
        }
    }

    // A command that waits: the watch polls it, whichever loop runs (dialogs run their own),
    // and answers it once it is done or its time is up; no command is read meanwhile.
    std::string Await(std::function<bool()> done, std::function<std::string()> failure, int timeoutMs = kTimeoutMs) {
        m_pending = Pending{std::move(done), std::move(failure), QDeadlineTimer(ScaledMs(timeoutMs)), {}};
        return kPending;
    }

    // Answers the next modal dialog of class Dialog with `fill`; `open`, when given, opens one
    // if none has opened by itself after a while; `outer`, when given, is the dialog this one
    // opens from, which is never taken for it.
    template <class Dialog>
    std::string Answer(std::function<void(Dialog*)> fill, std::function<void()> open = {},
                       QPointer<QWidget> outer = {}) {
        auto answered = std::make_shared<bool>(false);
        m_answer = [answered, fill, outer](QWidget* modal) {
            auto* dialog = qobject_cast<Dialog*>(modal);
            if (dialog == nullptr || !dialog->isVisible() || dialog == outer)
                return false;
            fill(dialog);
            // A fill that closed the dialog itself has answered it.
            if (dialog->isVisible())
                dialog->accept();
            *answered = true;
            return true;
        };
        auto opened = std::make_shared<bool>(false);
        QDeadlineTimer soon(ScaledMs(kDialogWaitMs));
        return Await(
            [answered, opened, soon, open] {
                if (!*answered && !*opened && open && soon.hasExpired() && !QApplication::activeModalWidget()) {
                    *opened = true;
                    QTimer::singleShot(0, open);
                }
                return *answered;
            },
            [this] {
                m_answer = nullptr;
                return std::string("no such dialog");
            });
    }

    void ReadCommand() {
        std::string line;
        if (!std::getline(std::cin, line)) {
            m_input->setEnabled(false);
            QApplication::quit();
            return;
        }
        m_input->setEnabled(false);
        m_line = line;
        // A command that names something the engine sends waits until the console holds it,
        // as a user waits for the tree to fill; after the time limit it runs all the same and
        // reports what it misses.
        if (std::function<bool()> held = Named(line); held && !held()) {
            m_pending = Pending{std::move(held), {}, QDeadlineTimer(ScaledMs(kTimeoutMs)), [this] { Start(); }};
            return;
        }
        Start();
    }

    void Start() {
        std::string failure = Run(m_line);
        if (failure != kPending)
            Finish(failure);
    }

    // For a command that names a service, a user, an item of a view or a dialer profile: whether
    // the console holds it yet. Empty for any other command.
    std::function<bool()> Named(const std::string& line) {
        std::istringstream words(line);
        std::string command, a, rest;
        words >> command;
        std::getline(words >> std::ws, rest);
        std::istringstream(rest) >> a;
        if ((command == "service" || command == "open-service") && !a.starts_with("new:"))
            return [a] { return bool(theConfiguration.GetServiceManager().FindServiceRef(a)); };
        if (command == "user" || command == "open-user") {
            return [a] {
                CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
                CScopedLock lock(database);
                return database.FindUserAccount(a) != nullptr;
            };
        }
        if (command == "terminate" || command == "send-message") {
            const std::string label = command == "terminate" ? rest : a;
            const Qt::MatchFlags how = command == "terminate" ? Qt::MatchContains : Qt::MatchExactly;
            return [label, how] {
                return !Tree("act")->findItems(ToDisplay(label), how | Qt::MatchRecursive).isEmpty();
            };
        }
        if (command == "run" || command == "picture") {
            const std::string path = ItemPath(command, rest.substr(std::min(rest.size(), a.size() + 1)));
            return [a, path] { return CGallery::FindPath(Tree(a), path) != nullptr; };
        }
        if ((command == "dialer-dial" || command == "dialer-reset") && m_dialer) {
            QPointer<CDialerSheet> sheet = m_dialer;
            return [sheet, a] {
                return sheet && !sheet->m_phonebookPage.List()->findItems(ToDisplay(a), Qt::MatchExactly).isEmpty();
            };
        }
        return {};
    }

    // The configuration (cfg) or activity (act) view.
    static QTreeWidget* Tree(const std::string& view) {
        CMainFrame* frame = theApp.GetMainFrame();
        return view == "act" ? static_cast<QTreeWidget*>(frame->ActivityPane())
                             : static_cast<QTreeWidget*>(frame->ConfigurationPane());
    }

    // The item path of "run VIEW PATH ID" or "picture VIEW PATH" from what follows VIEW; `id`,
    // when given, takes run's command number.
    static std::string ItemPath(const std::string& command, const std::string& rest, int* id = nullptr) {
        if (command != "run")
            return rest;
        const std::size_t space = rest.rfind(' ');
        if (id != nullptr)
            *id = space == std::string::npos ? 0 : std::atoi(rest.c_str() + space + 1);
        return space == std::string::npos ? rest : rest.substr(0, space);
    }

    void Finish(const std::string& failure) {
        m_pending.reset();
        Say(failure.empty() ? "ok " + m_line : "FAILED " + m_line + ": " + failure);
        if (m_line != "quit")
            m_input->setEnabled(true);
    }

    std::string Run(const std::string& line) {
        std::istringstream words(line);
        std::string command, a, b;
        words >> command;
        if (command == "logon") {
            words >> a >> b;
            // The dialog that start-up opens, else one of Go On-line.
            return Answer<COnlineOptionsDlg>(
                [a, b](COnlineOptionsDlg* options) {
                    qobject_cast<QLineEdit*>(FindControl(options, 1001))->setText(ToDisplay(a));
                    if (!b.empty())
                        qobject_cast<QLineEdit*>(FindControl(options, 1000))->setText(ToDisplay(b));
                },
                [] { theApp.OnGoOnline(); });
        }
        if (command == "change-password") {
            words >> a >> b;
            return Answer<CChangePasswordDlg>([a, b](CChangePasswordDlg* dialog) {
                qobject_cast<QLineEdit*>(FindControl(dialog, 1002))->setText(ToDisplay(a));
                qobject_cast<QLineEdit*>(FindControl(dialog, 1001))->setText(ToDisplay(b));
                qobject_cast<QLineEdit*>(FindControl(dialog, 1024))->setText(ToDisplay(b));
            });
        }
        if (command == "wait" || command == "seen") {
            std::getline(words >> std::ws, a);
            const bool after = command == "wait";
            return Await(
                [this, a, after] {
                    // The program's answers to commands are no part of what it shows: an
                    // earlier wait's "ok wait TEXT" never satisfies a wait for TEXT.
                    for (std::size_t n = after ? m_waited : 0; n < said.size(); ++n)
                        if (said[n].find(a) != std::string::npos && !said[n].starts_with("ok ") &&
                            !said[n].starts_with("FAILED ")) {
                            m_waited = after ? n + 1 : m_waited;
                            return true;
                        }
                    return false;
                },
                [] { return std::string("not shown"); });
        }
        if (command == "dismiss") {
            if (m_alerts.empty())
                return "no alert open";
            m_alerts.front()->button(QMessageBox::Ok)->click();
            return {};
        }
        if (command == "request") {
            int op = 0;
            words >> op;
            std::string args[3];
            for (std::string& arg : args)
                words >> arg;
            theApp.QueueMessage(static_cast<WORD>(op), args[0], args[1], args[2]);
            return {};
        }
        const std::map<std::string, std::function<void()>> commands = {
            {"save", [] { theApp.OnSaveChanges(); }},
            {"shutdown", [] { theApp.OnShutdownEngine(); }},
            {"offline", [] { theApp.OnGoOffline(); }},
            {"online", [] { theApp.OnGoOnline(); }},
            {"quit", [] { QTimer::singleShot(0, qApp, &QApplication::quit); }},
        };
        if (auto found = commands.find(command); found != commands.end()) {
            found->second();
            return {};
        }
        if (command == "add-group") {
            words >> a;
            theApp.QueueRequest(25, a, CRef<CObject>::Adopt(new CGroup(a, "Made by the scenario")));
            return {};
        }
        if (command == "flags") {
            Say("flags online=" + std::to_string(theApp.IsOnline()) + " changed=" +
                std::to_string(theApp.m_configurationChanged.load()) + " logon=" +
                std::to_string(theApp.m_lastLogonSucceeded.load()));
            return {};
        }
        if (command == "counts") {
            // Counted under each container's lock, as a window reads the copy.
            auto count = [](auto& container, auto how) {
                CScopedLock lock(container);
                return std::to_string(how(container));
            };
            CNorvaneEngine& copy = theConfiguration;
            auto entries = [](bool groups) {
                return [groups](CGroupMemberDatabase& database) {
                    std::size_t n = 0;
                    for (const auto& [name, entry] : database)
                        n += (dynamic_cast<CUser*>(entry) == nullptr) == groups ? 1 : 0;
                    return n;
                };
            };
            auto size = [](auto& container) { return container.GetCount(); };
            Say("counts users=" + count(copy.GetUserDatabase(), entries(false)) +
                " groups=" + count(copy.GetUserDatabase(), entries(true)) +
                " services=" + count(copy.GetServiceManager(), size) +
                " locations=" + count(copy.GetLocations(), [](CLocationArray& l) { return l.GetSize(); }) +
                " machines=" + count(copy.GetMachineMap(), size));
            return {};
        }
        if (command == "user") {
            words >> a;
            CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
            CScopedLock lock(database);
            CUser* user = database.FindUserAccount(a);
            if (user == nullptr)
                return "no user " + a;
            std::string text = "user " + a;
            const char* names[] = {"sent", "received", "remote-sent", "remote-received", "time"};
            for (std::size_t n = 0; n < CUser::kCounterCount; ++n)
                text += std::string(" ") + names[n] + "=" + std::to_string(user->GetCounter(static_cast<CUser::Counter>(n)));
            Say(text);
            return {};
        }
        if (command == "touch") {
            // Every object a notice brought can still be read, removed or not.
            std::size_t touched = 0;
            for (CRecordingView* view : {&m_configuration, &m_activity})
                for (const CRef<CObject>& object : view->kept) {
                    auto* item = dynamic_cast<CWHTreeItem*>(object.Get());
                    touched += CRecordingView::Describe(item ? item->object.Get() : object.Get()).empty() ? 0 : 1;
                }
            Say("touched " + std::to_string(touched));
            return {};
        }
        if (command == "wait-ended") {
            auto report = [this] { Say("ended " + std::to_string(m_ended.size())); };
            return Await(
                [this, report] {
                    for (const auto& event : m_ended)
                        if (!event->IsSignalled())
                            return false;
                    if (theApp.HasSession())
                        return false;
                    report();
                    return true;
                },
                [report] {
                    report();
                    return std::string("a session still runs");
                });
        }
        if (command == "tree") {
            words >> a;
            QTreeWidget* view = Tree(a);
            for (QTreeWidgetItemIterator it(view); *it; ++it) {
                std::string path = FromDisplay((*it)->text(0));
                for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent())
                    path = FromDisplay(up->text(0)) + "/" + path;
                Say("tree " + a + " " + path);
            }
            Say("tree " + a + " end");
            return {};
        }
        if (command == "terminate") {
            std::getline(words >> std::ws, a);
            CActivityView* view = theApp.GetMainFrame()->ActivityPane();
            QList<QTreeWidgetItem*> found =
                view->findItems(ToDisplay(a), Qt::MatchContains | Qt::MatchRecursive);
            if (found.isEmpty())
                return "no item " + a;
            view->setCurrentItem(found.front());
            view->OnCommand(ConsoleIds::kTerminate);
            return {};
        }
        if (command == "new-location") {
            words >> a >> b;
            CWardenhallView* view = theApp.GetMainFrame()->ConfigurationPane();
            return Answer<CLocationDlg>(
                [a, b, view](CLocationDlg* dialog) {
                    qobject_cast<QLineEdit*>(FindControl(dialog, ConsoleIds::kLocationPattern))->setText(ToDisplay(a));
                    qobject_cast<QComboBox*>(FindControl(dialog, ConsoleIds::kLocationUser))->setEditText(ToDisplay(b));
                    dialog->accept();
                    Say("shown " + a + " " +
                        std::to_string(view->findItems(ToDisplay(a), Qt::MatchExactly | Qt::MatchRecursive).size()));
                },
                [view] { view->OnCommand(ConsoleIds::kNewLocation); });
        }
        if (command == "shot") {
            words >> a;
            return m_scenario.SaveWithTitle(theApp.GetMainFrame(), a + ".png") ? "" : "not saved";
        }
        if (command == "shot-alert") {
            words >> a;
            if (m_alerts.empty())
                return "no alert open";
            return m_scenario.SaveWithTitle(m_alerts.back(), a + ".png") ? "" : "not saved";
        }
        if (command == "empty-right") {
            std::getline(words >> std::ws, a);
            CWardenhallView* view = theApp.GetMainFrame()->ConfigurationPane();
            return Answer<CDefaultPolicyDlg>(
                [this, a](CDefaultPolicyDlg* dialog) {
                    CRightsEditor* editor = dialog->Editor();
                    const int index = editor->Rights()->findText(ToDisplay(a));
                    if (index < 0) {
                        dialog->reject();
                        return;
                    }
                    editor->Rights()->setCurrentIndex(index);
                    while (QTreeWidgetItem* row = editor->Recipients()->topLevelItem(0)) {
                        row->setSelected(true);
                        editor->RemoveRecipient();
                    }
                    m_scenario.SaveWithTitle(dialog, "system-rights.png");
                },
                [view] {
                    emit view->itemDoubleClicked(view->NodeItem(CWardenhallView::kSystemRights), 0);
                });
        }
        if (std::string failure; UserCommand(command, words, failure) || GalleryCommand(command, words, failure) ||
                                 SheetCommand(command, words, failure))
            return failure;
        if (command == "service" || command == "open-service")
            return ServiceCommand(words, command == "open-service");
        if (command.starts_with("dialer") || command == "open-dialer")
            return DialerCommand(command, words);
        return "unknown command";
    }

    // The user sheet's and group dialogs' commands; false for any other command.
    bool UserCommand(const std::string& command, std::istringstream& words, std::string& failure) {
        std::string a, b;
        if (command == "new-user") {
            words >> a >> b;
            failure = Answer<CEditUserSheet>(
                [this, a, b](CEditUserSheet* sheet) {
                    // Each page is filled while it shows: activating a page loads it again.
                    SetText(sheet, 1021, a);
                    SetText(sheet, 1020, b);
                    SetText(sheet, 1008, b);
                    const char* names[] = {"info", "groups", "accounting", "auditing"};
                    for (int page = 0; page < 4; ++page) {
                        sheet->TabSheet().SelectPage(page);
                        if (page == 3) {
                            qobject_cast<QAbstractButton*>(FindControl(sheet, 1085))->click();
                            qobject_cast<QAbstractButton*>(FindControl(sheet, 1086))->click();
                        }
                        m_scenario.SaveWithTitle(sheet, std::string("user-") + names[page] + ".png");
                    }
                },
                [] { NewUser(theApp.GetMainFrame()); });
            return true;
        }
        if (command == "open-user") {
            words >> a;
            CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
            CRef<CUser> user;
            {
                CScopedLock lock(database);
                user = CRef<CUser>(database.FindUserAccount(a));
            }
            if (!user) {
                failure = "no user " + a;
                return true;
            }
            m_sheet = new CEditUserSheet(user.Get(), theApp.GetMainFrame());
            m_sheet->setAttribute(Qt::WA_DeleteOnClose);
            m_sheet->show();
            m_sheet->TabSheet().SelectPage(2);
            return true;
        }
        if (command == "sheet" || command == "close-sheet") {
            if (!m_sheet || !m_sheet->isVisible()) {
                failure = "no sheet open";
            } else if (command == "close-sheet") {
                m_scenario.SaveWithTitle(m_sheet, "user-sheet-live.png");
                m_sheet->reject();
            } else {
                std::string text = "sheet";
                for (int id : {1044, 1045, 1046, 1047, 1056})
                    text += " " + FromDisplay(qobject_cast<QLineEdit*>(FindControl(&m_sheet->m_accountingPage, id))->text());
                Say(text);
            }
            return true;
        }
        if (command == "shot-groups") {
            CNewGroupDlg created(theApp.GetMainFrame());
            created.show();
            SetText(&created, 1035, "Night shift");
            m_scenario.SaveWithTitle(&created, "new-group.png");
            created.reject();
            CEditGroupDlg edited("Users", "Every user", theApp.GetMainFrame());
            edited.show();
            m_scenario.SaveWithTitle(&edited, "edit-group.png");
            edited.reject();
            return true;
        }
        return false;
    }

    // The gallery and the message commands; false for any other command.
    bool GalleryCommand(const std::string& command, std::istringstream& words, std::string& failure) {
        std::string a, b;
        if (command == "gallery") {
            words >> a;
            std::vector<CGallery::Entry> entries;
            if (!CGallery::ReadManifest(a, entries, failure))
                return true;
            std::vector<std::string> secrets;
            while (words >> b)
                secrets.push_back(b);
            m_gallery = std::make_unique<CGallery>(m_scenario, std::move(entries), std::move(secrets), Say);
            m_gallery->Start();
            failure = Await([this] { return m_gallery->Done(); }, [] { return std::string("unfinished"); },
                            kGalleryTimeoutMs);
            return true;
        }
        if (command == "run" || command == "picture") {
            // run VIEW PATH COMMAND / picture VIEW PATH: the path is the rest after the view
            // (and before the command's number).
            words >> a;
            std::getline(words >> std::ws, b);
            int id = 0;
            b = ItemPath(command, b, &id);
            QTreeWidget* view = Tree(a);
            QTreeWidgetItem* item = CGallery::FindPath(view, b);
            if (item == nullptr)
                failure = "no item " + b;
            else if (command == "picture")
                Say("picture " + std::to_string(CWHTreeView::ImageOf(item)));
            else
                CGallery::RunCommand(view, b, id);
            return true;
        }
        if (command == "send-message") {
            // The activity view's Send Message on the item labelled a, the text sent.
            words >> a;
            std::getline(words >> std::ws, b);
            CActivityView* view = theApp.GetMainFrame()->ActivityPane();
            QList<QTreeWidgetItem*> found = view->findItems(ToDisplay(a), Qt::MatchExactly | Qt::MatchRecursive);
            if (found.isEmpty()) {
                failure = "no item " + a;
                return true;
            }
            view->setCurrentItem(found.front());
            view->OnCommand(ConsoleIds::kSendMessage);
            failure = SendFromMessageDialog(true, b);
            return true;
        }
        if (command == "reply") {
            std::getline(words >> std::ws, b);
            failure = SendFromMessageDialog(false, b);
            return true;
        }
        return false;
    }

    // Waits for a message dialog (one to compose, or the newest received one, which Reply turns
    // into one to compose), writes `text` in it and sends it.
    std::string SendFromMessageDialog(bool compose, const std::string& text) {
        std::set<CMessageDlg*> before;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<CMessageDlg*>(widget); dialog && dialog->isVisible())
                before.insert(dialog);
        return Await(
            [compose, text, before] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    auto* dialog = qobject_cast<CMessageDlg*>(widget);
                    if (dialog == nullptr || !dialog->isVisible() || (compose && before.contains(dialog)) ||
                        (!compose && dialog->IsCompose()))
                        continue;
                    auto* send = qobject_cast<QAbstractButton*>(FindControl(dialog, 1));
                    if (!compose)
                        send->click();  // Reply
                    qobject_cast<QPlainTextEdit*>(FindControl(dialog, 1039))->setPlainText(ToDisplay(text));
                    Say("composing " + OneLine(dialog->Caption()) + "|" + dialog->Address());
                    send->click();
                    return true;
                }
                return false;
            },
            [] { return std::string("no message dialog"); });
    }
    // The service sheet's commands (see the top of this file): `service` fills the sheet and
    // OKs it, `open-service` leaves it open, with the steps taken, for the sheet commands.
    std::string ServiceCommand(std::istringstream& words, bool keepOpen) {
        std::string which;
        words >> which;
        std::vector<std::string> steps;
        for (std::string step; words >> step;)
            steps.push_back(step);
        CRef<CService> service;
        const bool isNew = which.rfind("new:", 0) == 0;
        if (isNew) {
            service = CRef<CService>::Adopt(
                dynamic_cast<CService*>(CRuntimeClass::CreateObject(which.substr(4).c_str())));
        } else {
            service = theConfiguration.GetServiceManager().FindServiceRef(which);
        }
        if (!service)
            return "no service " + which;
        std::function<void()> open = [service, isNew]() mutable {
            if (isNew)
                NewService(theApp.GetMainFrame(), std::move(service));
            else
                EditServiceProperties(theApp.GetMainFrame(), std::move(service));
        };
        if (keepOpen)
            return OpenSheet<CEditServiceSheet>(open, m_openSheet, nullptr, "no service sheet",
                                                [steps](CEditServiceSheet* sheet) { FillSheet(sheet, steps); });
        return Answer<CEditServiceSheet>(
            [this, steps](CEditServiceSheet* sheet) {
                FillSheet(sheet, steps);
                CTabSheet& tabs = sheet->TabSheet();
                for (int index = 0; index < tabs.GetPageCount(); ++index) {
                    tabs.SelectPage(index);
                    m_scenario.SaveWithTitle(sheet, "service-" + std::to_string(tabs.GetPage(index)->GetTemplateId()) + ".png");
                }
                tabs.SelectPage(0);
            },
            open);
    }

    // Page `which` of `tabs` shown: an index, or the page whose dialog number it is; null when
    // there is none.
    static CTabPage* SelectPage(CTabSheet& tabs, int which) {
        for (int index = 0; index < tabs.GetPageCount(); ++index)
            if ((index == which || tabs.GetPage(index)->GetTemplateId() == which) && tabs.SelectPage(index))
                return tabs.GetPage(index);
        return nullptr;
    }

    // Takes the steps "PAGE:ID=TEXT" (TEXT typed into the edit or combo ID of page PAGE) and
    // "PAGE:ID" (the button clicked) on `sheet`; a step that names no control is reported.
    static void FillSheet(CTabSheetDlg* sheet, const std::vector<std::string>& steps) {
        for (const std::string& step : steps) {
            const std::size_t colon = step.find(':'), equals = step.find('=');
            CTabPage* page = colon == std::string::npos ? nullptr : SelectPage(sheet->TabSheet(), std::atoi(step.c_str()));
            QWidget* control = page ? FindControl(page, std::atoi(step.c_str() + colon + 1)) : nullptr;
            if (control == nullptr) {
                Say("sheet step " + step + " names no control");
                continue;
            }
            if (equals == std::string::npos) {
                if (auto* button = qobject_cast<QAbstractButton*>(control))
                    button->click();
            } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                edit->setText(ToDisplay(step.substr(equals + 1)));
            } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
                combo->setEditText(ToDisplay(step.substr(equals + 1)));
            }
        }
    }

    // Runs `open` soon and waits until a sheet of class Sheet runs: it is kept in `kept`,
    // `notices` (when given) records the notices it gets, and `ready` (when given) acts on it.
    template <class Sheet, class Kept>
    std::string OpenSheet(std::function<void()> open, QPointer<Kept>& kept, QObject* notices, const char* missing,
                          std::function<void(Sheet*)> ready = {}) {
        QTimer::singleShot(0, theApp.GetMainFrame(), std::move(open));
        return Await(
            [&kept, notices, ready] {
                auto* sheet = qobject_cast<Sheet*>(QApplication::activeModalWidget());
                if (sheet == nullptr || !sheet->isVisible())
                    return false;
                kept = sheet;
                if (notices != nullptr)
                    sheet->installEventFilter(notices);
                if (ready)
                    ready(sheet);
                return true;
            },
            [missing] { return std::string(missing); });
    }

    // Double-clicks the configuration tree's `node` and waits until a sheet of class Sheet runs
    // (see OpenSheet).
    template <class Sheet, class Kept>
    std::string OpenFromTree(CWardenhallView::Node node, QPointer<Kept>& kept, QObject* notices, const char* missing) {
        CWardenhallView* view = theApp.GetMainFrame()->ConfigurationPane();
        return OpenSheet<Sheet>([view, node] { emit view->itemDoubleClicked(view->NodeItem(node), 0); }, kept,
                                notices, missing);
    }

    // The dialer sheet's commands.
    std::string DialerCommand(const std::string& command, std::istringstream& words) {
        std::string a, b;
        words >> a;
        std::getline(words >> std::ws, b);
        if (command == "open-dialer")
            return OpenFromTree<CDialerSheet>(CWardenhallView::kDialing, m_dialer, &m_dialerNotices, "no dialer sheet");
        if (!m_dialer || !m_dialer->isVisible())
            return "no dialer sheet open";
        CDialerPhonebookPage& phonebook = m_dialer->m_phonebookPage;
        if (command == "dialer-add") {
            QTimer::singleShot(0, &phonebook, [&phonebook] { phonebook.OnAdd(); });
            return Answer<CEditProfileSheet>([this, a, b](CEditProfileSheet* sheet) {
                SetText(sheet, 1035, a);
                qobject_cast<QComboBox*>(FindControl(sheet, 1210))->setEditText(ToDisplay(b));
                m_scenario.SaveWithTitle(sheet, "profile-general.png");
                sheet->TabSheet().SelectPage(1);
                m_scenario.SaveWithTitle(sheet, "profile-access.png");
            });
        }
        if (command == "dialer-site") {
            SetText(m_dialer, 1228, a);
            Click(m_dialer, 1098);
        } else if (command == "dialer-apply") {
            const char* names[] = {"phonebook", "local-sites", "settings"};
            for (int page : {1, 2, 0}) {
                m_dialer->TabSheet().SelectPage(page);
                m_scenario.SaveWithTitle(m_dialer, std::string("dialer-") + names[page] + ".png");
            }
            Click(m_dialer, 3);
        } else if (command == "dialer-ok") {
            m_dialer->accept();
        } else if (command == "dialer-dial" || command == "dialer-reset") {
            const QList<QTreeWidgetItem*> rows = phonebook.List()->findItems(ToDisplay(a), Qt::MatchExactly);
            if (rows.isEmpty())
                return "no profile " + a;
            phonebook.List()->setCurrentItem(rows.front());
            Click(&phonebook, command == "dialer-dial" ? 1017 : 1016);
        } else if (command == "dialer-wait") {
            QPointer<CDialerSheet> sheet = m_dialer;
            return Await(
                [sheet, a, b] {
                    const auto rows = sheet ? sheet->m_phonebookPage.List()->findItems(ToDisplay(a), Qt::MatchExactly)
                                            : QList<QTreeWidgetItem*>();
                    return !rows.isEmpty() && ("|" + b + "|").find("|" + FromDisplay(rows.front()->text(2)) + "|") != std::string::npos;
                },
                [] { return std::string("another status"); });
        } else {
            return "unknown command";
        }
        return {};
    }

    static void Click(QWidget* dialog, int id) { qobject_cast<QAbstractButton*>(FindControl(dialog, id))->click(); }

    // The commands on the sheet open-cache opened; false for any other command.
    bool SheetCommand(const std::string& command, std::istringstream& words, std::string& failure) {
        if (command == "open-cache") {
            failure = OpenFromTree<CCacheSheet>(CWardenhallView::kCaching, m_openSheet, &m_sheetView, "no cache sheet");
            return true;
        }
        if (command.rfind("sheet-", 0) != 0)
            return false;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (!m_openSheet || !m_openSheet->isVisible()) {
            failure = "no sheet open";
            return true;
        }
        CTabPage* page = m_openSheet->TabSheet().GetActivePage();
        const int id = std::atoi(rest.c_str());
        QWidget* control = FindControl(page, id) ? FindControl(page, id) : FindControl(m_openSheet, id);
        auto* button = qobject_cast<QAbstractButton*>(control);
        auto* tree = page->findChild<CRequestFilterTree*>();
        const std::string text = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
        auto* combo = qobject_cast<QComboBox*>(control);
        if (command == "sheet-page") {
            failure = SelectPage(m_openSheet->TabSheet(), id) ? "" : "no such page";
        } else if (command == "sheet-click" && button) {
            button->click();
        } else if (command == "sheet-check" && button) {
            if (button->isChecked() != (text == "1"))
                button->click();
        } else if (command == "sheet-choose" && combo) {
            combo->setCurrentIndex(combo->findText(ToDisplay(text)));
            failure = combo->currentText() == ToDisplay(text) ? "" : "no such item";
        } else if (command == "sheet-answer" && CGallery::Activate(control)) {
            std::istringstream stepWords(text);
            std::vector<std::string> steps;
            for (std::string step; stepWords >> step;)
                steps.push_back(step);
            failure = Answer<CTabSheetDlg>([steps](CTabSheetDlg* sheet) { FillSheet(sheet, steps); }, {},
                                           QPointer<QWidget>(m_openSheet.data()));
        } else if (command == "sheet-criterion" && tree) {
            tree->setCurrentItem(tree->topLevelItem(tree->topLevelItemCount() - 1));
            QStringList parts = ToDisplay(rest).split('|');
            parts.resize(3);
            QTimer::singleShot(0, page, [page] { qobject_cast<QAbstractButton*>(FindControl(page, 1238))->click(); });
            failure = Answer<CCriterionDlg>([parts](CCriterionDlg* dialog) {
                for (auto [id, part] : {std::pair{1179, 0}, {1176, 1}}) {
                    auto* combo = qobject_cast<QComboBox*>(FindControl(dialog, id));
                    combo->setCurrentIndex(combo->findText(parts[part]));
                }
                qobject_cast<QLineEdit*>(FindControl(dialog, 1177))->setText(parts[2]);
            });
        } else if (command == "sheet-shot") {
            failure = m_scenario.SaveWithTitle(m_openSheet, rest + ".png") ? "" : "not saved";
        } else if (command == "sheet-ok") {
            m_openSheet->accept();
        } else {
            failure = "no such control";
        }
        return true;
    }

    static void SetText(QWidget* dialog, int id, const std::string& text) {
        qobject_cast<QLineEdit*>(FindControl(dialog, id))->setText(ToDisplay(text));
    }

    CScenario& m_scenario;
    CRecordingView m_configuration{"cfg"};
    CRecordingView m_activity{"act"};
    std::vector<std::shared_ptr<CEvent>> m_ended;
    std::unique_ptr<QSocketNotifier> m_input;
    QTimer m_watch;
    std::set<QMessageBox*> m_seen;
    std::set<CMessageDlg*> m_seenMessages;
    std::vector<QMessageBox*> m_alerts;
    struct Pending {
        std::function<bool()> done;
        std::function<std::string()> failure;
        QDeadlineTimer deadline;
        std::function<void()> then;  // when set, runs in place of the answer, done or not
    };
    static constexpr const char* kPending = "\x01pending";
    std::optional<Pending> m_pending;  // the command that waits
    std::string m_line;                 // the command being run
    std::function<bool(QWidget*)> m_answer;  // the dialog answer a command waits for
    std::size_t m_waited = 0;  // what a wait has passed of `said`
    QString m_title;
    QPointer<CEditUserSheet> m_sheet;  // the sheet open-user leaves open (it goes as it closes)
    QPointer<CDialerSheet> m_dialer;   // the sheet open-dialer leaves open
    CRecordingView m_dialerNotices{"dialer"};
    std::unique_ptr<CGallery> m_gallery;  // the gallery walked by the last gallery command
    QPointer<CTabSheetDlg> m_openSheet;  // the sheet open-cache or open-service opened
    CRecordingView m_sheetView{"cache"};
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    int at = static_cast<int>(arguments.indexOf("--out"));
    if (at < 1 || at + 1 >= arguments.size()) {
        std::fprintf(stderr, "usage: wardenhall_scenario --out DIR [--commands] [Wardenhall options]\n");
        return 2;
    }
    CScenario scenario(arguments.at(at + 1));
    arguments.remove(at, 2);
    std::unique_ptr<CCommands> commands;
    if (arguments.removeAll("--commands") > 0) {
        commands = std::make_unique<CCommands>(scenario);
        if (!theApp.InitInstance(arguments))
            return 1;
        commands->Attach();
        QApplication::exec();
        theApp.ExitInstance();
        return scenario.Failures() == 0 ? 0 : 1;
    }
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
    QTimer::singleShot(ScaledMs(kTimeoutMs), [&] {
        std::fprintf(stderr, "wardenhall_scenario: the On-line Options dialog did not open\n");
        scenario.Fail();
        QApplication::quit();
    });
    QApplication::exec();
    theApp.ExitInstance();
    return scenario.Failures() == 0 ? 0 : 1;
}
