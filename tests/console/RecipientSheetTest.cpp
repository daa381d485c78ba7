// The recipient sheet and the Time Slice dialog: identities, the questions before an unusable
// recipient (both localhost cases), edits in place and Cancel, and slices through the engine's
// own time test.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/RequestFilterTree.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/TimeSliceDlg.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/Right.h"
#include "foundation/ScopedLock.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

bool Enabled(QWidget* page, int id) { return FindControl(page, id)->isEnabled(); }
bool Checked(QWidget* page, int id) { return static_cast<QAbstractButton*>(FindControl(page, id))->isChecked(); }

class RecipientSheet : public testing::Test {
protected:
    void SetUp() override {
        CScopedLock lock(database);
        database.AddEntry(new CUser("alice", "Alice A", "pw", ""));
        database.AddEntry(new CGroup("Staff", "the staff"));
    }
    void TearDown() override {
        SetChildDialogAnswerer({});
        EmptyConfiguration(theConfiguration);
    }
    CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
    CBoxRecorder boxes;
};

TEST_F(RecipientSheet, ANewRecipientTakesItsIdentityAndAnExistingOneKeepsIt) {
    {  // Left on "Everyone": the default name, three tabs for a right of kind 1.
        CEditRecipientSheet sheet(nullptr, FALSE, 0, RightStartStop);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), ConsoleTexts::kNewRecipientSheetCaption);
        EXPECT_EQ(sheet.TabSheet().GetPageCount(), 3);
        ClickControl(&sheet.m_userPage, 1106);
        ClickControl(&sheet.m_userPage, 1105);
        EXPECT_EQ(sheet.m_userPage.m_changed, 0);
        sheet.accept();
        EXPECT_EQ(sheet.TakeNewObject()->GetUserName(), "Everyone");
    }
    {  // "Specify user or group" needs a name from the list.
        CEditRecipientSheet sheet(nullptr, FALSE, 0, RightAccess);
        sheet.show();
        EXPECT_EQ(sheet.TabSheet().GetPageCount(), 4);
        ClickControl(&sheet.m_userPage, 1106);
        sheet.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kSelectUserOrGroup);
        sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);
        ClickControl(&sheet.m_userPage, 1108);
        sheet.accept();
        CRef<CRecipient> made = sheet.TakeNewObject();
        ASSERT_TRUE(made);
        EXPECT_EQ(made->GetUserName(), "Staff");
        EXPECT_EQ(made->GetSpecifyUser(), 1u);
        EXPECT_EQ(made->GetMinimumSecurityLevel(), 1u);
    }
    CRecipient alice("alice");
    alice.SetSpecifyUser(7);  // any flag but 0 shows as the second radio
    CEditRecipientSheet sheet(&alice, TRUE, 0, RightShutdown);
    sheet.show();
    EXPECT_EQ(sheet.windowTitle(), "Properties for recipient alice");
    EXPECT_TRUE(Checked(&sheet.m_userPage, 1106));
    EXPECT_EQ(UserDialogKit::RowNames(sheet.m_userPage.Chooser()->List()), (std::vector<std::string>{"alice", "Staff"}));
    for (int id : {1105, 1106, 1099})
        EXPECT_FALSE(Enabled(&sheet.m_userPage, id)) << id;
    sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);
    ClickControl(&sheet.m_userPage, 1109);
    sheet.accept();
    EXPECT_EQ(alice.GetUserName(), "alice");
    EXPECT_EQ(alice.GetSpecifyUser(), 7u);
    EXPECT_EQ(alice.GetMinimumSecurityLevel(), 2u);
}

TEST_F(RecipientSheet, LocationsAreQuestionedWhenEmptyOrWhenLocalhostIsBannedAndNoStoresNothing) {
    struct Case {
        std::vector<const char*> included, excluded;
        const char* question;  // null: none
    } const cases[] = {
        {{}, {}, ConsoleTexts::kNoLocations},
        {{"192.168.1.*"}, {}, ConsoleTexts::kLocalhostBanned},
        {{"127.0.0.1"}, {"127.*.*.*"}, ConsoleTexts::kLocalhostBanned},
        {{"192.168.1.*", "127.0.0.1"}, {"10.*"}, nullptr},
    };
    for (const Case& test : cases) {
        CRecipient recipient;
        recipient.SetIncludedLocations({"10.1.1.1"});
        CEditRecipientSheet sheet(&recipient, TRUE, 0, RightAccess);
        sheet.show();
        CRecipientLocationPage& page = sheet.m_locationPage;
        EXPECT_FALSE(Enabled(&page, 1113));
        ClickControl(&page, 1110);
        static_cast<QListWidget*>(FindControl(&page, 1112))->setCurrentRow(0);
        ClickControl(&page, 1115);
        EXPECT_EQ(ControlText(&page, 1113), "10.1.1.1");  // Remove puts the text back
        for (auto [patterns, edit] : {std::pair{&test.included, 1113}, {&test.excluded, 1117}})
            for (const char* pattern : *patterns) {
                SetControlText(&page, edit, pattern);
                ClickControl(&page, edit + 1);
            }
        boxes.calls.clear();
        if (test.question != nullptr) {
            boxes.Answer(IDNO);
            sheet.accept();
            ASSERT_EQ(boxes.calls.size(), 1u);
            EXPECT_EQ(boxes.calls[0].text, test.question);
            EXPECT_EQ(boxes.calls[0].flags, MB::kSheetQuestion);
            EXPECT_EQ(recipient.GetSpecifyLocation(), 0u);
            boxes.Answer(IDYES);
        }
        sheet.accept();
        EXPECT_EQ(boxes.calls.size(), test.question ? 2u : 0u);
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
        EXPECT_EQ(recipient.GetIncludedLocations().size(), test.included.size());
    }
    // An unchanged page is not questioned again; the stored lists come out sorted.
    CRecipient recipient;
    recipient.SetSpecifyLocation(1);
    recipient.SetExcludedLocations({"9.*", "10.*"});
    CEditRecipientSheet sheet(&recipient, TRUE, 0, RightAccess);
    sheet.show();
    boxes.calls.clear();
    sheet.accept();
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_EQ(recipient.GetExcludedLocations(), (AddressPatternList{"10.*", "9.*"}));
}

