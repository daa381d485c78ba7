// The rights editor that the policy pages share: rows and pictures, Remove of the selected row's
// own recipient, Add through the recipient sheet, and working copies until Store.

#include "console/ChildDialog.h"
#include "console/ConsoleImages.h"
#include "console/RequestFilterTree.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/ScopedLock.h"
#include "tests/console/ConsoleTestKit.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

TEST(PolicyKit, RemoveTakesTheSelectedRowsOwnRecipientAndAddGoesThroughTheSheet) {
    ASSERT_TRUE(ConsoleImages::LoadImageList(nullptr));
    CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
    {
        CScopedLock lock(database);
        database.AddEntry(new CUser("alice", "Alice A", "pw", ""));
        database.AddEntry(new CGroup("Staff", "the staff"));
    }
    CRight right;
    right.AddRecipientFor("alice");
    right.AddRecipient(new CRecipient);
    auto* limited = new CRecipient;  // a second "Everyone", restricted
    limited->SetMinimumSecurityLevel(2);
    right.AddRecipient(limited);

    CRightsEditor editor(false, false, 7);
    editor.AddRight(&right);
    editor.Select(0);
    QTreeWidget* list = editor.Recipients();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    ASSERT_NE(ConsoleImages::Image(1).cacheKey(), ConsoleImages::Image(4).cacheKey());
    EXPECT_EQ(list->topLevelItem(0)->icon(0).cacheKey(), ConsoleImages::Image(1).cacheKey());  // a user
    EXPECT_EQ(list->topLevelItem(1)->icon(0).cacheKey(), ConsoleImages::Image(4).cacheKey());  // everyone
    EXPECT_EQ(list->topLevelItem(2)->text(1), "Restricted by security level");
    list->topLevelItem(2)->setSelected(true);
    ClickControl(&editor, 1099);

    SetChildDialogAnswerer([](QDialog& dialog) {
        auto& sheet = dynamic_cast<CEditRecipientSheet&>(dialog);
        sheet.show();
        EXPECT_EQ(sheet.m_requestPage.Tree()->GetServiceKind(), 7);
        ClickControl(&sheet.m_userPage, 1106);
        sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);  // Staff
        sheet.accept();
        return sheet.result();
    });
    ClickControl(&editor, 1098);
    SetChildDialogAnswerer({});
    EXPECT_TRUE(editor.IsChanged());
    EXPECT_EQ(UserDialogKit::RowNames(list), (std::vector<std::string>{"alice", "Everyone", "Staff"}));
    {  // Nothing live before Store.
        CScopedLock lock(right);
        EXPECT_EQ(static_cast<CRecipient*>(right.GetRecipients().GetTail())->GetMinimumSecurityLevel(), 2u);
    }
    editor.Store();
    {
        CScopedLock lock(right);
        EXPECT_EQ(static_cast<CRecipient*>(*std::next(right.GetRecipients().begin()))->GetMinimumSecurityLevel(), 0u);
        EXPECT_EQ(static_cast<CRecipient*>(right.GetRecipients().GetTail())->GetUserName(), "Staff");
    }
    EmptyConfiguration(theConfiguration);
}

}  // namespace
