#pragma once
// CWardenhallView: the configuration tree, the right-hand pane of the main frame. It shows the
// console's copy of the configuration (theConfiguration) under fixed nodes, builds and changes
// the tree from the console session's change codes, and turns the administrator's commands
// into requests to the engine or into the property dialogs.
//
// Change codes (CViewUpdateEvent):
//   0            after an off-line change: items for the copy's objects that have none (under
//                their fixed node, else at the root), the labels of the others refreshed
//   4            the session ended: every item and record goes, both flags are cleared
//   20           fixed nodes "Users" then "Groups"    30  "Services"
//   40           "Policies" with "Default Policies" and "System Rights" below it
//   50           "Locations"    60  "Dialing" (dialer fetched)    130  "Caching" (cache fetched)
//   22, 25, 32, 52   a record: added under Users, Groups, Services, Locations (at the root while
//                    that node is missing)
//   23, 26, 33, 53   the removed object's item goes
//   34, 54       the service's name / location's filter text becomes the label again
//   35           the service's picture by its running state (0: 11, 1: 10, 2: 12)
//   55, 56       the location's item moves up / down
// Fixed nodes are added last at the root, so they stand in the order their lists complete.
//
// Commands (ConsoleIds; the "&Configuration" menu acts on this view's selection wherever the
// focus is): Delete (and the Delete key) queues 23, 26, 53 or 33 with the label, without a
// question, and the tree changes only on the engine's echo; Start / Stop queue 35 with "1" /
// "0"; Promote / Demote queue 55 / 56 for a label that names a location of the copy; New
// Location and a location's Properties open the Location dialog. Nothing is queued off-line.
// Properties takes a counted reference to the object before a dialog opens and never touches
// the record afterwards (the dialog's loop may remove it).
//
// The other dialogs (user sheet, group dialogs, service sheet, dialer and cache sheets,
// default policies) come from their own parts of the console: each is installed as an opener
// (SetDialogs), and a command whose opener is missing is disabled and does nothing.
//
// Right click: a fixed node opens menu 142 (the New entries) without selecting it; an item with
// a record is selected and opens its kind's menu (users 137, groups 141, locations 138,
// services 140); 5 pixels right of the click. GUI thread only.

#include "console/WHTreeView.h"

#include <functional>
#include <map>

class CGroup;
class CService;
class CUser;
class QAction;
class QMenu;

// The dialogs of other parts of the console that the tree opens. Each runs modal on `parent`.
struct CConfigurationDialogs {
    // The user property sheet, on `user`, or for a new user when null.
    std::function<void(QWidget* parent, CRef<CUser> user)> userSheet;
    // Edit Group on `group`, or New Group when null.
    std::function<void(QWidget* parent, CRef<CGroup> group)> groupDialog;
    // The Edit Service sheet on `service`; `isNew` for one made by a New service command.
    std::function<void(QWidget* parent, CRef<CService> service, bool isNew)> serviceSheet;
    std::function<void(QWidget* parent)> dialerSheet;
    std::function<void(QWidget* parent)> cacheSheet;
    // The Default Policy dialog on the default rights, or on the system rights.
    std::function<void(QWidget* parent, bool systemRights)> defaultPolicy;
};

class CWardenhallView : public CWHTreeView {
    Q_OBJECT
public:
    // The fixed nodes.
    enum Node { kUsers, kGroups, kLocations, kServices, kPolicies, kDefaultPolicies, kSystemRights,
                kDialing, kCaching, kNodeCount };

    explicit CWardenhallView(QWidget* parent = nullptr);
    ~CWardenhallView() override;

    // Installs the openers of every configuration tree (replacing those installed before).
    static void SetDialogs(CConfigurationDialogs dialogs);
    static const CConfigurationDialogs& Dialogs();
    // After an off-line change to the copy: the configuration view shows the copy as it is now
    // (code 0). Any thread.
    static void PostShowCopy();

    // Adds the view's commands to the main menu's "&Configuration".
    void AddCommands(QMenu* menu);
    // Runs command `id` on the selection.
    void OnCommand(int id);
    // Whether command `id` can run now.
    bool IsCommandEnabled(int id) const;

    QTreeWidgetItem* NodeItem(Node node) const { return m_nodes[node]; }
    bool IsDialerFetched() const { return m_dialerFetched; }
    bool IsCacheFetched() const { return m_cacheFetched; }

    void OnProperties();
    void OnDelete();
    // Opens the context menu of `item` (null: none) at `globalPos` (5 pixels right of it).
    void ShowContextMenu(QTreeWidgetItem* item, const QPoint& globalPos);
    // The menu that a right click on `item` opens (0: none), and its entries (0: separator).
    int ContextMenuOf(const QTreeWidgetItem* item) const;
    static std::vector<int> MenuEntries(int menuId);

protected:
    void OnViewUpdate(UINT code, const CRef<CObject>& object) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A right press on a fixed node leaves the selection as it is.
    void mousePressEvent(QMouseEvent* event) override;

private:
    void InsertNode(Node node);
    void AddUnder(Node node, const CRef<CObject>& object);
    void ShowCopy();
    void OnItemDoubleClicked(QTreeWidgetItem* item);
    void OnNewService(int id);
    void OnLocation(CRef<CObject> location);
    void UpdateCommands();

    QTreeWidgetItem* m_nodes[kNodeCount] = {};
    bool m_dialerFetched = false;
    bool m_cacheFetched = false;
    std::map<int, QAction*> m_commands;
};
