// The configuration tree and the activity view over recorded notices: their change-code
// tables, the requests their commands queue, their context menus; and the Location dialog.

#include "console/ActivityView.h"
#include "console/AlertThread.h"
#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallView.h"
#include "console/dialogs/LocationDlg.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/LocationArray.h"
#include "engine/access/User.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/Session.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/RuntimeClass.h"
#include "tests/console/ConsoleTestKit.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace ConsoleIds;
using Request = CRecordingSession::Request;

void Notify(QWidget* view, UINT code, CRef<CObject> object = nullptr) {
    CViewUpdateEvent event(code, std::move(object));
    QCoreApplication::sendEvent(view, &event);
}

CRef<CObject> Record(CObject* object, std::string parent = {}) {
    return CRef<CObject>::Adopt(new CWHTreeItem(CRef<CObject>::Adopt(object), std::move(parent)));
}

QStringList Labels(const QTreeWidget& tree, QTreeWidgetItem* parent = nullptr) {
    QStringList labels;
    int count = parent ? parent->childCount() : tree.topLevelItemCount();
    for (int n = 0; n < count; ++n)
        labels << (parent ? parent->child(n) : tree.topLevelItem(n))->text(0);
    return labels;
}

QTreeWidgetItem* Find(const QTreeWidget& tree, const char* label) {
    QList<QTreeWidgetItem*> found = tree.findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

class Views : public testing::Test {
protected:
    void SetUp() override { ConsoleImages::LoadImageList(nullptr); }
    void TearDown() override {
        SetChildDialogAnswerer({});
        EmptyConfiguration(theConfiguration);
    }
    // A location of the copy, with its record sent as code 52.
    CLocation* AddLocation(const char* pattern) {
        auto* location = new CLocation(pattern, "Guest");
        theConfiguration.GetLocations().AddLocation(location);
        Notify(&config, 52, CRef<CObject>::Adopt(new CWHTreeItem(CRef<CObject>(location), "")));
        return location;
    }
    CRef<CService> Service(const char* name) {
        auto service = CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject("CWWWService")));
        service->SetName(name);
        return service;
    }

    CRecordingSession session;
    CWardenhallView config;
    CActivityView activity;
};

TEST_F(Views, ConfigurationChangeCodesBuildTheTreeInTheOrderListsComplete) {
    // A location before its root node goes to the root.
    CLocation* early = AddLocation("10.0.0.*");
    for (UINT code : {20u, 50u, 30u, 40u, 60u, 130u})
        Notify(&config, code);
    EXPECT_EQ(Labels(config), QStringList({"10.0.0.*", "Users", "Groups", "Locations", "Services", "Policies",
                                           "Dialing", "Caching"}));
    EXPECT_EQ(Labels(config, config.NodeItem(CWardenhallView::kPolicies)),
              QStringList({"Default Policies", "System Rights"}));
    const std::pair<CWardenhallView::Node, int> images[] = {
        {CWardenhallView::kUsers, 1},    {CWardenhallView::kGroups, 4},   {CWardenhallView::kLocations, 0},
        {CWardenhallView::kServices, 10}, {CWardenhallView::kPolicies, 5}, {CWardenhallView::kSystemRights, 5},
        {CWardenhallView::kDialing, 7},  {CWardenhallView::kCaching, 16}};
    for (auto [node, image] : images)
        EXPECT_EQ(CWHTreeView::ImageOf(config.NodeItem(node)), image) << node;
    EXPECT_TRUE(config.IsDialerFetched() && config.IsCacheFetched());

    Notify(&config, 22, Record(new CUser("alice", "", "", "")));
    Notify(&config, 25, Record(new CGroup("Ops", "")));
    CRef<CService> web = Service("Web Proxy");
    Notify(&config, 32, CRef<CObject>::Adopt(new CWHTreeItem(web, "")));
    AddLocation("192.168.1.*");
    AddLocation("192.168.2.*");
    EXPECT_EQ(Labels(config, config.NodeItem(CWardenhallView::kUsers)), QStringList{"alice"});
    EXPECT_EQ(Labels(config, config.NodeItem(CWardenhallView::kGroups)), QStringList{"Ops"});
    QTreeWidgetItem* service = Find(config, "Web Proxy");
    for (auto [state, image] : {std::pair{1, 10}, {2, 12}, {0, 11}}) {
        web->SetRunState(state);
        Notify(&config, 35, web);
        EXPECT_EQ(CWHTreeView::ImageOf(service), image) << state;
    }
    web->SetName("Proxy");
    Notify(&config, 34, web);
    EXPECT_EQ(service->text(0), "Proxy");

    // Moves: the last location cannot go down, the first cannot go up.
    QTreeWidgetItem* locations = config.NodeItem(CWardenhallView::kLocations);
    CLocation* second = theConfiguration.GetLocations().FindLocation("192.168.2.*");
    Notify(&config, 56, CRef<CObject>(second));
    Notify(&config, 55, CRef<CObject>(second));
    EXPECT_EQ(Labels(config, locations), QStringList({"192.168.2.*", "192.168.1.*"}));
    Notify(&config, 55, CRef<CObject>(second));
    EXPECT_EQ(Labels(config, locations), QStringList({"192.168.2.*", "192.168.1.*"}));

    // Removals drop only the item; an object without an item changes nothing.
    std::size_t records = config.RecordCount();
    Notify(&config, 33, web);
    Notify(&config, 53, CRef<CObject>(early));
    Notify(&config, 54, CRef<CObject>::Adopt(new CLocation("never shown", "")));
    EXPECT_EQ(config.RecordCount(), records - 2);
    EXPECT_EQ(Find(config, "Proxy"), nullptr);
    EXPECT_EQ(web->GetName(), "Proxy");
    EXPECT_EQ(Labels(config).front(), "Users");

    Notify(&config, 4);
    EXPECT_EQ(config.topLevelItemCount(), 0);
    EXPECT_EQ(config.RecordCount(), 0u);
    EXPECT_FALSE(config.IsDialerFetched() || config.IsCacheFetched());
}

