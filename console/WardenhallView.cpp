#include "console/WardenhallView.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/LocationDlg.h"
#include "console/session/ConsoleConfiguration.h"
#include "console/session/ViewNotice.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/Location.h"
#include "engine/access/LocationArray.h"
#include "engine/access/User.h"
#include "engine/framework/Service.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/RuntimeClass.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

using namespace ConsoleIds;

namespace {

struct NodeRow {
    const char* text;
    int image;
};
// Labels and pictures of the fixed nodes, by CWardenhallView::Node.
constexpr NodeRow kNodes[] = {
    {ConsoleTexts::kUsersNode, 1},     {ConsoleTexts::kGroupsNode, 4},
    {ConsoleTexts::kLocationsNode, 0}, {ConsoleTexts::kServicesNode, 10},
    {ConsoleTexts::kPoliciesNode, 5},  {ConsoleTexts::kDefaultPoliciesNode, 5},
    {ConsoleTexts::kSystemRightsNode, 5}, {ConsoleTexts::kDialingNode, 7},
    {ConsoleTexts::kCachingNode, 16},
};

// The service's picture by its running state (0 stopped, 1 running, 2 between).
int ServiceImage(int state) {
    switch (state) {
    case 0: return 11;
    case 1: return 10;
    case 2: return 12;
    default: return 11;
    }
}

// The new-service commands and the class each makes.
constexpr struct {
    int id;
    const char* className;
} kNewServices[] = {
    {kNewRemoteControlService, "CRemoteControlService"}, {kNewDNSService, "CDNSService"},
    {kNewSOCKSService, "CSOCKSService"},                 {kNewVDOLiveService, "CVDOLiveService"},
    {kNewRealAudioService, "CRealAudioService"},         {kNewFTPService, "CFTPService"},
    {kNewPOP3Service, "CPOP3Service"},                   {kNewWWWService, "CWWWService"},
    {kNewUDPMappingService, "CUDPMappingService"},       {kNewTCPMappingService, "CTCPMappingService"},
    {kNewTelnetService, "CTelnetService"},
};

bool IsNewService(int id) {
    for (const auto& row : kNewServices)
        if (row.id == id)
            return true;
    return false;
}

const ConsoleTexts::ViewCommandText* CommandText(int id) {
    for (const ConsoleTexts::ViewCommandText& row : ConsoleTexts::kViewCommands)
        if (row.id == id)
            return &row;
    return nullptr;
}

// A separator in a menu's entries; the new-service submenu.
constexpr int kSeparator = 0;
constexpr int kNewServiceSubmenu = -1;

CConfigurationDialogs& InstalledDialogs() {
    static CConfigurationDialogs dialogs;
    return dialogs;
}

// The position of the location with that filter text in the copy, -1 for none, and the count.
std::pair<int, int> LocationPlace(const std::string& filter) {
    CLocationArray& locations = theConfiguration.GetLocations();
    CScopedLock lock(locations);
    CLocation* location = locations.FindLocation(filter);
    return {location ? locations.IndexOf(location) : -1, static_cast<int>(locations.GetSize())};
}

}  // namespace

CWardenhallView::CWardenhallView(QWidget* parent) : CWHTreeView(parent) {
    setObjectName("configurationView");
    connect(this, &QTreeWidget::itemDoubleClicked, this, &CWardenhallView::OnItemDoubleClicked);
}

CWardenhallView::~CWardenhallView() = default;

void CWardenhallView::SetDialogs(CConfigurationDialogs dialogs) { InstalledDialogs() = std::move(dialogs); }

const CConfigurationDialogs& CWardenhallView::Dialogs() { return InstalledDialogs(); }

void CWardenhallView::PostShowCopy() { theApp.Views().Post({ViewTargets::kConfiguration, 0, nullptr}); }

// --- Change codes ---------------------------------------------------------------------------