TEST_F(RecipientSheet, SlicesAndFiltersChangeInPlaceAndCancelKeepsThemButFreesANewRecipient) {
    CRecipient recipient;
    {
        CEditRecipientSheet sheet(&recipient, TRUE, 3, RightAccess);
        sheet.show();
        CRecipientTimePage& time = sheet.m_timePage;
        ClickControl(&time, 1121);
        SetChildDialogAnswerer([](QDialog& dialog) { return dialog.accept(), dialog.result(); });
        ClickControl(&time, 1118);  // an exclusion alone leaves the recipient unusable
        EXPECT_EQ(time.ExcludedList()->item(0)->text(), "Every day");
        boxes.Answer(IDNO);
        sheet.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoTimeSlices);
        ClickControl(&time, 1114);
        ClickControl(&time, 1114);
        time.IncludedList()->setCurrentRow(0);
        ClickControl(&time, 1115);

        CRecipientRequestPage& request = sheet.m_requestPage;
        EXPECT_EQ(request.Tree()->GetServiceKind(), 3);
        ClickControl(&request, 1237);  // nothing while "all requests" is chosen
        EXPECT_EQ(request.m_changed, 0);
        ClickControl(&request, 1173);
        ClickControl(&request, 1237);
        ClickControl(&request, 1237);
        request.Tree()->topLevelItem(0)->setSelected(true);
        ClickControl(&request, 1229);
        sheet.reject();
    }
    // Cancel: the slices and filters stay in the recipient, the radios do not.
    EXPECT_EQ(recipient.GetSpecifyTime(), 0u);
    EXPECT_EQ(recipient.GetTimeFilter().GetInclusions().GetCount(), 1u);
    EXPECT_EQ(recipient.GetRequestFilter().GetCount(), 1u);
    CEditRecipientSheet sheet(nullptr, FALSE, 0, RightAccess);
    sheet.show();
    ClickControl(&sheet.m_requestPage, 1173);
    ClickControl(&sheet.m_requestPage, 1237);
    sheet.reject();
    EXPECT_EQ(sheet.GetObject(), nullptr);
}

TEST(TimeSlice, MasksTimesAndDatesRoundTripAndTheEngineAdmitsTheEndSecond) {
    {  // A new slice: every day, all day; the enabling rules; Cancel frees it.
        CTimeSliceDlg dialog;
        dialog.show();
        EXPECT_TRUE(Checked(&dialog, 1122) && Checked(&dialog, 1110) && Checked(&dialog, 1160) && Checked(&dialog, 1159));
        ClickControl(&dialog, 1162);
        EXPECT_TRUE(Enabled(&dialog, 1150) && !Enabled(&dialog, 1152));
        ClickControl(&dialog, 1161);
        EXPECT_FALSE(Enabled(&dialog, 1154) || Enabled(&dialog, 1162) || Enabled(&dialog, 1150));
        dialog.reject();
        EXPECT_FALSE(dialog.TakeNewSlice());
    }
    for (DWORD mask : {DWORD{1}, DWORD{0x40}, DWORD{0x80 | 42}}) {
        CTimeSlice slice(mask, CDateTime::FromTime(8, 0, 0), CDateTime::FromTime(9, 0, 0));
        CTimeSliceDlg dialog(slice);
        dialog.show();
        EXPECT_EQ(Checked(&dialog, 1160), (mask & 1) != 0);     // Sunday, bit 0
        EXPECT_EQ(Checked(&dialog, 1154), (mask & 2) != 0);     // Monday, bit 1
        EXPECT_EQ(Checked(&dialog, 1159), (mask & 0x40) != 0);  // Saturday, bit 6
        static_cast<QAbstractButton*>(FindControl(&dialog, 1157))->setChecked(true);  // Thursday, bit 4
        ClickControl(&dialog, 1162);
        SetControlText(&dialog, 1151, QString::fromStdString(CDateTime::FromTime(17, 0, 0).Format("%X")));
        dialog.accept();
        EXPECT_EQ(slice.GetEveryWhat(), mask | 0x10);
        EXPECT_TRUE(slice.Includes(CDateTime::FromParts(2024, 3, 28, 17, 0, 0)));  // a Thursday
        EXPECT_FALSE(slice.Includes(CDateTime::FromParts(2024, 3, 28, 17, 0, 1)));
    }
    // Regular made single, dates untouched: the 1899 dates stay, and are checked.
    CTimeSlice slice(CTimeSlice::kEveryDay, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
    CTimeSliceDlg dialog(slice);
    dialog.show();
    ClickControl(&dialog, 1161);
    dialog.accept();
    EXPECT_EQ(slice.GetEvery(), 0u);
    EXPECT_EQ(slice.GetCheckTime(), 1u);
    EXPECT_EQ(slice.GetEndTime(), CDateTime::FromTime(17, 0, 0));
}

}  // namespace
