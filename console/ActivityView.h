#pragma once
// CActivityView: the left-hand pane of the main frame, a live tree of the client machines
// connected to the engine, each with a child for its user and one item per session, built
// from the console session's activity notices.
//
//   code  effect
//   4     the session ended: every item and record goes
//   71    a machine record: added with its user child
//   72    the machine's address, user and log-on level are shown again
//   73    the machine's item goes, with its sessions' records
//   74    a session record: added under its machine's item (dropped when that is unknown)
//   75    the session: "cached" gives picture 16; "handover" picture 15 and the label
//         "SOCKS -> HTTP"; any other description becomes the label and picture 15 turns back
//         into 14; the session number is taken again
//   76    the session's item goes
// Machine and session texts are read under the machine map's lock.
//
// Commands ("&Activity" menu, context menu 139; they act on this view's selection wherever the
// focus is): Terminate (32799, and the Delete key) queues 73 with the machine's address, or 76
// with the address and the session number, only while on-line. Send Message (32801), enabled
// only while the machine's user is authenticated (level 2), opens a message to compose
// captioned "Message to <user> on <machine>" and addressed to the machine's address (request
// 91 names the recipient by address). GUI thread only.

#include "console/WHTreeView.h"

#include <map>
#include <string>

class QAction;
class QMenu;

class CActivityView : public CWHTreeView {
    Q_OBJECT
public:
    explicit CActivityView(QWidget* parent = nullptr);
    ~CActivityView() override;

    // Adds the view's commands to the main menu's "&Activity".
    void AddCommands(QMenu* menu);
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;

    void OnTerminate();
    void OnSendMessage();

    // Menu 139 for `item`: entry texts (empty: separator) and whether each is enabled; empty
    // for no item.
    struct MenuEntry {
        int id;
        QString text;
        bool enabled;
    };
    std::vector<MenuEntry> ContextMenuFor(QTreeWidgetItem* item) const;

protected:
    void OnViewUpdate(UINT code, const CRef<CObject>& object) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What a record tells of its machine: address, user name and log-on level.
    struct MachineOf {
        std::string address;
        std::string user;
        int level = 0;
    };
    static MachineOf MachineOfRecord(const CWHTreeItem& record);
    void UpdateCommands();

    std::map<int, QAction*> m_commands;
};
