// The recipient sheet and its pages, and the Time Slice dialog: identities, the questions
// before an unusable recipient (both localhost cases), slices and filters edited in place,
// Cancel, and the slice's values through the engine's own time test.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/RequestFilterTree.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/TimeSliceDlg.h"
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

std::size_t Count(CLockableList& list) {
    CScopedLock lock(list);
    return list.GetCount();
}

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
    // Answers each Time Slice dialog: a new regular slice on `days`, or OK as it stands.
    void AnswerSlices(DWORD days) {
        SetChildDialogAnswerer([days](QDialog& dialog) {
            auto& slices = dynamic_cast<CTimeSliceDlg&>(dialog);
            for (int bit = 0; bit < 7; ++bit)
                static_cast<QAbstractButton*>(FindControl(&slices, CTimeSliceDlg::kDayIds[bit]))->setChecked((days >> bit) & 1);
            slices.accept();
            return slices.result();
        });
    }
    CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
    CBoxRecorder boxes;
};

TEST_F(RecipientSheet, ANewRecipientTakesItsIdentityAndAnExistingOneKeepsIt) {
    {  // Left on "Everyone": the default name; the radios do not mark the page changed.
        CEditRecipientSheet sheet(nullptr, FALSE, 0, RightStartStop);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), ConsoleTexts::kNewRecipientSheetCaption);
        EXPECT_EQ(sheet.TabSheet().GetPageCount(), 3);  // no Request tab but for kind 0
        EXPECT_FALSE(Enabled(&sheet.m_userPage, 1099));
        ClickControl(&sheet.m_userPage, 1106);
        EXPECT_TRUE(Enabled(&sheet.m_userPage, 1099));
        ClickControl(&sheet.m_userPage, 1105);
        EXPECT_EQ(sheet.m_userPage.m_changed, 0);
        sheet.accept();
        ASSERT_EQ(sheet.result(), QDialog::Accepted);
        CRef<CRecipient> made = sheet.TakeNewObject();
        EXPECT_EQ(made->GetUserName(), "Everyone");
        EXPECT_EQ(made->GetSpecifyUser(), 0u);
    }
    {  // "Specify user or group" needs a choice; then the chosen name and level are stored.
        CEditRecipientSheet sheet(nullptr, FALSE, 0, RightAccess);
        sheet.show();
        EXPECT_EQ(sheet.TabSheet().GetPageCount(), 4);
        ClickControl(&sheet.m_userPage, 1106);
        sheet.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kSelectUserOrGroup);
        EXPECT_EQ(boxes.calls[0].title, ConsoleTexts::kErrorTitle);
        EXPECT_TRUE(sheet.isVisible());
        sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);
        EXPECT_EQ(ControlText(&sheet.m_userPage, 1000), "Staff");
        ClickControl(&sheet.m_userPage, 1108);
        sheet.accept();
        CRef<CRecipient> made = sheet.TakeNewObject();
        ASSERT_TRUE(made);
        EXPECT_EQ(made->GetUserName(), "Staff");
        EXPECT_EQ(made->GetSpecifyUser(), 1u);
        EXPECT_EQ(made->GetMinimumSecurityLevel(), 1u);
    }
    {  // Existing: identity controls disabled, the name kept, the level stored.
        CRecipient alice("alice");
        CEditRecipientSheet sheet(&alice, TRUE, 0, RightShutdown);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), "Properties for recipient alice");
        for (int id : {1105, 1106, 1099})
            EXPECT_FALSE(Enabled(&sheet.m_userPage, id)) << id;
        EXPECT_TRUE(Checked(&sheet.m_userPage, 1106));
        sheet.m_userPage.Chooser()->List()->topLevelItem(1)->setSelected(true);
        ClickControl(&sheet.m_userPage, 1109);
        sheet.accept();
        EXPECT_EQ(alice.GetUserName(), "alice");
        EXPECT_EQ(alice.GetMinimumSecurityLevel(), 2u);
    }
}

