// The user property sheet and the group dialogs over the console's copy of the user database:
// what OK queues on-line and does off-line, the Groups page's default group and moves, the User
// Info page's rules and confirm flow, the name refusals, the accounting figures, the audit bits,
// the live refresh, and the group dialogs' lists.

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleTexts.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/ConfirmPasswordDlg.h"
#include "console/dialogs/GroupDlg.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/WardenhallView.h"
#include "console/dialogs/UserSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "console/session/WHTreeItem.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/ScopedLock.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using Request = CRecordingSession::Request;

// Records the notices the configuration view receives.
class CViewRecorder : public QWidget {
public:
    bool event(QEvent* event) override {
        if (event->type() != CViewUpdateEvent::Type())
            return QWidget::event(event);
        auto* update = static_cast<CViewUpdateEvent*>(event);
        auto* record = dynamic_cast<CWHTreeItem*>(update->Object().Get());
        notices.push_back({update->Code(), record ? record->text : ""});
        return true;
    }
    std::vector<std::pair<UINT, std::string>> notices;
};

class UserSheet : public testing::Test {
protected:
    void SetUp() override {
        alice = Add(new CUser("alice", "Alice A", "secret", "first"));
        Add(new CUser("carol", "Carol C", "pw", ""));
        users = Add(new CGroup("Users", "everyone"));
        staff = Add(new CGroup("Staff", "the staff"));
        users->AddMember(*alice);
        theApp.m_configurationView = &view;
    }
    void TearDown() override {
        SetChildDialogAnswerer({});
        EmptyConfiguration(theConfiguration);
    }
    template <class Entry>
    Entry* Add(Entry* entry) {
        CScopedLock lock(database);
        EXPECT_TRUE(database.AddEntry(entry));
        return entry;
    }
    static QTreeWidgetItem* Row(QTreeWidget* list, const char* name) {
        QList<QTreeWidgetItem*> rows = list->findItems(name, Qt::MatchExactly);
        return rows.isEmpty() ? nullptr : rows.front();
    }
    static void DoubleClick(QTreeWidget* list, QTreeWidgetItem* row) {
        QPoint where = row ? list->visualItemRect(row).center() : QPoint(5, list->viewport()->height() - 5);
        if (row)
            list->setCurrentItem(row);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, where);
    }
    static bool Enabled(QWidget* page, int id) { return FindControl(page, id)->isEnabled(); }
    static void Check(QWidget* page, int id, bool on) {
        auto* box = qobject_cast<QAbstractButton*>(FindControl(page, id));
        box->setChecked(on);
        emit box->clicked(on);
    }

    CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
    CRecordingSession session;
    CBoxRecorder boxes;
    CViewRecorder view;
    CUser* alice = nullptr;
    CGroup* users = nullptr;
    CGroup* staff = nullptr;
};

TEST_F(UserSheet, OkQueuesTheUserAndEveryChangedGroupOnlineAndAddsAtOnceOffline) {
    {  // A new user, on-line: 22 with the object, joining "Users" by default (by name).
        CEditUserSheet sheet(nullptr);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), ConsoleTexts::kNewUserSheetCaption);
        EXPECT_EQ(UserDialogKit::RowNames(sheet.m_groupsPage.MemberList()), std::vector<std::string>{"Users"});
        EXPECT_EQ(UserDialogKit::RowNames(sheet.m_groupsPage.OtherList()), std::vector<std::string>{"Staff"});
        SetControlText(&sheet, 1021, "bob");
        for (int id : {1020, 1008})
            SetControlText(&sheet.m_infoPage, id, "bobpw");
        sheet.accept();
        EXPECT_EQ(session.requests, (std::vector<Request>{{22, "bob", "", "", true}, {27, "Users", "", "", false}}));
        EXPECT_TRUE(users->HasMember("bob"));
        EXPECT_EQ(database.FindEntry("bob"), nullptr);  // it comes with the engine's echo
    }
    {  // An existing user: 24, then 27 for each group moved (an empty double-click changes nothing).
        session.requests.clear();
        CEditUserSheet sheet(alice);
        sheet.show();
        sheet.TabSheet().SetActivePage(1);
        EXPECT_EQ(sheet.windowTitle(), "Properties for user alice");
        EXPECT_FALSE(Enabled(&sheet.m_infoPage, 1021));
        QTreeWidget* others = sheet.m_groupsPage.OtherList();
        DoubleClick(others, Row(others, "Staff"));
        DoubleClick(sheet.m_groupsPage.MemberList(), Row(sheet.m_groupsPage.MemberList(), "Users"));
        sheet.accept();
        EXPECT_EQ(session.requests, (std::vector<Request>{{24, "alice", "", "", false},
                                                          {27, "Staff", "", "", false},
                                                          {27, "Users", "", "", false}}));
        CScopedLock lock(database);
        EXPECT_TRUE(staff->ContainsUser("alice"));
        EXPECT_FALSE(users->ContainsUser("alice"));
    }
    {  // An empty double-click marks the page changed; off-line a new user joins at once.
        session.requests.clear();
        session.online = false;
        CEditUserSheet sheet(nullptr);
        sheet.show();
        sheet.TabSheet().SetActivePage(1);
        sheet.m_groupsPage.m_changed = 0;
        DoubleClick(sheet.m_groupsPage.OtherList(), nullptr);
        EXPECT_EQ(sheet.m_groupsPage.m_changed, 1);
        SetControlText(&sheet, 1021, "dave");
        sheet.accept();
        EXPECT_TRUE(session.requests.empty());
        CScopedLock lock(database);
        ASSERT_NE(database.FindUserAccount("dave"), nullptr);
        EXPECT_TRUE(users->ContainsUser("dave"));
    }
    ASSERT_TRUE(ProcessUntil([&] { return !view.notices.empty(); }));
    EXPECT_EQ(view.notices, (std::vector<std::pair<UINT, std::string>>{{0, "dave"}}));
}

