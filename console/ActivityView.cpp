#include "console/ActivityView.h"

#include "console/AlertThread.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/session/ConsoleConfiguration.h"
#include "console/session/ViewNotice.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Session.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

using namespace ConsoleIds;

namespace {

constexpr int kSessionImage = 14;
constexpr int kHandoverImage = 15;
constexpr int kCachedImage = 16;
// The log-on level at which a machine's user can be sent a message.
constexpr int kAuthenticated = 2;

const ConsoleTexts::ViewCommandText& CommandText(int id) {
    for (const ConsoleTexts::ViewCommandText& row : ConsoleTexts::kViewCommands)
        if (row.id == id)
            return row;
    return ConsoleTexts::kViewCommands[0];
}

}  // namespace

CActivityView::CActivityView(QWidget* parent) : CWHTreeView(parent) {
    setObjectName("activityView");
    connect(this, &QTreeWidget::currentItemChanged, this, &CActivityView::UpdateCommands);
}

CActivityView::~CActivityView() = default;

void CActivityView::OnViewUpdate(UINT code, const CRef<CObject>& object) {
    std::lock_guard lock(ItemsMutex());
    CObject* target = object.Get();
    switch (code) {
    case ViewCodes::kSessionEnded:
        RemoveAllItems();
        clear();
        break;
    case RCPOperations::kNotifyMachineAdded:
        if (auto* record = dynamic_cast<CWHTreeItem*>(target); record && record->kind == CWHTreeItem::kMachine)
            AddItem(CRef<CWHTreeItem>(record));
        break;
    case RCPOperations::kNotifyMachineChanged:
        if (CWHTreeItem* record = FindItemByObject(target); record && dynamic_cast<CMachine*>(target)) {
            auto* machine = static_cast<CMachine*>(target);
            CScopedLock machines(theConfiguration.GetMachineMap());
            record->text = machine->GetAddressText();
            record->userText = machine->GetUserName();
            record->level = machine->GetLogonState();
            RefreshItem(record);
        }
        break;
    case RCPOperations::kNotifyMachineRemoved:
    case RCPOperations::kNotifySessionEnded: RemoveItem(FindItemByObject(target)); break;
    case RCPOperations::kNotifySessionStarted:
        if (auto* record = dynamic_cast<CWHTreeItem*>(target); record && record->kind == CWHTreeItem::kSession) {
            // Only under its machine: a session whose machine has no item would outlive it.
            bool known = false;
            for (int n = 0; !known && n < topLevelItemCount(); ++n) {
                CWHTreeItem* machine = RecordOf(topLevelItem(n));
                known = machine && machine->kind == CWHTreeItem::kMachine && machine->text == record->parentLabel;
            }
            if (known)
                AddItem(CRef<CWHTreeItem>(record));
        }
        break;
    case RCPOperations::kNotifySessionStatus:
        if (CWHTreeItem* record = FindItemByObject(target); record && dynamic_cast<CSession*>(target)) {
            auto* session = static_cast<CSession*>(target);
            CScopedLock machines(theConfiguration.GetMachineMap());
            std::string description = session->GetDescription();
            if (description == ConsoleTexts::kCachedDescription) {
                record->image = kCachedImage;
            } else if (description == ConsoleTexts::kHandoverDescription) {
                record->image = kHandoverImage;
                record->text = ConsoleTexts::kHandoverLabel;
            } else {
                record->text = description;
                if (record->image == kHandoverImage)
                    record->image = kSessionImage;
            }
            record->level = static_cast<int>(session->GetSessionId());
            RefreshItem(record);
        }
        break;
    default: break;
    }
    UpdateCommands();
}

CActivityView::MachineOf CActivityView::MachineOfRecord(const CWHTreeItem& record) {
    if (record.kind == CWHTreeItem::kMachine)
        return {record.text, record.userText, record.level};
    // A session: its machine's item above it holds the machine as it is now.
    QTreeWidgetItem* item = HandleOf(&record);
    if (CWHTreeItem* machine = item ? RecordOf(item->parent()) : nullptr)
        return {machine->text, machine->userText, machine->level};
    return {record.userText, record.secondText, record.secondLevel};
}