TEST_F(Views, CodeZeroShowsObjectsTheCopyGainedOffline) {
    Notify(&config, 20);
    theConfiguration.GetUserDatabase().AddEntry(new CUser("bob", "", "", ""));
    theConfiguration.GetLocations().AddLocation(new CLocation("10.1.1.*", "bob"));
    Notify(&config, 0);
    EXPECT_EQ(Labels(config, config.NodeItem(CWardenhallView::kUsers)), QStringList{"bob"});
    EXPECT_NE(Find(config, "10.1.1.*"), nullptr) << "at the root while Locations is missing";
    Notify(&config, 0);
    EXPECT_EQ(config.RecordCount(), 2u) << "objects that have items get none more";
}

TEST_F(Views, ConfigurationCommandsQueueTheirRequestsOnlyWhenTheyApply) {
    for (UINT code : {20u, 50u, 30u})
        Notify(&config, code);
    Notify(&config, 22, Record(new CUser("alice", "", "", "")));
    AddLocation("10.0.0.*");
    AddLocation("10.0.1.*");
    Notify(&config, 32, CRef<CObject>::Adopt(new CWHTreeItem(Service("Web"), "")));
    auto select = [&](const char* label) { config.setCurrentItem(Find(config, label)); };
    auto run = [&](const char* label, int command) {
        select(label);
        config.OnCommand(command);
    };

    session.online = false;
    run("alice", kDelete);
    run("Web", kStartService);
    run("10.0.1.*", kPromoteLocation);
    EXPECT_TRUE(session.requests.empty()) << "off-line";
    session.online = true;
    run("Users", kDelete);
    run("10.0.0.*", kPromoteLocation);
    run("10.0.1.*", kDemoteLocation);
    run("alice", kStartService);
    EXPECT_TRUE(session.requests.empty()) << "fixed node, first location up, last down, not a service";

    run("alice", kDelete);
    run("10.0.0.*", kDelete);
    run("Web", kDelete);
    run("Web", kStartService);
    run("Web", kStopService);
    run("10.0.1.*", kPromoteLocation);
    run("10.0.0.*", kDemoteLocation);
    select("alice");
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(&config, &del);
    const std::vector<Request> expected = {
        {23, "alice", "", "", false}, {53, "10.0.0.*", "", "", false}, {33, "Web", "", "", false},
        {35, "Web", "1", "", false},  {35, "Web", "0", "", false},     {55, "10.0.1.*", "", "", false},
        {56, "10.0.0.*", "", "", false}, {23, "alice", "", "", false}};
    EXPECT_EQ(session.requests, expected);
    EXPECT_NE(Find(config, "alice"), nullptr) << "the tree changes only on the echo";

    // A location's Properties opens the Location dialog on it.
    std::string opened;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        opened = ControlText(&dialog, kLocationPattern).toStdString();
        return int(QDialog::Rejected);
    });
    run("10.0.1.*", kProperties);
    EXPECT_EQ(opened, "10.0.1.*");
}

