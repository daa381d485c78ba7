#include "tests/console/Gallery.h"

#include "console/ActivityView.h"
#include "console/AlertThread.h"
#include "console/Controls.h"
#include "console/MainFrame.h"
#include "console/MessageBox.h"
#include "console/MessageBoxStyles.h"
#include "console/ConsoleTexts.h"
#include "console/RequestFilterTree.h"
#include "console/TabPage.h"
#include "console/TabSheet.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"
#include "console/ChildDialog.h"
#include "console/dialogs/ConfirmPasswordDlg.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Right.h"
#include "foundation/ScopedLock.h"
#include "console/session/SessionTexts.h"
#include "engine/access/CachePurgeCriterion.h"
#include "engine/access/RequestFilterCollection.h"
#include "engine/access/RequestVariables.h"
#include "tests/support/TimeScale.h"
#include "engine/framework/FrameworkFormat.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTabBar>
#include <QTreeWidget>
#include <QTreeView>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <fstream>
#include <memory>
#include <map>
#include <sstream>

namespace {

// How long a window or menu may take to open after its command, and how often steps are polled.
constexpr int kOpenWaitMs = 10000;
constexpr int kPollMs = 20;

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');)
        fields.push_back(field);
    return fields;
}

// A tab's text as a file-name part: lower case letters and digits, words joined by "-".
std::string Slug(const QString& text) {
    std::string slug;
    for (QChar c : text) {
        if (c == '&')
            continue;
        if (c.isLetterOrNumber() && c.unicode() < 128)
            slug += static_cast<char>(c.toLower().unicode());
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    while (!slug.empty() && slug.back() == '-')
        slug.pop_back();
    return slug;
}

}  // namespace

QTreeWidgetItem* CGallery::FindPath(QTreeWidget* view, const std::string& path) {
    std::vector<std::string> labels;
    std::stringstream split(path);
    for (std::string label; std::getline(split, label, '/');)
        labels.push_back(label);
    QTreeWidgetItem* found = nullptr;
    for (const std::string& label : labels) {
        const int count = found ? found->childCount() : view->topLevelItemCount();
        QTreeWidgetItem* next = nullptr;
        for (int n = 0; n < count && next == nullptr; ++n) {
            QTreeWidgetItem* item = found ? found->child(n) : view->topLevelItem(n);
            const std::string text = FromDisplay(item->text(0));
            if (text == label || (label.ends_with('*') && text.starts_with(label.substr(0, label.size() - 1))))
                next = item;
        }
        if (next == nullptr)
            return nullptr;
        found = next;
    }
    return found;
}

bool CGallery::RunCommand(QTreeWidget* view, const std::string& path, int command) {
    QTreeWidgetItem* item = FindPath(view, path);
    if (item == nullptr)
        return false;
    view->setCurrentItem(item);
    if (command == kDoubleClick)
        emit view->itemDoubleClicked(item, 0);
    else if (auto* tree = qobject_cast<CWardenhallView*>(view))
        tree->OnCommand(command);
    else if (auto* activity = qobject_cast<CActivityView*>(view))
        activity->OnCommand(command);
    else if (auto* filters = qobject_cast<CRequestFilterTree*>(view))
        filters->OnCommand(command);
    return true;
}

namespace {

// The cache's purge filters in a request filter tree of their own (the cache sheet's pages
// show them so), with one filter of one cache-purge criterion.
class CPurgeFilters : public QDialog {
public:
    CPurgeFilters() {
        setWindowTitle("What to purge");
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(&m_tree);
        auto* stale = new CRequestFilter("Stale entries", "Entries not checked for a month");
        auto* criterion = new CCachePurgeCriterion();
        criterion->SetDataIndex(CacheEntryHoursSinceChecked);
        criterion->SetComparison(ComparisonGreaterThan);
        criterion->SetValue(CNVDataObject(DWORD(720)));
        stale->AddCriterion(criterion);
        m_filters.AddFilter(stale);
        m_tree.SetCollection(kServiceKindCachePurge, &m_filters);
        m_tree.Fill();
        resize(420, 260);
    }
    ~CPurgeFilters() override { m_tree.SetCollection(0, nullptr); }

    CRequestFilterTree& Tree() { return m_tree; }

private:
    CRequestFilterCollection m_filters;
    CRequestFilterTree m_tree;
};

}  // namespace

