#include "console/MainFrame.h"

#include "console/ActivityView.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/KeyIndicators.h"
#include "console/ScaledLayout.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"

#include <QAction>
#include <QLayout>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using ConsoleIds::kAppAbout;
using ConsoleIds::kAppExit;
using ConsoleIds::kChangePassword;
using ConsoleIds::kGoOffline;
using ConsoleIds::kGoOnline;
using ConsoleIds::kHelpFinder;
using ConsoleIds::kOnlineOptions;
using ConsoleIds::kSaveChanges;
using ConsoleIds::kShutdownEngine;

// How often the lock-key panes are brought up to date.
constexpr int kIndicatorPeriodMs = 250;

// The tool bar's commands and their pictures in the tool bar strip; 0 is the gap.
constexpr struct {
    int id;
    int picture;
} kToolBarButtons[] = {
    {kGoOnline, 0}, {kGoOffline, 1}, {kOnlineOptions, 2}, {0, -1}, {kSaveChanges, 3},
};

// Enables a view menu once something is in it: an empty menu stays greyed.
class CViewMenuWatcher : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved) {
            auto* menu = static_cast<QMenu*>(watched);
            // The event comes before a removed action has left the menu.
            int count = static_cast<int>(menu->actions().size()) - (event->type() == QEvent::ActionRemoved ? 1 : 0);
            menu->menuAction()->setEnabled(count > 0);
        }
        return false;
    }
};