TEST_F(Views, ContextMenusByKindAndTheMainMenus) {
    Notify(&config, 20);
    Notify(&config, 22, Record(new CUser("alice", "", "", "")));
    EXPECT_EQ(config.ContextMenuOf(Find(config, "Users")), kNewMenu);
    // A right press on a fixed node keeps the selection; on a record it selects.
    config.resize(300, 200);
    config.show();
    config.setCurrentItem(Find(config, "alice"));
    QTest::mousePress(config.viewport(), Qt::RightButton, {},
                      config.visualItemRect(Find(config, "Groups")).center());
    EXPECT_EQ(config.currentItem(), Find(config, "alice"));
    EXPECT_EQ(config.ContextMenuOf(Find(config, "alice")), kUserMenu);
    EXPECT_EQ(CWardenhallView::MenuEntries(kServiceMenu),
              (std::vector<int>{-1, 0, kStartService, kStopService, 0, kDelete, kProperties}));
    EXPECT_EQ(CWardenhallView::MenuEntries(kLocationMenu),
              (std::vector<int>{kNewLocation, 0, kPromoteLocation, kDemoteLocation, 0, kDelete, kProperties}));

    QMenu configuration, activityMenu;
    config.AddCommands(&configuration);
    activity.AddCommands(&activityMenu);
    QStringList entries;
    for (QAction* action : configuration.actions())
        entries << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(entries, QStringList({"&New", "-", "Start service", "Stop service", "-", "Promote location",
                                    "Demote location", "-", "Delete", "Properties"}));
    QStringList news;
    for (QAction* action : configuration.actions().front()->menu()->actions())
        news << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(news.mid(0, 5), QStringList({"User", "Group", "Location", "-", "Norvane Remote Control Service"}));
    EXPECT_EQ(news.size(), 15);
    // Without their sheets' openers, New user and a user's Properties stay disabled.
    config.setCurrentItem(Find(config, "alice"));
    EXPECT_FALSE(config.IsCommandEnabled(kNewUser));
    EXPECT_FALSE(config.IsCommandEnabled(kProperties));
    EXPECT_TRUE(config.IsCommandEnabled(kDelete));
    CRef<CUser> edited;
    CConfigurationDialogs dialogs;
    dialogs.userSheet = [&](QWidget*, CRef<CUser> user) { edited = user; };
    CWardenhallView::SetDialogs(dialogs);
    EXPECT_TRUE(config.IsCommandEnabled(kProperties));
    config.OnCommand(kProperties);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->GetName(), "alice");
    CWardenhallView::SetDialogs({});
}

// Records alerts (the compose dialog) instead of showing them.
class CAlertRecorder : public IAlertPresenter {
public:
    CAlertRecorder() { SetAlertPresenter(this); }
    ~CAlertRecorder() override { SetAlertPresenter(nullptr); }
    void Present(std::unique_ptr<CAlertThread> alert) override { alerts.push_back(std::move(alert)); }
    std::vector<std::unique_ptr<CAlertThread>> alerts;
};