bool CGallery::ReadManifest(const std::string& path, std::vector<Entry>& entries, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::size_t number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() < 3 || fields[0].empty()) {
            error = path + ":" + std::to_string(number) + ": window, dialogs and how expected";
            return false;
        }
        entries.push_back({fields[0], std::vector<std::string>(fields.begin() + 2, fields.end())});
    }
    return true;
}

CGallery::CGallery(CShots& shots, std::vector<Entry> entries, std::vector<std::string> secrets,
                   std::function<void(const std::string&)> say)
    : m_shots(shots), m_entries(std::move(entries)), m_secrets(std::move(secrets)), m_say(std::move(say)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
}

CGallery::~CGallery() = default;

void CGallery::Start() {
    theApp.GetMainFrame()->ConfigurationPane()->expandAll();
    m_timer.start(kPollMs);
}

// One step at a time: the timer fires in whichever event loop runs, a modal window's included.
void CGallery::Poll() {
    while (m_steps.empty() && m_next < m_entries.size()) {
        m_opened.clear();
        Plan(m_entries[m_next++]);
        m_deadline = QDeadlineTimer(ScaledMs(kOpenWaitMs));
    }
    if (m_steps.empty()) {
        m_timer.stop();
        return;
    }
    Step step = m_steps.front();
    if (step()) {
        if (!m_steps.empty())
            m_steps.pop_front();
        m_deadline = QDeadlineTimer(ScaledMs(kOpenWaitMs));
    }
}

std::string CGallery::Name(const std::string& page) const {
    char order[8];
    std::snprintf(order, sizeof order, "%02zu", m_next);
    return std::string(order) + "-" + m_entries[m_next - 1].window + (page.empty() ? "" : "-" + page) + ".png";
}

// Reports the current entry missing, closes what it opened and drops its other steps.
void CGallery::Miss(const std::string& why) {
    ++m_missing;
    m_say("missing " + m_entries[m_next - 1].window + ": " + why);
    for (auto it = m_opened.rbegin(); it != m_opened.rend(); ++it)
        if (auto* dialog = qobject_cast<QDialog*>(it->data()))
            dialog->reject();
        else if (*it)
            (*it)->close();
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    m_steps.clear();
}