void CWardenhallView::InsertNode(Node node) {
    if (m_nodes[node])
        return;
    QTreeWidgetItem* parent = node == kDefaultPolicies || node == kSystemRights ? m_nodes[kPolicies] : nullptr;
    m_nodes[node] = InsertItem(parent, kNodes[node].text, kNodes[node].image);
}

void CWardenhallView::AddUnder(Node node, const CRef<CObject>& object) {
    CRef<CWHTreeItem> record(dynamic_cast<CWHTreeItem*>(object.Get()));
    if (!record)
        return;
    record->parentHandle = m_nodes[node];
    AddItem(std::move(record));
}

void CWardenhallView::OnViewUpdate(UINT code, const CRef<CObject>& object) {
    std::lock_guard lock(ItemsMutex());
    CObject* target = object.Get();
    switch (code) {
    case 0: ShowCopy(); break;
    case ViewCodes::kSessionEnded:
        RemoveAllItems();
        for (QTreeWidgetItem*& node : m_nodes)
            node = nullptr;
        m_dialerFetched = m_cacheFetched = false;
        while (topLevelItemCount() > 0)
            DeleteTreeItem(topLevelItem(0));
        break;
    case RCPOperations::kRetrieveUsers:
        InsertNode(kUsers);
        InsertNode(kGroups);
        break;
    case RCPOperations::kNotifyUserAdded: AddUnder(kUsers, object); break;
    case RCPOperations::kNotifyGroupAdded: AddUnder(kGroups, object); break;
    case RCPOperations::kNotifyServiceAdded: AddUnder(kServices, object); break;
    case RCPOperations::kNotifyLocationAdded: AddUnder(kLocations, object); break;
    case RCPOperations::kNotifyUserDeleted:
    case RCPOperations::kNotifyGroupDeleted:
    case RCPOperations::kNotifyServiceDeleted:
    case RCPOperations::kNotifyLocationDeleted: RemoveItem(FindItemByObject(target)); break;
    case RCPOperations::kRetrieveServices: InsertNode(kServices); break;
    case RCPOperations::kNotifyServiceModified:
    case RCPOperations::kNotifyLocationModified:
        if (CWHTreeItem* record = FindItemByObject(target)) {
            if (auto* service = dynamic_cast<CService*>(target))
                record->text = service->GetName();
            else if (auto* location = dynamic_cast<CLocation*>(target)) {
                CScopedLock locations(theConfiguration.GetLocations());
                record->text = location->GetFilter();
            }
            RefreshItem(record);
        }
        break;
    case RCPOperations::kNotifyServiceState:
        if (CWHTreeItem* record = FindItemByObject(target); record && dynamic_cast<CService*>(target)) {
            record->image = ServiceImage(static_cast<CService*>(target)->GetRunState());
            RefreshItem(record);
        }
        break;
    case RCPOperations::kRetrievePolicies:
        InsertNode(kPolicies);
        InsertNode(kDefaultPolicies);
        InsertNode(kSystemRights);
        break;
    case RCPOperations::kRetrieveLocations: InsertNode(kLocations); break;
    case RCPOperations::kNotifyLocationPromoted: MoveItemUp(FindItemByObject(target)); break;
    case RCPOperations::kNotifyLocationDemoted: MoveItemDown(FindItemByObject(target)); break;
    case RCPOperations::kRetrieveDialer:
        InsertNode(kDialing);
        m_dialerFetched = true;
        break;
    case RCPOperations::kRetrieveCache:
        InsertNode(kCaching);
        m_cacheFetched = true;
        break;
    default: break;
    }
    UpdateCommands();
}