TEST_F(Views, ActivityCodesSessionsAndTheirCommands) {
    auto machine = CRef<CMachine>::Adopt(new CMachine("127.0.0.1"));
    machine->SetUserName("Administrator");
    machine->StoreLogonState(2);
    auto other = CRef<CMachine>::Adopt(new CMachine("10.0.0.9"));
    other->SetUserName("Guest");
    other->StoreLogonState(1);
    auto session = [](CMachine& on, DWORD id, const char* description) {
        auto made = CRef<CSession>::Adopt(new CSession);
        made->SetDescription(description);
        on.AddSessionRecord(*made, id);
        return made;
    };
    Notify(&activity, 71, CRef<CObject>::Adopt(new CWHTreeItem(machine, "")));
    // A session described like an address goes under the machine, never under that session.
    CRef<CSession> web = session(*machine, 7, "10.0.0.9");
    Notify(&activity, 74, CRef<CObject>::Adopt(new CWHTreeItem(web, "127.0.0.1")));
    Notify(&activity, 71, CRef<CObject>::Adopt(new CWHTreeItem(other, "")));
    CRef<CSession> guest = session(*other, 9, "POP3 session");
    Notify(&activity, 74, CRef<CObject>::Adopt(new CWHTreeItem(guest, "10.0.0.9")));
    // A session of a machine the view does not show changes nothing.
    auto unknown = CRef<CMachine>::Adopt(new CMachine("10.9.9.9"));
    Notify(&activity, 74, CRef<CObject>::Adopt(new CWHTreeItem(session(*unknown, 1, "x"), "10.9.9.9")));
    EXPECT_EQ(Labels(activity), QStringList({"127.0.0.1", "10.0.0.9"}));
    QTreeWidgetItem* top = activity.topLevelItem(0);
    EXPECT_EQ(Labels(activity, top), QStringList({"Administrator (Authenticated)", "10.0.0.9"}));
    EXPECT_EQ(CWHTreeView::ImageOf(top->child(0)), 1);
    EXPECT_EQ(activity.topLevelItem(1)->child(0)->text(0), "Guest (Assumed)");
    EXPECT_EQ(CWHTreeView::ImageOf(activity.topLevelItem(1)->child(1)), 18);

    QTreeWidgetItem* item = top->child(1);
    const struct {
        const char* description;
        const char* label;
        int image;
    } changes[] = {{"handover", "SOCKS -> HTTP", 15}, {"GET http://example.com/", "GET http://example.com/", 14},
                   {"cached", "GET http://example.com/", 16}};
    for (const auto& change : changes) {
        web->SetDescription(change.description);
        Notify(&activity, 75, web);
        EXPECT_EQ(item->text(0), change.label);
        EXPECT_EQ(CWHTreeView::ImageOf(item), change.image) << change.description;
    }
    machine->StoreLogonState(0);
    Notify(&activity, 72, machine);
    EXPECT_EQ(top->child(0)->text(0), "Administrator (Unknown user)");
    EXPECT_EQ(CWHTreeView::ImageOf(top->child(0)), 3);
    machine->StoreLogonState(2);
    Notify(&activity, 72, machine);

    // Menu 139 and the commands.
    auto entries = activity.ContextMenuFor(top);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].text, "Terminate all sessions on 127.0.0.1");
    EXPECT_EQ(entries[2].text, "Send Message to Administrator");
    EXPECT_TRUE(entries[2].enabled);
    EXPECT_EQ(activity.ContextMenuFor(item)[0].text, "Terminate session");
    EXPECT_FALSE(activity.ContextMenuFor(activity.topLevelItem(1))[2].enabled) << "assumed user";
    EXPECT_TRUE(activity.ContextMenuFor(nullptr).empty());

    activity.OnTerminate();  // nothing selected
    this->session.online = false;
    activity.setCurrentItem(top);
    activity.OnTerminate();
    EXPECT_TRUE(this->session.requests.empty());
    this->session.online = true;
    activity.OnTerminate();
    activity.setCurrentItem(item);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(&activity, &del);
    EXPECT_EQ(this->session.requests,
              (std::vector<Request>{{73, "127.0.0.1", "", "", false}, {76, "127.0.0.1", "7", "", false}}));

    CAlertRecorder recorder;
    activity.OnSendMessage();
    activity.setCurrentItem(activity.topLevelItem(1));
    activity.OnSendMessage();  // greyed: only assumed
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0]->mode, CAlertThread::kComposeMessage);
    EXPECT_EQ(recorder.alerts[0]->title, "Message to Administrator on 127.0.0.1");
    EXPECT_EQ(recorder.alerts[0]->address, "127.0.0.1");

    // The engine ends a machine with 73 alone: its sessions' records go with it.
    Notify(&activity, 73, machine);
    EXPECT_EQ(activity.RecordCount(), 2u);
    Notify(&activity, 75, web);  // its session is no longer shown
    Notify(&activity, 76, guest);
    EXPECT_EQ(activity.RecordCount(), 1u);
    Notify(&activity, 4);
    EXPECT_EQ(activity.topLevelItemCount(), 0);
    // Sessions and their machines hold each other until the machine lets its sessions go.
    for (CMachine* held : {machine.Get(), other.Get(), unknown.Get()})
        held->DeleteAllSessions();
}