TEST_F(UserSheet, UserInfoRulesTheConfirmFlowAndTheNameRefusals) {
    CEditUserSheet sheet(alice);
    sheet.show();
    CUserInfoPage& info = sheet.m_infoPage;
    Check(&info, 1016, true);
    EXPECT_FALSE(Enabled(&info, 1015));
    Check(&info, 1016, false);
    Check(&info, 1015, true);
    EXPECT_FALSE(Enabled(&info, 1016));

    // Different entries: Confirm Password opens before any page stores; Cancel refuses.
    SetControlText(&info, 1020, "typed");
    SetControlText(&info, 1008, "other");
    SetControlText(&info, 1025, "Changed");
    int confirms = 0;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        ++confirms;
        EXPECT_EQ(ControlText(&dialog, 1001), "typed");
        EXPECT_EQ(alice->GetRealName(), "Alice A");
        if (confirms == 1)
            return int(QDialog::Rejected);
        SetControlText(&dialog, 1024, "typed");
        dialog.accept();
        return dialog.result();
    });
    sheet.accept();
    EXPECT_EQ(confirms, 1);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(session.requests.empty());
    EXPECT_EQ(alice->GetPassword(), "secret");
    EXPECT_EQ(theApp.m_userSheetObject.Get(), alice);  // a refused OK keeps the figures live
    sheet.accept();
    EXPECT_EQ(theApp.m_userSheetObject.Get(), nullptr);
    EXPECT_EQ(confirms, 2);
    EXPECT_EQ(ControlText(&info, 1008), "typed");
    EXPECT_EQ(alice->GetPassword(), "typed");
    EXPECT_EQ(alice->GetRealName(), "Changed");
    EXPECT_TRUE(alice->GetUserCannotChangePassword());

    // Names a new user may not take; the same for a new group, with the group's text.
    for (const char* name : {"alice", "ALICE", "Staff", "", "..", "a/b", "a\\b", "a\tb"}) {
        SCOPED_TRACE(name);
        boxes.calls.clear();
        CEditUserSheet newUser(nullptr);
        newUser.show();
        SetControlText(&newUser, 1021, name);
        newUser.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kUserNameTaken);
        EXPECT_EQ(boxes.calls[0].title, ConsoleTexts::kUserNameConflict);
        EXPECT_EQ(boxes.calls[0].flags, MB::kIconStop);
        EXPECT_TRUE(newUser.isVisible());
        CNewGroupDlg group;
        SetControlText(&group, 1035, name);
        group.accept();
        ASSERT_EQ(boxes.calls.size(), 2u);
        EXPECT_EQ(boxes.calls[1].text, ConsoleTexts::kGroupNameTaken);
    }
    EXPECT_EQ(session.requests, (std::vector<Request>{{24, "alice", "", "", false}}));
}