void CWardenhallView::ShowCopy() {
    // What the copy holds now, each container read under its own lock.
    std::vector<std::pair<Node, CRef<CObject>>> objects;
    {
        CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
        CScopedLock lock(database);
        for (const auto& [name, entry] : database)
            objects.emplace_back(dynamic_cast<CUser*>(entry) ? kUsers : kGroups, CRef<CObject>(entry));
    }
    {
        CLocationArray& locations = theConfiguration.GetLocations();
        CScopedLock lock(locations);
        for (std::size_t n = 0; n < locations.GetSize(); ++n)
            objects.emplace_back(kLocations, CRef<CObject>(locations.GetLocation(n)));
    }
    {
        CServiceManager& services = theConfiguration.GetServiceManager();
        CScopedLock lock(services);
        for (const auto& [name, service] : services)
            objects.emplace_back(kServices, CRef<CObject>(service));
    }
    CScopedLock locations(theConfiguration.GetLocations());
    for (const auto& [node, object] : objects) {
        if (!object)
            continue;
        if (CWHTreeItem* record = FindItemByObject(object.Get())) {
            CWHTreeItem fresh(object, "");
            record->text = fresh.text;
            RefreshItem(record);
            continue;
        }
        AddUnder(node, CRef<CObject>::Adopt(new CWHTreeItem(object, "")));
    }
}

// --- Commands -------------------------------------------------------------------------------

void CWardenhallView::AddCommands(QMenu* menu) {
    QMenu* add = menu->addMenu(QString::fromLatin1(ConsoleTexts::kNewMenuText));
    for (int id : {kNewUser, kNewGroup, kNewLocation})
        add->addAction(QString::fromLatin1(CommandText(id)->menuText))->setData(id);
    add->addSeparator();
    for (const auto& row : kNewServices)
        add->addAction(QString::fromLatin1(CommandText(row.id)->menuText))->setData(row.id);
    for (QAction* action : add->actions())
        if (!action->isSeparator())
            m_commands[action->data().toInt()] = action;
    menu->addSeparator();
    for (int id : {kStartService, kStopService, kSeparator, kPromoteLocation, kDemoteLocation, kSeparator, kDelete,
                   kProperties}) {
        if (id == kSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromLatin1(CommandText(id)->menuText));
        action->setData(id);
        m_commands[id] = action;
    }
    for (auto& [id, action] : m_commands)
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    connect(menu, &QMenu::aboutToShow, this, &CWardenhallView::UpdateCommands);
    UpdateCommands();
}

void CWardenhallView::UpdateCommands() {
    for (auto& [id, action] : m_commands)
        action->setEnabled(IsCommandEnabled(id));
}

bool CWardenhallView::IsCommandEnabled(int id) const {
    const CConfigurationDialogs& dialogs = Dialogs();
    if (id == kNewUser)
        return static_cast<bool>(dialogs.userSheet);
    if (id == kNewGroup)
        return static_cast<bool>(dialogs.groupDialog);
    if (IsNewService(id))
        return static_cast<bool>(dialogs.serviceSheet);
    if (id == kNewLocation)
        return true;
    CWHTreeItem* record = SelectedRecord();
    if (record == nullptr)
        return false;
    switch (id) {
    case kProperties:
        switch (record->kind) {
        case CWHTreeItem::kUser: return static_cast<bool>(dialogs.userSheet);
        case CWHTreeItem::kGroup: return static_cast<bool>(dialogs.groupDialog);
        case CWHTreeItem::kService: return static_cast<bool>(dialogs.serviceSheet);
        case CWHTreeItem::kLocation: return true;
        default: return false;
        }
    case kDelete: return true;
    case kStartService:
    case kStopService: return record->kind == CWHTreeItem::kService;
    case kPromoteLocation:
    case kDemoteLocation: return record->kind == CWHTreeItem::kLocation;
    default: return false;
    }
}

