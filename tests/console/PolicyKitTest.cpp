// The pieces the policy pages share: the user/group chooser, the pattern lists and the rights
// editor with its working copies.

#include "console/ChildDialog.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/RequestFilterTree.h"
#include "console/DataExchange.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/ScopedLock.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QListWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const CRight& right) {
    std::vector<std::string> names;
    CScopedLock lock(right);
    for (CObject* element : right.GetRecipients())
        names.push_back(static_cast<CRecipient*>(element)->GetUserName());
    return names;
}

std::vector<QString> Items(const QListWidget* list) {
    std::vector<QString> items;
    for (int row = 0; row < list->count(); ++row)
        items.push_back(list->item(row)->text());
    return items;
}

CRight* MakeRight(DWORD kind, const char* description, std::initializer_list<const char*> recipients) {
    auto* right = new CRight;
    right->SetRightType(kind);
    right->SetDescription(description);
    right->SetIncludeDefaultRights(0);
    for (const char* name : recipients)
        right->AddRecipientFor(name);
    return right;
}

class PolicyKit : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConsoleImages::LoadImageList(nullptr));
        CScopedLock lock(database);
        database.AddEntry(new CUser("zoe", "Zoe Z", "pw", "last user"));
        database.AddEntry(new CUser("alice", "Alice A", "pw", "first user"));
        database.AddEntry(new CGroup("Staff", "the staff"));
    }
    void TearDown() override {
        SetChildDialogAnswerer({});
        EmptyConfiguration(theConfiguration);
    }
    CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
    CRecordingSession session;
    CBoxRecorder boxes;
};

TEST_F(PolicyKit, ChooserListsEntriesSortedWithTheirPicturesAndTheEditFollowsTheSelection) {
    CUserGroupChooser chooser(1105, "Everyone", 1106, "Specify user or group");
    chooser.Fill(database);
    EXPECT_EQ(UserDialogKit::RowNames(chooser.List()), (std::vector<std::string>{"alice", "Staff", "zoe"}));
    EXPECT_EQ(chooser.List()->topLevelItem(1)->text(1), "the staff");
    EXPECT_EQ(ControlText(&chooser, 1099), "User / Group|Description");
    EXPECT_EQ(chooser.List()->columnWidth(0), 90);
    EXPECT_EQ(chooser.List()->columnWidth(1), 170);

    // Loading a flag other than 0 and 1 shows the second radio; the list follows the radios.
    int specify = 7;
    std::string name = "Staff";
    UpdateData(&chooser, FALSE, [&](CDataExchange& dx) { chooser.Exchange(dx, specify, name); });
    chooser.UpdateControls();
    EXPECT_TRUE(chooser.IsSpecifying());
    EXPECT_TRUE(chooser.List()->isEnabled());
    chooser.List()->topLevelItem(2)->setSelected(true);
    EXPECT_EQ(ControlText(&chooser, 1000), "zoe");
    ClickControl(&chooser, 1105);
    EXPECT_FALSE(chooser.List()->isEnabled());
    UpdateData(&chooser, TRUE, [&](CDataExchange& dx) { chooser.Exchange(dx, specify, name); });
    EXPECT_EQ(specify, 0);
    EXPECT_EQ(name, "zoe");

    // Locked: the identity controls stay disabled whatever is clicked.
    chooser.SetIdentityLocked(true);
    ClickControl(&chooser, 1106);
    for (int id : {1105, 1106, 1099})
        EXPECT_FALSE(FindControl(&chooser, id)->isEnabled()) << id;
}

TEST_F(PolicyKit, PatternListsSortTheirTextsAndRemovePutsTheTextBackIntoItsEdit) {
    CPatternLists lists(1111, "everywhere", 1110, "specified");
    int changes = 0;
    QObject::connect(&lists, &CPatternLists::Changed, [&] { ++changes; });
    lists.Load({"192.168.*", "10.*", "127.0.0.1"}, {"10.0.0.9"});
    auto* included = static_cast<QListWidget*>(FindControl(&lists, 1112));
    EXPECT_EQ(Items(included), (std::vector<QString>{"10.*", "127.0.0.1", "192.168.*"}));

    SetControlText(&lists, 1113, "");
    ClickControl(&lists, 1114);  // an empty edit adds nothing
    SetControlText(&lists, 1117, "10.0.0.1");
    ClickControl(&lists, 1118);
    EXPECT_EQ(lists.Excluded(), (AddressPatternList{"10.0.0.1", "10.0.0.9"}));
    EXPECT_EQ(ControlText(&lists, 1117), "");
    ClickControl(&lists, 1115);  // nothing selected: nothing happens
    EXPECT_EQ(changes, 1);

    included->setCurrentRow(2);
    ClickControl(&lists, 1115);
    EXPECT_EQ(ControlText(&lists, 1113), "192.168.*");
    EXPECT_EQ(lists.Included(), (AddressPatternList{"10.*", "127.0.0.1"}));
    EXPECT_EQ(changes, 2);

    ClickControl(&lists, 1111);
    for (int id = 1112; id <= 1119; ++id)
        EXPECT_FALSE(FindControl(&lists, id)->isEnabled()) << id;
    ClickControl(&lists, 1110);
    for (int id = 1112; id <= 1119; ++id)
        EXPECT_TRUE(FindControl(&lists, id)->isEnabled()) << id;
    EXPECT_EQ(changes, 4);
}