TEST_F(UserSheet, AccountingFiguresResetLiveRefreshAndAuditBitsStoredWhileGreyed) {
    alice->SetAmount(CUser::ClientRecvTrafficRate, *CCurrency::Parse("2.5"));
    alice->SetAmount(CUser::OpeningBalance, *CCurrency::Parse("10"));
    alice->SetCounter(CUser::ClientRecvTraffic, 1048576);
    alice->SetCounter(CUser::TimeOnLine, 77);
    auto figure = [](QWidget* page, int id) { return CCurrency::Parse(FromDisplay(ControlText(page, id))); };
    {
        CEditUserSheet sheet(alice);
        sheet.show();
        CUserAccountingPage& page = sheet.m_accountingPage;
        EXPECT_EQ(figure(&page, 1051), CCurrency::Parse("2.5"));
        EXPECT_EQ(figure(&page, 1059), CCurrency::Parse("2.5"));
        EXPECT_EQ(figure(&page, 1062), CCurrency::Parse("7.5"));

        // A notice for the sheet's user reloads the page, dropping what was typed.
        EXPECT_EQ(theApp.m_userSheetObject.Get(), alice);
        SetControlText(&page, 1050, "99");
        alice->SetCounter(CUser::ClientRecvTraffic, 524288);
        theApp.Views().Post(CViewNotice{ViewTargets::kUserSheet, 0, CRef<CObject>(alice)});
        ASSERT_TRUE(ProcessUntil([&] { return ControlText(&page, 1045) == "524288"; }));
        EXPECT_EQ(figure(&page, 1050), CCurrency::Parse("2.5"));
        EXPECT_EQ(figure(&page, 1062), CCurrency::Parse("8.75"));

        ClickControl(&page, 1060);
        EXPECT_EQ(figure(&page, 1059), CCurrency());
        EXPECT_EQ(figure(&page, 1062), CCurrency());
        EXPECT_EQ(ControlText(&page, 1056), "0");
        sheet.reject();
        EXPECT_EQ(theApp.m_userSheetObject.Get(), nullptr);
    }
    EXPECT_EQ(alice->GetCounter(CUser::ClientRecvTraffic), 524288u);
    EXPECT_EQ(alice->GetCounter(CUser::TimeOnLine), 77u);

    CEditUserSheet sheet(alice);
    sheet.show();
    CUserAuditingPage& audit = sheet.m_auditingPage;
    EXPECT_FALSE(Enabled(&audit, 1086));
    Check(&audit, 1085, true);
    EXPECT_TRUE(Enabled(&audit, 1086));
    Check(&audit, 1084, true);
    EXPECT_FALSE(Enabled(&audit, 1086));
    Check(&audit, 1086, true);
    Check(&audit, 1087, true);
    SetControlText(&sheet.m_accountingPage, 1062, "3.25");
    sheet.accept();
    EXPECT_EQ(alice->GetAuditUser(), 0);
    EXPECT_EQ(alice->GetAuditOptions(), 0x110u);
    EXPECT_EQ(alice->GetAmount(CUser::ClosingBalance), CCurrency::Parse("3.25"));
    EXPECT_EQ(alice->GetAmount(CUser::OpeningBalance), CCurrency::Parse("10"));
}

TEST_F(UserSheet, GroupDialogsListSortedUsersMoveThemAndSendTheGroup) {
    Add(new CUser("Bert", "", "", ""));
    CNewGroupDlg created;
    created.show();
    QTreeWidget* members = created.MemberList();
    QTreeWidget* others = created.NonMemberList();
    EXPECT_EQ(UserDialogKit::RowNames(others), (std::vector<std::string>{"Bert", "alice", "carol"}));
    others->setCurrentItem(Row(others, "carol"));
    ClickControl(&created, 4);
    DoubleClick(others, Row(others, "Bert"));
    DoubleClick(others, nullptr);
    EXPECT_EQ(UserDialogKit::RowNames(members), (std::vector<std::string>{"Bert", "carol"}));
    members->setCurrentItem(Row(members, "Bert"));
    ClickControl(&created, 3);
    EXPECT_EQ(UserDialogKit::RowNames(others), (std::vector<std::string>{"Bert", "alice"}));
    SetControlText(&created, 1035, "Ops");
    created.accept();
    EXPECT_EQ(session.requests, (std::vector<Request>{{25, "Ops", "", "", true}}));

    session.requests.clear();
    CEditGroupDlg edited("Users", "everyone");
    edited.show();
    EXPECT_EQ(ControlText(&edited, 1035), "Users");
    EXPECT_EQ(ControlText(&edited, 1036), "everyone");
    EXPECT_EQ(UserDialogKit::RowNames(edited.MemberList()), std::vector<std::string>{"alice"});
    DoubleClick(edited.MemberList(), Row(edited.MemberList(), "alice"));
    DoubleClick(edited.NonMemberList(), Row(edited.NonMemberList(), "carol"));
    SetControlText(&edited, 1036, "all of them");
    edited.accept();
    EXPECT_EQ(session.requests, (std::vector<Request>{{27, "Users", "", "", false}}));
    CScopedLock lock(database);
    EXPECT_EQ(users->GetMembers(), (CGroup::MemberMap{{"carol", 0}}));
    EXPECT_EQ(users->GetDescription(), "all of them");

    // The tree's commands open the dialog of their entry.
    std::vector<std::string> opened;
    SetChildDialogAnswerer([&](QDialog& dialog) { return opened.push_back(dialog.windowTitle().toStdString()), 0; });
    CConfigurationDialogs dialogs;
    AddUserDatabaseDialogs(dialogs);
    dialogs.userSheet(nullptr, nullptr);
    dialogs.groupDialog(nullptr, nullptr);
    dialogs.userSheet(nullptr, CRef<CUser>(alice));
    dialogs.groupDialog(nullptr, CRef<CGroup>(staff));
    EXPECT_EQ(opened, (std::vector<std::string>{"Edit User", "New Group", "Edit User", "Edit Group"}));

    session.online = false;
    CNewGroupDlg offline;
    SetControlText(&offline, 1035, "Night");
    offline.accept();
    ASSERT_NE(database.FindGroup("Night"), nullptr);
    EXPECT_TRUE(session.requests.size() == 1);
}

}  // namespace