void CWardenhallView::OnCommand(int id) {
    IConsoleSession& session = ConsoleSession();
    const CConfigurationDialogs& dialogs = Dialogs();
    switch (id) {
    case kNewUser:
        if (dialogs.userSheet)
            dialogs.userSheet(this, nullptr);
        return;
    case kNewGroup:
        if (dialogs.groupDialog)
            dialogs.groupDialog(this, nullptr);
        return;
    case kNewLocation: OnLocation(nullptr); return;
    case kProperties: OnProperties(); return;
    case kDelete: OnDelete(); return;
    case kStartService:
    case kStopService: {
        CWHTreeItem* record = SelectedRecord();
        if (record == nullptr || record->kind != CWHTreeItem::kService || !session.IsOnline())
            return;
        session.QueueMessage(RCPOperations::kStartStopService, record->text,
                             FormatText(ConsoleTexts::kServiceState, id == kStartService ? 1 : 0), {});
        return;
    }
    case kPromoteLocation:
    case kDemoteLocation: {
        CWHTreeItem* record = SelectedRecord();
        if (record == nullptr || !session.IsOnline())
            return;
        auto [at, count] = LocationPlace(record->text);
        // Promoting the first location or demoting the last would change nothing.
        if (at < 0 || (id == kPromoteLocation && at == 0) || (id == kDemoteLocation && at == count - 1))
            return;
        session.QueueMessage(id == kPromoteLocation ? RCPOperations::kPromoteLocation : RCPOperations::kDemoteLocation,
                             record->text, {}, {});
        return;
    }
    default:
        if (IsNewService(id))
            OnNewService(id);
        return;
    }
}

void CWardenhallView::OnNewService(int id) {
    const CConfigurationDialogs& dialogs = Dialogs();
    if (!dialogs.serviceSheet)
        return;
    for (const auto& row : kNewServices) {
        if (row.id != id)
            continue;
        CRef<CService> service =
            CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject(row.className)));
        if (service)
            dialogs.serviceSheet(this, std::move(service), true);
        return;
    }
}

void CWardenhallView::OnDelete() {
    std::lock_guard lock(ItemsMutex());
    CWHTreeItem* record = SelectedRecord();
    if (record == nullptr || !ConsoleSession().IsOnline())
        return;
    WORD op = 0;
    switch (record->kind) {
    case CWHTreeItem::kUser: op = RCPOperations::kDeleteUser; break;
    case CWHTreeItem::kGroup: op = RCPOperations::kDeleteGroup; break;
    case CWHTreeItem::kLocation: op = RCPOperations::kDeleteLocation; break;
    case CWHTreeItem::kService: op = RCPOperations::kDeleteService; break;
    default: return;
    }
    ConsoleSession().QueueMessage(op, record->text, {}, {});
}

void CWardenhallView::OnProperties() {
    // The object is held from here on: the dialog's loop may remove the record.
    int kind = CWHTreeItem::kNoKind;
    CRef<CObject> object;
    {
        std::lock_guard lock(ItemsMutex());
        if (CWHTreeItem* record = SelectedRecord()) {
            kind = record->kind;
            object = record->object;
        }
    }
    const CConfigurationDialogs& dialogs = Dialogs();
    switch (kind) {
    case CWHTreeItem::kUser:
        if (dialogs.userSheet)
            dialogs.userSheet(this, CRef<CUser>(dynamic_cast<CUser*>(object.Get())));
        break;
    case CWHTreeItem::kGroup:
        if (dialogs.groupDialog)
            dialogs.groupDialog(this, CRef<CGroup>(dynamic_cast<CGroup*>(object.Get())));
        break;
    case CWHTreeItem::kLocation: OnLocation(object); break;
    case CWHTreeItem::kService:
        if (dialogs.serviceSheet)
            dialogs.serviceSheet(this, CRef<CService>(dynamic_cast<CService*>(object.Get())), false);
        break;
    default: break;
    }
}

void CWardenhallView::OnLocation(CRef<CObject> location) {
    CLocationDlg dialog(CRef<CLocation>(dynamic_cast<CLocation*>(location.Get())), this);
    ExecChildDialog(dialog);
}