TEST_F(RecipientSheet, LocationsAreQuestionedWhenEmptyOrWhenLocalhostIsBannedAndNoRefuses) {
    struct Case {
        std::vector<const char*> included, excluded;
        const char* question;  // null: none
    };
    const Case cases[] = {
        {{}, {}, ConsoleTexts::kNoLocations},
        {{"192.168.1.*"}, {}, ConsoleTexts::kLocalhostBanned},
        {{"127.0.0.1"}, {"127.*.*.*"}, ConsoleTexts::kLocalhostBanned},
        {{"192.168.1.*", "127.0.0.1"}, {"10.*"}, nullptr},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.included.empty() ? "none" : test.included[0]);
        CRecipient recipient;
        recipient.SetIncludedLocations({"10.1.1.1"});
        CEditRecipientSheet sheet(&recipient, TRUE, 0, RightAccess);
        sheet.show();
        CRecipientLocationPage& page = sheet.m_locationPage;
        sheet.TabSheet().SetActivePage(&page);
        EXPECT_FALSE(Enabled(&page, 1113));
        ClickControl(&page, 1110);
        auto* included = static_cast<QListWidget*>(FindControl(&page, 1112));
        included->setCurrentRow(0);
        ClickControl(&page, 1115);
        EXPECT_EQ(ControlText(&page, 1113), "10.1.1.1");
        for (auto [patterns, edit, add] : {std::tuple{&test.included, 1113, 1114}, {&test.excluded, 1117, 1118}})
            for (const char* pattern : *patterns) {
                SetControlText(&page, edit, pattern);
                ClickControl(&page, add);
            }
        boxes.calls.clear();
        if (test.question != nullptr) {
            boxes.Answer(IDNO);
            sheet.accept();
            ASSERT_EQ(boxes.calls.size(), 1u);
            EXPECT_EQ(boxes.calls[0].text, test.question);
            EXPECT_EQ(boxes.calls[0].flags, MB::kSheetQuestion);
            EXPECT_TRUE(sheet.isVisible());
            EXPECT_EQ(recipient.GetSpecifyLocation(), 0u);  // nothing stored
            boxes.Answer(IDYES);
        }
        sheet.accept();
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
        EXPECT_EQ(recipient.GetSpecifyLocation(), 1u);
        EXPECT_EQ(recipient.GetIncludedLocations().size(), test.included.size());
    }
    {  // An unchanged page that was already empty is not questioned again; the lists come out sorted.
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
}

TEST_F(RecipientSheet, TimeSlicesAndRequestFiltersChangeInPlaceAndCancelFreesOnlyANewRecipient) {
    CRecipient recipient;
    {
        CEditRecipientSheet sheet(&recipient, TRUE, 3, RightAccess);
        sheet.show();
        CRecipientTimePage& time = sheet.m_timePage;
        EXPECT_FALSE(Enabled(&time, 1114));
        ClickControl(&time, 1121);
        AnswerSlices(CTimeSlice::kWeekend);
        ClickControl(&time, 1118);  // an exclusion only: the page still has no included time
        EXPECT_EQ(Count(recipient.GetTimeFilter().GetExclusions()), 1u);
        EXPECT_EQ(time.ExcludedList()->item(0)->text(), "Every weekend");
        boxes.Answer(IDNO);
        sheet.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoTimeSlices);
        AnswerSlices(42);
        ClickControl(&time, 1114);
        ClickControl(&time, 1114);
        time.IncludedList()->setCurrentRow(0);
        ClickControl(&time, 1115);
        EXPECT_EQ(Count(recipient.GetTimeFilter().GetInclusions()), 1u);

        // The Request page: its buttons act only while requests are specified.
        CRecipientRequestPage& request = sheet.m_requestPage;
        sheet.TabSheet().SetActivePage(&request);
        EXPECT_EQ(request.Tree()->GetServiceKind(), 3);
        EXPECT_FALSE(request.Tree()->isEnabled());
        ClickControl(&request, 1237);
        EXPECT_EQ(request.Tree()->topLevelItemCount(), 0);
        EXPECT_EQ(request.m_changed, 0);
        ClickControl(&request, 1173);
        ClickControl(&request, 1237);
        ClickControl(&request, 1237);
        request.Tree()->topLevelItem(0)->setSelected(true);
        ClickControl(&request, 1229);
        EXPECT_EQ(request.Tree()->topLevelItemCount(), 1);
        sheet.reject();
    }
    // Cancel keeps the in-place edits, but not the radios.
    EXPECT_EQ(recipient.GetSpecifyTime(), 0u);
    EXPECT_EQ(Count(recipient.GetTimeFilter().GetInclusions()), 1u);
    EXPECT_EQ(Count(recipient.GetRequestFilter()), 1u);
    {  // Specified requests with an emptied collection are questioned.
        CEditRecipientSheet sheet(&recipient, TRUE, 3, RightAccess);
        sheet.show();
        CRecipientRequestPage& request = sheet.m_requestPage;
        ClickControl(&request, 1173);
        request.Tree()->topLevelItem(0)->setSelected(true);
        ClickControl(&request, 1229);
        boxes.calls.clear();
        boxes.Answer(IDYES);
        sheet.accept();
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoRequestFilters);
        EXPECT_EQ(recipient.GetSpecifyRequest(), 1u);
    }
    {  // A new recipient's sheet cancelled leaves nothing behind.
        CEditRecipientSheet sheet(nullptr, FALSE, 0, RightAccess);
        sheet.show();
        ClickControl(&sheet.m_requestPage, 1173);
        ClickControl(&sheet.m_requestPage, 1237);
        sheet.reject();
        EXPECT_EQ(sheet.GetObject(), nullptr);
        EXPECT_FALSE(sheet.TakeNewObject());
    }
}

// --- Time Slice -----------------------------------------------------------------------------------