void CGallery::Plan(const Entry& entry) {
    // The way, then the steps inside the window it opens (see the top of Gallery.h).
    static const std::map<std::string, std::size_t> arity = {{"then", 1}, {"select", 2}, {"menu", 2}};
    std::vector<std::string> how;
    std::vector<Inside> inside;
    for (std::size_t n = 0; n < entry.how.size(); ++n) {
        auto found = arity.find(entry.how[n]);
        if (found != arity.end() && n > 0 && n + found->second < entry.how.size()) {
            inside.push_back(Inside(entry.how.begin() + n, entry.how.begin() + n + found->second + 1));
            n += found->second;
        } else if (inside.empty()) {
            how.push_back(entry.how[n]);
        } else {
            return Miss("unknown step " + entry.how[n]);
        }
    }
    if (how.empty())
        return Miss("no way to open it");
    const std::string& kind = how[0];
    auto argument = [&how](std::size_t n) { return n < how.size() ? how[n] : std::string(); };
    if (kind == "main") {
        m_steps.push_back([this] {
            CheckCut(theApp.GetMainFrame(), Name());
            m_shots.SaveWithTitle(theApp.GetMainFrame(), Name());
            return true;
        });
    } else if (kind == "menu") {
        QTreeWidget* view = View(argument(1));
        if (view == nullptr)
            return Miss("no view " + argument(1));
        PlanMenu([view] { return view; }, argument(2), argument(3));
    } else if (kind == "open") {
        QTreeWidget* view = View(argument(1));
        const std::string path = argument(2);
        const int command = argument(3) == "double-click" ? kDoubleClick : std::atoi(argument(3).c_str());
        if (view == nullptr || command == 0)
            return Miss("view and command expected");
        PlanWindow(
            [this, view, path, command] {
                if (!RunCommand(view, path, command))
                    Miss("no item " + path);
            },
            inside);
    } else if (kind == "app") {
        static const std::map<std::string, void (CWardenhallApp::*)()> commands = {
            {"about", &CWardenhallApp::OnAppAbout},
            {"online-options", &CWardenhallApp::OnOnlineOptions},
            {"change-password", &CWardenhallApp::OnChangePassword},
        };
        auto found = commands.find(argument(1));
        if (found == commands.end())
            return Miss("no application command " + argument(1));
        PlanWindow([command = found->second] { (theApp.*command)(); }, inside);
    } else if (kind == "make") {
        // The console's own texts for each icon; no box of the console shows the information
        // icon, so that one carries a sample text.
        struct Alert {
            unsigned flags;
            const char* title;
            const char* text;
        };
        static const std::map<std::string, Alert> alerts = {
            {"alert-stop", {MB::kIconStop, SessionTexts::kServerErrorTitle, SessionTexts::kServerError}},
            {"alert-question", {MB::kIconQuestion | MB::kOkCancel, "", ConsoleTexts::kNoPassword}},
            {"alert-exclamation", {MB::kIconExclamation, "", ConsoleTexts::kEngineNotRunning}},
            {"alert-information", {MB::kIconInformation, "", "The cache index has been rebuilt."}},
            {"alert-plain", {MB::kOk, "", SessionTexts::kSessionTerminated}},
        };
        const std::string what = argument(1);
        QWidget* frame = theApp.GetMainFrame();
        if (auto found = alerts.find(what); found != alerts.end()) {
            PlanWindow(
                [frame, found] {
                    const Alert& alert = found->second;
                    (new CAlertThread(CAlertThread::kMessageBox, frame, alert.flags, alert.title, alert.text))->Start();
                },
                inside);
        } else if (what == "message-received") {
            PlanWindow(
                [frame] {
                    (new CAlertThread(CAlertThread::kReceivedMessage, frame, 0, "Message from operator on 192.168.1.20",
                                      "The backup line is up again.\nMail is flowing.", "192.168.1.20"))
                        ->Start();
                },
                inside);
        } else if (what == "confirm-password") {
            PlanWindow(
                [frame] {
                    CConfirmPasswordDlg dialog("s3cret", frame);
                    ExecChildDialog(dialog);
                },
                inside);
        } else if (what == "recipient-sheet") {
            PlanWindow(
                [frame] {
                    // As the policy pages do: a working copy of the default access right, its
                    // first recipient edited.
                    CRight copy;
                    CRight* live = theConfiguration.GetRight(0);
                    {
                        CScopedLock lock(*live);
                        copy.Copy(*live);
                    }
                    if (copy.GetRecipients().IsEmpty())
                        return;
                    CEditRecipientSheet sheet(static_cast<CRecipient*>(*copy.GetRecipients().begin()), TRUE,
                                              FrameworkFormat::kKindWeb, copy.GetRightType(), frame);
                    ExecChildDialog(sheet);
                },
                inside);
        } else {
            return Miss("no window " + what);
        }
    } else {
        Miss("unknown way " + kind);
    }
}

void CGallery::PlanMenu(std::function<QTreeWidget*()> tree, const std::string& path, const std::string& submenu) {
    // The tree, found when the menu opens (inside a window, once that window is open).
    auto found = std::make_shared<QPointer<QTreeWidget>>();
    m_steps.push_back([this, tree, found, path] {
        QTreeWidget* view = *found = tree();
        if (view == nullptr) {
            Miss("no tree");
            return true;
        }
        // Beside the items: a little below the last one.
        QPoint at(60, 12);
        for (QTreeWidgetItemIterator it(view); *it; ++it)
            at.setY(std::max(at.y(), view->visualItemRect(*it).bottom() + 16));
        if (path != "-") {
            QTreeWidgetItem* item = FindPath(view, path);
            if (item == nullptr) {
                Miss("no item " + path);
                return true;
            }
            view->scrollToItem(item);
            at = view->visualItemRect(item).center();
            at.setX(std::min(at.x(), 60));
        }
        QWidget* window = view->window();
        window->show();
        window->raise();
        // Posted: the menu's own loop runs, and the steps go on polling inside it.
        QCoreApplication::postEvent(view->viewport(),
                                    new QContextMenuEvent(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at)));
        return true;
    });
    m_steps.push_back([this, found, submenu] {
        QTreeWidget* view = *found;
        if (view == nullptr) {
            Miss("the tree closed");
            return true;
        }
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible()) {
            if (m_deadline.hasExpired())
                Miss("no menu opened");
            return m_deadline.hasExpired();
        }
        QWidget* window = view->window();
        std::vector<QWidget*> popups = {menu};
        // A submenu named by the entry opens beside its entry.
        for (QAction* action : menu->actions())
            if (action->menu() != nullptr && !submenu.empty() && FromDisplay(action->text()) == submenu) {
                menu->setActiveAction(action);
                const QRect row = menu->actionGeometry(action);
                action->menu()->popup(menu->mapToGlobal(row.topRight()));
                QApplication::processEvents();
                popups.push_back(action->menu());
            }
        if (!submenu.empty() && popups.size() < 2) {
            Miss("no submenu " + submenu);
            return true;
        }
        m_shots.SaveWithTitle(window, Name(), {}, popups);
        for (auto it = popups.rbegin(); it != popups.rend(); ++it)
            (*it)->close();
        if (window == m_purgeFilters.get())
            window->hide();
        return true;
    });
}