void CWardenhallView::OnItemDoubleClicked(QTreeWidgetItem* item) {
    const CConfigurationDialogs& dialogs = Dialogs();
    if (item == m_nodes[kDialing]) {
        if (m_dialerFetched && dialogs.dialerSheet)
            dialogs.dialerSheet(this);
    } else if (item == m_nodes[kCaching]) {
        if (m_cacheFetched && dialogs.cacheSheet)
            dialogs.cacheSheet(this);
    } else if (item == m_nodes[kDefaultPolicies] || item == m_nodes[kSystemRights]) {
        if (dialogs.defaultPolicy)
            dialogs.defaultPolicy(this, item == m_nodes[kSystemRights]);
    } else if (RecordOf(item) != nullptr) {
        setCurrentItem(item);
        OnProperties();
    }
    // Other fixed nodes expand and collapse as the tree does by itself.
}

// --- Context menus and keys -----------------------------------------------------------------

std::vector<int> CWardenhallView::MenuEntries(int menuId) {
    switch (menuId) {
    case kNewMenu: return {kNewUser, kNewGroup, kNewLocation, kNewServiceSubmenu};
    case kUserMenu: return {kNewUser, kSeparator, kDelete, kProperties};
    case kGroupMenu: return {kNewGroup, kSeparator, kDelete, kProperties};
    case kLocationMenu: return {kNewLocation, kSeparator, kPromoteLocation, kDemoteLocation, kSeparator, kDelete,
                                kProperties};
    case kServiceMenu: return {kNewServiceSubmenu, kSeparator, kStartService, kStopService, kSeparator, kDelete,
                               kProperties};
    default: return {};
    }
}

int CWardenhallView::ContextMenuOf(const QTreeWidgetItem* item) const {
    if (item == nullptr)
        return 0;
    for (QTreeWidgetItem* node : m_nodes)
        if (node == item)
            return kNewMenu;
    CWHTreeItem* record = RecordOf(item);
    if (record == nullptr)
        return 0;
    switch (record->kind) {
    case CWHTreeItem::kUser: return kUserMenu;
    case CWHTreeItem::kGroup: return kGroupMenu;
    case CWHTreeItem::kLocation: return kLocationMenu;
    case CWHTreeItem::kService: return kServiceMenu;
    default: return 0;
    }
}

void CWardenhallView::ShowContextMenu(QTreeWidgetItem* item, const QPoint& globalPos) {
    int menuId = ContextMenuOf(item);
    if (menuId == 0)
        return;
    if (menuId != kNewMenu)
        setCurrentItem(item);
    QMenu menu(this);
    for (int id : MenuEntries(menuId)) {
        if (id == kSeparator) {
            menu.addSeparator();
        } else if (id == kNewServiceSubmenu) {
            QMenu* services = menu.addMenu(QString::fromLatin1(ConsoleTexts::kNewServiceMenuText));
            for (const auto& row : kNewServices) {
                QAction* action = services->addAction(QString::fromLatin1(CommandText(row.id)->contextText));
                action->setData(row.id);
                action->setEnabled(IsCommandEnabled(row.id));
            }
        } else {
            QAction* action = menu.addAction(QString::fromLatin1(CommandText(id)->contextText));
            action->setData(id);
            action->setEnabled(IsCommandEnabled(id));
        }
    }
    if (QAction* chosen = menu.exec(globalPos + QPoint(5, 0)))
        OnCommand(chosen->data().toInt());
}

void CWardenhallView::contextMenuEvent(QContextMenuEvent* event) {
    QTreeWidgetItem* item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (item == nullptr) {
        CWHTreeView::contextMenuEvent(event);
        return;
    }
    event->accept();
    ShowContextMenu(item, event->globalPos());
}

void CWardenhallView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && ContextMenuOf(itemAt(event->pos())) == kNewMenu) {
        event->accept();
        return;
    }
    CWHTreeView::mousePressEvent(event);
}

void CWardenhallView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        OnDelete();
        event->accept();
        return;
    }
    CWHTreeView::keyPressEvent(event);
}