TEST(TimeSlice, ANewSliceIsEveryDayAllDayFromNowAndCancelFreesIt) {
    CTimeSliceDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Time Slice");
    EXPECT_TRUE(Checked(&dialog, 1122));
    EXPECT_TRUE(Checked(&dialog, 1110));
    for (int id : CTimeSliceDlg::kDayIds)
        EXPECT_TRUE(Checked(&dialog, id)) << id;
    EXPECT_FALSE(Enabled(&dialog, 1150));  // all day
    EXPECT_FALSE(Enabled(&dialog, 1152));
    ClickControl(&dialog, 1162);
    EXPECT_TRUE(Enabled(&dialog, 1150));
    ClickControl(&dialog, 1161);
    for (int id : {1154, 1110, 1162, 1150, 1151})
        EXPECT_FALSE(Enabled(&dialog, id)) << id;
    EXPECT_TRUE(Enabled(&dialog, 1153));
    dialog.reject();
    EXPECT_EQ(dialog.GetSlice(), nullptr);
    EXPECT_FALSE(dialog.TakeNewSlice());
}

TEST(TimeSlice, DayMasksTimesAndDatesRoundTripAndTheEngineAdmitsTheEndSecond) {
    const QString nine = QString::fromStdString(CDateTime::FromTime(9, 0, 0).Format("%X"));
    const QString five = QString::fromStdString(CDateTime::FromTime(17, 0, 0).Format("%X"));
    for (DWORD mask : {DWORD{1}, DWORD{0x40}, DWORD{42}, DWORD{0x80 | 62}}) {
        SCOPED_TRACE(mask);
        CTimeSlice slice(mask, CDateTime::FromTime(8, 0, 0), CDateTime::FromTime(9, 0, 0));
        CTimeSliceDlg dialog(slice);
        dialog.show();
        EXPECT_EQ(Checked(&dialog, 1160), (mask & 1) != 0);   // Sunday, bit 0
        EXPECT_EQ(Checked(&dialog, 1154), (mask & 2) != 0);   // Monday, bit 1
        EXPECT_EQ(Checked(&dialog, 1159), (mask & 0x40) != 0);  // Saturday, bit 6
        static_cast<QAbstractButton*>(FindControl(&dialog, 1157))->setChecked(true);  // Thursday, bit 4
        ClickControl(&dialog, 1162);
        SetControlText(&dialog, 1150, nine);
        SetControlText(&dialog, 1151, five);
        dialog.accept();
        EXPECT_EQ(slice.GetEveryWhat(), mask | 0x10);
        EXPECT_EQ(slice.GetCheckTime(), 1u);
        EXPECT_EQ(slice.GetStartTime(), CDateTime::FromTime(9, 0, 0));
        // A Thursday: 17:00:00 is inside, 17:00:01 is not.
        EXPECT_TRUE(slice.Includes(CDateTime::FromParts(2024, 3, 28, 17, 0, 0)));
        EXPECT_FALSE(slice.Includes(CDateTime::FromParts(2024, 3, 28, 17, 0, 1)));
    }
    {  // Regular made single without touching the dates: the 1899 dates stay, checked.
        CTimeSlice slice(CTimeSlice::kEveryDay, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
        slice.SetCheckTime(0);
        CTimeSliceDlg dialog(slice);
        dialog.show();
        ClickControl(&dialog, 1161);
        dialog.accept();
        EXPECT_EQ(slice.GetEvery(), 0u);
        EXPECT_EQ(slice.GetCheckTime(), 1u);
        EXPECT_EQ(slice.GetStartTime(), CDateTime::FromTime(9, 0, 0));
        EXPECT_EQ(slice.GetEndTime(), CDateTime::FromTime(17, 0, 0));
    }
    {  // Single made regular, all day: the empty time boxes keep the times of day; a bad date refuses.
        CTimeSlice slice(CDateTime::FromParts(2024, 2, 29, 8, 30, 0), CDateTime::FromParts(2024, 3, 1, 18, 0, 0));
        CTimeSliceDlg dialog(slice);
        CBoxRecorder boxes;
        dialog.show();
        EXPECT_TRUE(Checked(&dialog, 1161));
        EXPECT_EQ(ControlText(&dialog, 1150), "");
        SetControlText(&dialog, 1152, "2024-02-30 08:00:00");
        dialog.accept();
        EXPECT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(slice.GetStartTime(), CDateTime::FromParts(2024, 2, 29, 8, 30, 0));
        SetControlText(&dialog, 1152, "2024-02-29 08:30:00");
        ClickControl(&dialog, 1122);
        dialog.accept();
        EXPECT_EQ(slice.GetEvery(), 1u);
        EXPECT_EQ(slice.GetStartTime(), CDateTime::FromTime(8, 30, 0));
        EXPECT_EQ(slice.GetEndTime(), CDateTime::FromTime(18, 0, 0));
    }
}

}  // namespace