// The Location dialog: opened on `location` (null: new), filled with pattern and user, OK.
struct LocationCase {
    const char* existing;  // the location edited, or null
    const char* pattern;
    const char* user;
    bool accepted;
};

TEST_F(Views, LocationDialogAddsEditsAndRefusesDuplicates) {
    theConfiguration.GetUserDatabase().AddEntry(new CUser("zoe", "", "", ""));
    theConfiguration.GetUserDatabase().AddEntry(new CUser("adam", "", "", ""));
    theConfiguration.GetUserDatabase().AddEntry(new CGroup("Ops", ""));
    theConfiguration.GetLocations().AddLocation(new CLocation("192.168.1.*", "adam"));
    theConfiguration.GetLocations().AddLocation(new CLocation("10.0.0.*", "zoe"));
    CBoxRecorder boxes;
    auto open = [&](const LocationCase& row) {
        CRef<CLocation> location(row.existing ? theConfiguration.GetLocations().FindLocation(row.existing) : nullptr);
        CLocationDlg dialog(location);
        EXPECT_EQ(dialog.windowTitle(), "Location");
        SetControlText(&dialog, kLocationPattern, row.pattern);
        qobject_cast<QComboBox*>(FindControl(&dialog, kLocationUser))->setEditText(row.user);
        ClickControl(&dialog, kOk);
        EXPECT_EQ(dialog.result() == QDialog::Accepted, row.accepted) << row.pattern;
    };
    {
        CLocationDlg dialog(CRef<CLocation>(theConfiguration.GetLocations().FindLocation("10.0.0.*")));
        auto* combo = qobject_cast<QComboBox*>(FindControl(&dialog, kLocationUser));
        EXPECT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->itemText(0), "adam");
        EXPECT_EQ(combo->currentText(), "zoe");
        EXPECT_EQ(ControlText(&dialog, kLocationPattern), "10.0.0.*");
        SetControlText(&dialog, kLocationPattern, "changed");
        ClickControl(&dialog, kCancel);
        EXPECT_NE(theConfiguration.GetLocations().FindLocation("10.0.0.*"), nullptr) << "Cancel changes nothing";
    }

    const LocationCase online[] = {
        {"10.0.0.*", "10.0.0.*", "zoe", true},         // unchanged: still queued
        {"10.0.0.*", "192.168.1.*", "zoe", false},     // another location's pattern
        {nullptr, "192.168.1.*", "adam", false},       // exists exactly
        {nullptr, "192.168.001.*", "visitor", true},   // another text, a typed user
        {nullptr, "", "adam", true},                   // no check
    };
    for (const LocationCase& row : online)
        open(row);
    ASSERT_EQ(session.requests.size(), 3u);
    EXPECT_EQ(session.requests[0], (Request{54, "10.0.0.*", "10.0.0.*", "", false}));
    EXPECT_EQ(session.requests[1], (Request{52, "192.168.001.*", "", "", true}));
    EXPECT_EQ(session.requests[2], (Request{52, "", "", "", true}));
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[0].text, "This location already exists");
    EXPECT_EQ(theConfiguration.GetLocations().GetSize(), 2u) << "new ones come with the echo";

    session.online = false;
    open({nullptr, "192.168.001.*", "visitor", true});
    open({"10.0.0.*", "10.0.*.*", "guest", true});
    CScopedLock lock(theConfiguration.GetLocations());
    CLocation* added = theConfiguration.GetLocations().FindLocation("192.168.001.*");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->GetUsername(), "visitor");
    ASSERT_NE(theConfiguration.GetLocations().FindLocation("10.0.*.*"), nullptr);
    EXPECT_EQ(theConfiguration.GetLocations().FindLocation("10.0.*.*")->GetUsername(), "guest");
    EXPECT_EQ(session.requests.size(), 3u);
}

}  // namespace