void CGallery::Snapshot() {
    m_before.clear();
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            m_before.insert(widget);
}

void CGallery::PlanCatch() {
    m_steps.push_back([this] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || m_before.contains(widget) || qobject_cast<QMenu*>(widget) ||
                widget->windowType() == Qt::ToolTip)
                continue;
            m_opened.emplace_back(widget);
            return true;
        }
        if (m_deadline.hasExpired())
            Miss("no window opened");
        return m_deadline.hasExpired();
    });
}

// "[PAGE:]CONTROL": control CONTROL of the window, on page PAGE of its sheet (shown first),
// where pages may number their controls alike; null when there is none.
QWidget* CGallery::OnPage(QWidget* window, const std::string& what) {
    if (window == nullptr)
        return nullptr;
    const std::size_t colon = what.find(':');
    const int page = colon == std::string::npos ? -1 : std::atoi(what.c_str());
    const int control = std::atoi(what.c_str() + (colon == std::string::npos ? 0 : colon + 1));
    QWidget* found = nullptr;
    if (auto* sheet = window->findChild<CTabSheet*>(); sheet != nullptr && page >= 0) {
        if (!sheet->SelectPage(page))
            return nullptr;
        found = FindControl(sheet->GetActivePage(), control);
    }
    return found ? found : FindControl(window, control);
}

// then: clicks the button, or double-clicks the first row of the list; select: makes
// the item at the path the tree's current one.
bool CGallery::Operate(QWidget* window, const Inside& step) {
    QWidget* found = OnPage(window, step[1]);
    if (step[0] == "select") {
        auto* tree = qobject_cast<QTreeWidget*>(found);
        QTreeWidgetItem* item = tree ? FindPath(tree, step[2]) : nullptr;
        if (item != nullptr)
            tree->setCurrentItem(item);
        return item != nullptr;
    }
    return Activate(found);
}

bool CGallery::Activate(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QTimer::singleShot(0, button, &QAbstractButton::click);
        return true;
    }
    auto* list = qobject_cast<QAbstractItemView*>(control);
    if (list == nullptr || list->model() == nullptr || list->model()->rowCount() == 0)
        return false;
    const QPoint at = list->visualRect(list->model()->index(0, 0)).center();
    QWidget* viewport = list->viewport();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(viewport, new QMouseEvent(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                                                              type == QEvent::MouseButtonRelease ? Qt::NoButton
                                                                                                 : Qt::LeftButton,
                                                              Qt::NoModifier));
    return true;
}

void CGallery::PlanWindow(std::function<void()> open, std::vector<Inside> inside) {
    m_steps.push_back([this, open] {
        Snapshot();
        // Posted: a modal window's loop runs, and the steps go on polling inside it.
        QTimer::singleShot(0, open);
        return true;
    });
    PlanCatch();
    const bool endsInMenu = !inside.empty() && inside.back()[0] == "menu";
    for (const Inside& step : inside) {
        if (step[0] == "menu") {
            PlanMenu([this, step] { return qobject_cast<QTreeWidget*>(OnPage(m_opened.back(), step[1])); }, step[2], {});
            continue;
        }
        const bool opens = step[0] == "then";
        m_steps.push_back([this, step, opens] {
            QWidget* window = m_opened.back();
            if (window == nullptr) {
                Miss("the window closed");
                return true;
            }
            if (opens)
                Snapshot();
            if (!Operate(window, step))
                Miss("cannot " + step[0] + " " + step[1]);
            return true;
        });
        if (opens)
            PlanCatch();
    }
    m_steps.push_back([this, endsInMenu] {
        // A window that opens modal is shown once its loop runs: let it lay itself out.
        QWidget* window = m_opened.back();
        if (window == nullptr) {
            Miss("the window closed");
            return true;
        }
        if (!endsInMenu)
            ShootWindow(window);
        for (auto it = m_opened.rbegin(); it != m_opened.rend(); ++it)
            if (auto* dialog = qobject_cast<QDialog*>(it->data()))
                dialog->reject();
            else if (*it)
                (*it)->close();
        return true;
    });
}

