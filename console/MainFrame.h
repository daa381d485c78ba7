#pragma once
// CMainFrame: the console's main window. 600 x 440 (sizes of the first layout, scaled to the
// font: console/ScaledLayout.h), on its first showing as tall as 3/4 of the screen where that
// is more, so that a configuration tree of some thirty rows shows whole; centred. The menu bar
// ("&File" with the application's commands, "&Configuration" and "&Activity" for the views,
// "&Help"); the tool bar (Go On-line, Go Off-line, On-line options, a gap, Save changes; docked
// at the top, dockable on every side, with tool tips); the status bar (the message pane, then
// CAP, NUM and SCRL); and a splitter of two panes, the activity pane on the left (400 wide,
// scaled; the active one) and the configuration pane on the right: the activity view and the
// configuration tree.
//
// Commands are QActions found by their command id; each shows the first line of its prompt in
// the status bar and the second as its tool tip. GUI thread only.

#include <QMainWindow>

#include <map>

class CActivityView;
class CWardenhallView;
class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 440;
    static constexpr int kActivityPaneWidth = 400;
    static constexpr int kConfigurationPaneWidth = 200;
    // Percent of the screen's height that the window takes at least when first shown.
    static constexpr int kScreenHeightShare = 75;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The command `id` (ConsoleIds), or null.
    QAction* Action(int id) const;
    // Enables the commands that depend on the on-line flag.
    void EnableCommands(bool online);

    // The panes are the views: the activity view and the configuration tree. Their menus act
    // on their own selection wherever the focus is.
    CActivityView* ActivityPane() const { return m_activityPane; }
    CWardenhallView* ConfigurationPane() const { return m_configurationPane; }
    QMenu* ConfigurationMenu() const { return m_configurationMenu; }
    QMenu* ActivityMenu() const { return m_activityMenu; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QSplitter* Splitter() const { return m_splitter; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateCommands();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreatePanes();
    // Shows the lock keys' states in the indicator panes.
    void UpdateIndicators();

    std::map<int, QAction*> m_actions;
    QMenu* m_configurationMenu = nullptr;
    QMenu* m_activityMenu = nullptr;
    QToolBar* m_toolBar = nullptr;
    QSplitter* m_splitter = nullptr;
    CActivityView* m_activityPane = nullptr;
    CWardenhallView* m_configurationPane = nullptr;
    QLabel* m_capsIndicator = nullptr;
    QLabel* m_numIndicator = nullptr;
    QLabel* m_scrollIndicator = nullptr;
    QTimer* m_indicatorTimer = nullptr;
    bool m_placed = false;
};