// --- Commands -------------------------------------------------------------------------------

void CActivityView::AddCommands(QMenu* menu) {
    for (int id : {kTerminate, kSendMessage}) {
        QAction* action = menu->addAction(QString::fromLatin1(CommandText(id).menuText));
        action->setData(id);
        m_commands[id] = action;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    connect(menu, &QMenu::aboutToShow, this, &CActivityView::UpdateCommands);
    UpdateCommands();
}

void CActivityView::UpdateCommands() {
    for (auto& [id, action] : m_commands)
        action->setEnabled(IsCommandEnabled(id));
}

bool CActivityView::IsCommandEnabled(int id) const {
    std::lock_guard lock(ItemsMutex());
    CWHTreeItem* record = SelectedRecord();
    if (record == nullptr)
        return false;
    if (id == kSendMessage)
        return MachineOfRecord(*record).level == kAuthenticated;
    return id == kTerminate;
}

void CActivityView::OnCommand(int id) {
    if (id == kTerminate)
        OnTerminate();
    else if (id == kSendMessage)
        OnSendMessage();
}

void CActivityView::OnTerminate() {
    std::lock_guard lock(ItemsMutex());
    CWHTreeItem* record = SelectedRecord();
    IConsoleSession& session = ConsoleSession();
    if (record == nullptr || !session.IsOnline())
        return;
    if (record->kind == CWHTreeItem::kMachine)
        session.QueueMessage(RCPOperations::kTerminateMachine, record->text, {}, {});
    else if (record->kind == CWHTreeItem::kSession)
        session.QueueMessage(RCPOperations::kTerminateSession, MachineOfRecord(*record).address,
                             FormatText(ConsoleTexts::kSessionNumber, static_cast<unsigned>(record->level)), {});
}

void CActivityView::OnSendMessage() {
    MachineOf machine;
    {
        std::lock_guard lock(ItemsMutex());
        CWHTreeItem* record = SelectedRecord();
        if (record == nullptr)
            return;
        machine = MachineOfRecord(*record);
    }
    if (machine.level != kAuthenticated)
        return;
    auto* alert = new CAlertThread(CAlertThread::kComposeMessage, window(), 0,
                                   FormatText(ConsoleTexts::kMessageCaption, machine.user.c_str(),
                                              machine.address.c_str()),
                                   {}, machine.address);
    alert->Start();
}

// --- Context menu and keys ------------------------------------------------------------------

std::vector<CActivityView::MenuEntry> CActivityView::ContextMenuFor(QTreeWidgetItem* item) const {
    std::lock_guard lock(ItemsMutex());
    CWHTreeItem* record = RecordOf(item);
    if (record == nullptr)
        return {};
    MachineOf machine = MachineOfRecord(*record);
    std::string what = record->kind == CWHTreeItem::kMachine
                           ? FormatText(ConsoleTexts::kTerminateMachine, machine.address.c_str())
                           : std::string(ConsoleTexts::kTerminateSession);
    return {
        {kTerminate, ToDisplay(FormatText(CommandText(kTerminate).contextText, what.c_str())), true},
        {0, {}, false},
        {kSendMessage, ToDisplay(FormatText(CommandText(kSendMessage).contextText, machine.user.c_str())),
         machine.level == kAuthenticated},
    };
}

void CActivityView::contextMenuEvent(QContextMenuEvent* event) {
    QTreeWidgetItem* item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    std::vector<MenuEntry> entries = ContextMenuFor(item);
    if (entries.empty())
        return;
    event->accept();
    setCurrentItem(item);
    QMenu menu(this);
    for (const MenuEntry& entry : entries) {
        if (entry.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(entry.text);
        action->setData(entry.id);
        action->setEnabled(entry.enabled);
    }
    if (QAction* chosen = menu.exec(event->globalPos() + QPoint(5, 0)))
        OnCommand(chosen->data().toInt());
}

void CActivityView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        OnTerminate();
        event->accept();
        return;
    }
    CWHTreeView::keyPressEvent(event);
}