void CGallery::ShootWindow(QWidget* window) {
    QApplication::processEvents();
    auto* sheet = window->findChild<CTabSheet*>();
    if (sheet == nullptr || sheet->GetPageCount() == 0) {
        CheckMasked(window);
        CheckCut(window, Name());
        m_shots.SaveWithTitle(window, Name());
        return;
    }
    for (int page = 0; page < sheet->GetPageCount(); ++page) {
        if (!sheet->SelectPage(page)) {
            Miss("page " + std::to_string(page + 1) + " would not show");
            return;
        }
        QApplication::processEvents();
        const QString tab = sheet->TabBar()->tabText(page);
        CheckMasked(window);
        CheckCut(window, Name(std::to_string(page + 1) + "-" + Slug(tab)));
        m_shots.SaveWithTitle(window, Name(std::to_string(page + 1) + "-" + Slug(tab)),
                              window->windowTitle() + " - " + QString(tab).remove('&'));
    }
}

void CGallery::CheckMasked(QWidget* window) {
    for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
        if (!edit->isVisible() || edit->echoMode() != QLineEdit::Normal)
            continue;
        const std::string text = FromDisplay(edit->text());
        for (const std::string& secret : m_secrets)
            if (!secret.empty() && text == secret)
                m_say("unmasked " + m_entries[m_next - 1].window + " " + edit->property(kControlIdProperty).toString().toStdString());
    }
}

namespace {

// Every index below `parent` that `view` shows, depth first.
void ShownIndexes(const QAbstractItemView* view, const QModelIndex& parent, std::vector<QModelIndex>& shown) {
    const QAbstractItemModel* model = view->model();
    auto* tree = qobject_cast<const QTreeView*>(view);
    for (int row = 0; row < model->rowCount(parent); ++row) {
        for (int column = 0; column < model->columnCount(parent); ++column)
            if (!(tree && tree->isColumnHidden(column)))
                shown.push_back(model->index(row, column, parent));
        const QModelIndex first = model->index(row, 0, parent);
        if (tree && tree->isExpanded(first))
            ShownIndexes(view, first, shown);
    }
}

}  // namespace

void CGallery::CheckCut(QWidget* window, const std::string& picture) {
    for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) {
        if (!view->isVisible() || view->model() == nullptr)
            continue;
        std::vector<QModelIndex> shown;
        ShownIndexes(view, {}, shown);
        const QRect viewport = view->viewport()->rect();
        for (const QModelIndex& index : shown) {
            const QString text = index.data(Qt::DisplayRole).toString();
            const QRect cell = view->visualRect(index);
            if (text.isEmpty() || cell.isEmpty())
                continue;
            // Elided within its cell, or partly outside what the list shows.
            if (view->sizeHintForIndex(index).width() > cell.width() || !viewport.contains(cell)) {
                const QVariant id = view->property(kControlIdProperty);
                m_say("cut " + picture + " " + (id.isValid() ? id.toString() : view->metaObject()->className()).toStdString() +
                      " " + FromDisplay(text));
            }
        }
    }
}

QTreeWidget* CGallery::View(const std::string& name) {
    CMainFrame* frame = theApp.GetMainFrame();
    if (name == "cfg")
        return frame->ConfigurationPane();
    if (name == "act")
        return frame->ActivityPane();
    if (name == "purge") {
        if (!m_purgeFilters)
            m_purgeFilters = std::make_unique<CPurgeFilters>();
        return &static_cast<CPurgeFilters*>(m_purgeFilters.get())->Tree();
    }
    return nullptr;
}