QLabel* MakeIndicator(const char* text) {
    auto* label = new QLabel;
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString::fromLatin1(text)) + 12);
    return label;
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setWindowIcon(ConsoleImages::ApplicationIcon());
    resize(ScaledSize(this, kWidth, kHeight));
    CreateCommands();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreatePanes();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::Action(int id) const {
    auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::CreateCommands() {
    for (const ConsoleTexts::CommandText& command : ConsoleTexts::kCommands) {
        QString menuText = QString::fromLatin1(command.menuText);
        QString shortcut = menuText.section(QLatin1Char('\t'), 1);
        QString prompt = QString::fromLatin1(command.prompt);
        auto* action = new QAction(menuText.section(QLatin1Char('\t'), 0, 0), this);
        if (!shortcut.isEmpty())
            action->setShortcut(QKeySequence(shortcut));
        action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
        action->setToolTip(prompt.section(QLatin1Char('\n'), 1));
        action->setData(command.id);
        m_actions[command.id] = action;
    }
    const std::pair<int, void (CWardenhallApp::*)()> handlers[] = {
        {kGoOnline, &CWardenhallApp::OnGoOnline},
        {kGoOffline, &CWardenhallApp::OnGoOffline},
        {kSaveChanges, &CWardenhallApp::OnSaveChanges},
        {kChangePassword, &CWardenhallApp::OnChangePassword},
        {kOnlineOptions, &CWardenhallApp::OnOnlineOptions},
        {kShutdownEngine, &CWardenhallApp::OnShutdownEngine},
        {kAppAbout, &CWardenhallApp::OnAppAbout},
        {kAppExit, &CWardenhallApp::OnAppExit},
        {kHelpFinder, &CWardenhallApp::WinHelp},
    };
    for (const auto& [id, handler] : handlers)
        connect(m_actions[id], &QAction::triggered, this, [handler] { (theApp.*handler)(); });
    // Shortcuts work in every window of the frame, the panes included.
    addActions({m_actions[kGoOnline], m_actions[kHelpFinder]});
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QString::fromLatin1(ConsoleTexts::kFileMenu));
    file->addActions({Action(kGoOnline), Action(kGoOffline)});
    file->addSeparator();
    file->addActions({Action(kSaveChanges), Action(kChangePassword), Action(kOnlineOptions)});
    file->addSeparator();
    file->addAction(Action(kShutdownEngine));
    file->addSeparator();
    file->addAction(Action(kAppExit));

    auto* watcher = new CViewMenuWatcher(this);
    m_configurationMenu = menuBar()->addMenu(QString::fromLatin1(ConsoleTexts::kConfigurationMenu));
    m_activityMenu = menuBar()->addMenu(QString::fromLatin1(ConsoleTexts::kActivityMenu));
    for (QMenu* menu : {m_configurationMenu, m_activityMenu}) {
        menu->menuAction()->setEnabled(false);
        menu->installEventFilter(watcher);
    }

    QMenu* help = menuBar()->addMenu(QString::fromLatin1(ConsoleTexts::kHelpMenu));
    help->addAction(Action(kHelpFinder));
    help->addSeparator();
    help->addAction(Action(kAppAbout));
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QString::fromLatin1(ConsoleTexts::kToolBar), this);
    m_toolBar->setObjectName("toolBar128");
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setIconSize(QSize(ConsoleImages::kImageWidth, ConsoleImages::kImageHeight));
    for (const auto& button : kToolBarButtons) {
        if (button.id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* action = Action(button.id);
        action->setIcon(QIcon(ConsoleImages::StripPicture(ConsoleImages::kToolBarFile, button.picture)));
        m_toolBar->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    auto* idle = new QLabel(QString::fromLatin1(ConsoleTexts::kIdleMessage));
    bar->addWidget(idle, 1);
    m_capsIndicator = MakeIndicator(ConsoleTexts::kCapsIndicator);
    m_numIndicator = MakeIndicator(ConsoleTexts::kNumIndicator);
    m_scrollIndicator = MakeIndicator(ConsoleTexts::kScrollIndicator);
    for (QLabel* indicator : {m_capsIndicator, m_numIndicator, m_scrollIndicator})
        bar->addPermanentWidget(indicator);
    m_indicatorTimer = new QTimer(this);
    connect(m_indicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    if (QueryLockKeyStates().known)
        m_indicatorTimer->start(kIndicatorPeriodMs);
}

void CMainFrame::UpdateIndicators() {
    LockKeyStates states = QueryLockKeyStates();
    m_capsIndicator->setText(states.caps ? ConsoleTexts::kCapsIndicator : "");
    m_numIndicator->setText(states.num ? ConsoleTexts::kNumIndicator : "");
    m_scrollIndicator->setText(states.scroll ? ConsoleTexts::kScrollIndicator : "");
}

void CMainFrame::CreatePanes() {
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_activityPane = new CActivityView(m_splitter);
    m_configurationPane = new CWardenhallView(m_splitter);
    m_activityPane->AddCommands(m_activityMenu);
    m_configurationPane->AddCommands(m_configurationMenu);
    m_splitter->addWidget(m_activityPane);
    m_splitter->addWidget(m_configurationPane);
    // The activity pane keeps its width as the window grows; the configuration pane takes the rest.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ScaledWidth(this, kActivityPaneWidth), ScaledWidth(this, kConfigurationPaneWidth)});
    setCentralWidget(m_splitter);
    setFocusProxy(m_activityPane);
}

void CMainFrame::EnableCommands(bool online) {
    for (int id : {kGoOffline, kSaveChanges, kChangePassword, kShutdownEngine})
        Action(id)->setEnabled(online);
    Action(kGoOnline)->setEnabled(!online);
}

void CMainFrame::showEvent(QShowEvent* event) {
    if (!m_placed) {
        m_placed = true;
        if (QScreen* screen = this->screen()) {
            const QRect available = screen->availableGeometry();
            // Taller where the screen has room, never taller than the screen.
            const int tall = std::max(height(), available.height() * kScreenHeightShare / 100);
            resize(width(), std::min(tall, available.height()));
            QRect frame = frameGeometry();
            frame.moveCenter(available.center());
            move(frame.topLeft());
        }
        // The splitter shares out only the width it has: the left pane gets exactly its own.
        layout()->activate();
        const int activity = ScaledWidth(this, kActivityPaneWidth);
        int rest = m_splitter->width() - m_splitter->handleWidth() - activity;
        m_splitter->setSizes({activity, std::max(rest, ScaledWidth(this, kConfigurationPaneWidth) / 4)});
        m_activityPane->setFocus();
        UpdateIndicators();
    }
    QMainWindow::showEvent(event);
}