TEST_F(PolicyKit, RightsEditorEditsWorkingCopiesUntilStoreAndShowsEachRecipient) {
    std::unique_ptr<CRight> start(MakeRight(1, "Users can start/stop this service", {"Staff"}));
    std::unique_ptr<CRight> access(MakeRight(0, "Users can access this service", {"alice", "Everyone"}));
    std::unique_ptr<CRight> modify(MakeRight(2, "Users can modify this service", {}));
    access->SetIncludeDefaultRights(1);

    CRightsEditor sorted(true, true, 3);
    CRightsEditor added(false, false, 0);
    for (CRight* right : {access.get(), start.get(), modify.get()}) {
        sorted.AddRight(right);
        added.AddRight(right);
    }
    auto texts = [](const CRightsEditor& editor) {
        std::vector<std::string> texts;
        for (int index = 0; index < editor.Count(); ++index)
            texts.push_back(editor.Rights()->itemText(index).toStdString());
        return texts;
    };
    EXPECT_EQ(texts(sorted), (std::vector<std::string>{"Users can access this service", "Users can modify this service",
                                                       "Users can start/stop this service"}));
    EXPECT_EQ(texts(added), (std::vector<std::string>{"Users can access this service", "Users can start/stop this service",
                                                      "Users can modify this service"}));
    EXPECT_EQ(FindControl(&added, 1164), nullptr);

    sorted.Select(0);
    QTreeWidget* list = sorted.Recipients();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(ControlText(&sorted, 1043), "Recipient|Rights");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "Unrestricted Rights");
    // A user's row has picture 1, a group's or everyone's picture 4.
    ASSERT_NE(ConsoleImages::Image(1).cacheKey(), ConsoleImages::Image(4).cacheKey());
    EXPECT_EQ(list->topLevelItem(0)->icon(0).cacheKey(), ConsoleImages::Image(1).cacheKey());
    EXPECT_EQ(list->topLevelItem(1)->icon(0).cacheKey(), ConsoleImages::Image(4).cacheKey());
    EXPECT_TRUE(static_cast<QAbstractButton*>(FindControl(&sorted, 1164))->isChecked());

    ClickControl(&sorted, 1164);
    list->topLevelItem(0)->setSelected(true);
    ClickControl(&sorted, 1099);
    EXPECT_TRUE(sorted.IsChanged());
    EXPECT_EQ(Names(*sorted.CopyAt(0)), std::vector<std::string>{"Everyone"});
    EXPECT_EQ(Names(*access), (std::vector<std::string>{"alice", "Everyone"}));
    EXPECT_EQ(access->GetIncludeDefaultRights(), 1u);

    // Only copies without recipients are questioned, and with IncludeDefaultRights only when asked.
    boxes.Answer(IDYES);
    EXPECT_TRUE(sorted.ConfirmEmptyRights(true));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoRecipients);
    EXPECT_EQ(boxes.calls[0].title, "Users can modify this service");
    EXPECT_EQ(boxes.calls[0].flags, MB::kSheetQuestion);

    sorted.Store();
    EXPECT_EQ(Names(*access), std::vector<std::string>{"Everyone"});
    EXPECT_EQ(access->GetIncludeDefaultRights(), 0u);
    // The copies stay usable after a store.
    EXPECT_EQ(Names(*sorted.CopyAt(0)), std::vector<std::string>{"Everyone"});
}

TEST_F(PolicyKit, RemoveTakesTheSelectedRowsOwnRecipientOfTwoWithOneName) {
    std::unique_ptr<CRight> right(MakeRight(5, "Users can monitor activity on this server", {}));
    auto* open = new CRecipient;
    auto* limited = new CRecipient;
    limited->SetMinimumSecurityLevel(2);
    right->AddRecipient(open);
    right->AddRecipient(limited);

    CRightsEditor editor(false, false, 0);
    editor.AddRight(right.get());
    editor.Select(0);
    QTreeWidget* list = editor.Recipients();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(1), "Restricted by security level");
    list->topLevelItem(1)->setSelected(true);
    editor.RemoveRecipient();
    editor.Store();
    CScopedLock lock(*right);
    ASSERT_EQ(right->GetRecipients().GetCount(), 1u);
    EXPECT_EQ(static_cast<CRecipient*>(right->GetRecipients().GetHead())->GetMinimumSecurityLevel(), 0u);
}

TEST_F(PolicyKit, AddAndEditGoThroughTheRecipientSheetWithTheRightsKind) {
    std::unique_ptr<CRight> right(MakeRight(0, "Users can access this service", {}));
    CRightsEditor editor(false, false, 7);
    editor.AddRight(right.get());
    editor.Select(0);
    int sheets = 0;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        auto& sheet = dynamic_cast<CEditRecipientSheet&>(dialog);
        sheet.show();
        ++sheets;
        EXPECT_EQ(sheet.TabSheet().GetPageCount(), 4);  // kind 0: with Request
        EXPECT_EQ(sheet.m_requestPage.Tree()->GetServiceKind(), 7);
        if (!sheet.IsExisting()) {
            ClickControl(&sheet.m_userPage, 1106);
            sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);  // Staff
        } else {
            ClickControl(&sheet.m_userPage, 1109);
        }
        sheet.accept();
        return sheet.result();
    });
    ClickControl(&editor, 1098);
    ASSERT_EQ(editor.Recipients()->topLevelItemCount(), 1);
    EXPECT_EQ(editor.Recipients()->topLevelItem(0)->text(0), "Staff");
    editor.Recipients()->topLevelItem(0)->setSelected(true);
    editor.EditRecipient();
    EXPECT_EQ(sheets, 2);
    EXPECT_EQ(editor.Recipients()->topLevelItem(0)->text(1), "Restricted by security level");
    EXPECT_TRUE(Names(*right).empty());  // nothing live before Store
}

}  // namespace
