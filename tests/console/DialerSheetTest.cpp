// The dialer sheet and the Edit Profile sheet over the console's copy of the dialer: what Apply,
// OK, Remove, Dial and Reset queue and when, the Settings page's values, the Local sites list,
// the live notices (a refill that drops a profile an open sheet holds, status rows found by
// profile), and a new profile's defaults and name refusals.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/DialerSheet.h"
#include "console/dialogs/EditProfileSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "dialer/Dialer.h"
#include "engine/NorvaneEngine.h"
#include "support/ArchiveHelpers.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using Request = CRecordingSession::Request;

// A dialer image as the engine sends it (request 60, notice 62).
std::vector<std::uint8_t> DialerImage(const std::vector<std::string>& profiles, const std::vector<std::string>& sites) {
    return StoreBytes([&](CArchive& ar) {
        ar << static_cast<DWORD>(profiles.size());
        for (const std::string& name : profiles) {
            CDialerProfile profile(name);
            ar << name;
            profile.Serialize(ar);
        }
        ar.WriteStringList(std::vector<std::string>{"Office Line", "backup", "ISP"});
        ar.WriteStringList(sites);
        ar << DWORD(1) << DWORD(3) << DWORD(2);
    });
}

class DialerSheet : public testing::Test {
protected:
    void SetUp() override { Receive({"Home", "Office"}, {"intranet", "Corp"}); }
    void TearDown() override {
        SetChildDialogAnswerer({});
        Receive({}, {});
    }
    void Receive(const std::vector<std::string>& profiles, const std::vector<std::string>& sites) {
        ASSERT_TRUE(LoadBytes(DialerImage(profiles, sites), [&](CArchive& ar) { dialer.Serialize(ar); }));
    }
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < List()->topLevelItemCount(); ++row)
            texts << List()->topLevelItem(row)->text(column);
        return texts;
    }
    QTreeWidget* List() const { return sheet->m_phonebookPage.List(); }
    void Select(const char* name) { List()->setCurrentItem(List()->findItems(name, Qt::MatchExactly).front()); }

    CDialer& dialer = theConfiguration.GetDialer();
    CRecordingSession session;
    CBoxRecorder boxes;
    std::unique_ptr<CDialerSheet> sheet = std::make_unique<CDialerSheet>();
};

TEST_F(DialerSheet, RemoveWaitsForApplyWhileDialAndResetGoAtOnceAndOnlyOnline) {
    sheet->show();
    EXPECT_EQ(sheet->windowTitle(), ConsoleTexts::kDialerSheetCaption);
    EXPECT_EQ(theApp.m_dialerSheetWindow, sheet.get());
    EXPECT_EQ(Column(0), (QStringList{"Home", "Office"}));
    EXPECT_EQ(Column(1).front(), "Account  at  ");
    SetChildDialogAnswerer([](QDialog& dialog) {
        dialog.show();
        SetControlText(&dialog, 1035, "Travel");
        dialog.accept();
        return dialog.result();
    });
    ClickControl(sheet.get(), 1015);
    EXPECT_TRUE(dialer.FindProfile("Travel"));
    Select("Home");
    ClickControl(sheet.get(), 1013);
    EXPECT_FALSE(dialer.FindProfile("Home"));
    EXPECT_EQ(Column(0), (QStringList{"Office", "Travel"}));
    Select("Office");
    ClickControl(sheet.get(), 1017);
    ClickControl(sheet.get(), 1016);
    EXPECT_EQ(session.requests, (std::vector<Request>{{63, "Office", "1", "", false}, {63, "Office", "0", "", false}}));
    ClickControl(sheet.get(), 3);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(session.requests.back(), (Request{62, "", "", "", false}));

    session.requests.clear();
    session.online = false;
    ClickControl(sheet.get(), 1017);
    sheet->accept();
    EXPECT_TRUE(session.requests.empty());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(theApp.m_dialerSheetRegistered, 0);
}

TEST_F(DialerSheet, SettingsKeepTheIntervalInRangeAndStoreTheLogBits) {
    sheet->show();
    sheet->TabSheet().SetActivePage(2);
    CDialerSettingsPage& page = sheet->m_settingsPage;
    EXPECT_EQ(ControlText(&page, 1245), "2");
    for (const char* refused : {"0", "61", "x"}) {
        SetControlText(&page, 1245, refused);
        EXPECT_FALSE(sheet->ApplySheet()) << refused;
    }
    EXPECT_EQ(boxes.calls.size(), 3u);
    struct Case { int radio; bool dialing, debug; DWORD logging, options; const char* interval; };
    for (const Case& c : {Case{1247, false, false, 1, 0, "1"}, Case{1247, true, true, 1, 3, "60"},
                          Case{1247, false, true, 1, 2, "7"}, Case{1243, true, false, 0, 1, "7"}}) {
        ClickControl(&page, c.radio);
        EXPECT_EQ(FindControl(&page, 1246)->isEnabled(), c.radio == 1247);
        EXPECT_EQ(FindControl(&page, 1176)->isEnabled(), c.radio == 1247);
        qobject_cast<QAbstractButton*>(FindControl(&page, 1246))->setChecked(c.dialing);
        qobject_cast<QAbstractButton*>(FindControl(&page, 1176))->setChecked(c.debug);
        SetControlText(&page, 1245, c.interval);
        ASSERT_TRUE(sheet->ApplySheet());
        EXPECT_EQ(dialer.GetLoggingEnabled(), c.logging);
        EXPECT_EQ(dialer.GetLogOptions(), c.options);
        EXPECT_EQ(dialer.GetTimerInterval(), std::stoul(c.interval));
    }
}

TEST_F(DialerSheet, LocalSitesSortKeepTheEditAndRefuseACaseTwin) {
    sheet->show();
    CDialerLocalSitesPage& page = sheet->m_localSitesPage;
    EXPECT_EQ(page.Sites(), (std::vector<std::string>{"Corp", "intranet"}));
    SetControlText(&page, 1228, "example.org");
    ClickControl(&page, 1098);
    EXPECT_EQ(ControlText(&page, 1228), "example.org");
    for (const char* ignored : {"", "CORP", "a\tb"}) {
        SetControlText(&page, 1228, ignored);
        ClickControl(&page, 1098);
    }
    EXPECT_EQ(page.Sites(), (std::vector<std::string>{"Corp", "example.org", "intranet"}));
    page.List()->clearSelection();
    ClickControl(&page, 1229);
    EXPECT_EQ(page.Sites().size(), 3u);
    page.List()->setCurrentRow(0);
    ClickControl(&page, 1229);
    EXPECT_EQ(ControlText(&page, 1228), "Corp");
    sheet->accept();
    EXPECT_EQ(dialer.GetLocalSites(), (std::vector<std::string>{"example.org", "intranet"}));
}

TEST_F(DialerSheet, NoticesRefillAndFindStatusRowsByTheProfileAnOpenSheetKeeps) {
    sheet->show();
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");
    office->StoreStatusText("On line to Office Line");
    theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, 63, CRef<CObject>(office.Get())});
    ASSERT_TRUE(ProcessUntil([&] { return Column(2).back() == "On line to Office Line"; }));

    // While Office's sheet is open, the engine's dialer drops it: the sheet keeps it alive, a
    // status for it finds no row, and OK then changes only the orphan.
    SetChildDialogAnswerer([&](QDialog& dialog) {
        Receive({"Home", "Travel"}, {"lan"});
        theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, 62, {}});
        theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, 63, CRef<CObject>(office.Get())});
        theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, 35, {}});
        EXPECT_TRUE(ProcessUntil([&] { return Column(0) == (QStringList{"Home", "Travel"}); }));
        QCoreApplication::processEvents();
        dialog.show();
        SetControlText(&dialog, 1202, "carol");
        dialog.accept();
        return dialog.result();
    });
    Select("Office");
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, List()->visualItemRect(List()->currentItem()).center());
    EXPECT_EQ(office->GetSettings().username, "carol");
    EXPECT_EQ(Column(2), (QStringList{"", ""}));
    EXPECT_EQ(sheet->m_localSitesPage.Sites(), std::vector<std::string>{"lan"});
    sheet->reject();
    EXPECT_EQ(theApp.m_dialerSheetRegistered, 0);
}

TEST_F(DialerSheet, EditProfileSheetDefaultsNamesAndEntries) {
    {  // A new profile: one unrestricted "Everyone", the entries sorted, the name checked.
        CEditProfileSheet created(nullptr, dialer);
        created.show();
        EXPECT_EQ(created.windowTitle(), ConsoleTexts::kNewProfileSheetCaption);
        CRight& right = created.GetObject()->GetAccessRights();
        ASSERT_EQ(right.GetRecipients().GetCount(), 1u);
        EXPECT_EQ(static_cast<CRecipient*>(right.GetRecipients().GetHead())->GetUserName(), "Everyone");
        QComboBox* entries = created.m_generalPage.EntryCombo();
        EXPECT_EQ(entries->count(), 3);
        EXPECT_EQ(entries->itemText(0), "backup");
        EXPECT_TRUE(FindControl(&created, 1035)->isEnabled());
        for (const char* name : {"office", "HOME", "", ".", "..", "a/b", "a\\b", "a\x01"}) {
            SetControlText(&created, 1035, name);
            created.accept();
            EXPECT_TRUE(created.isVisible()) << name;
        }
        EXPECT_EQ(boxes.calls.size(), 8u);
        EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kProfileNameTaken);
        EXPECT_EQ(boxes.calls[0].title, ConsoleTexts::kDuplicateProfileName);
        SetControlText(&created, 1035, "Travel");
        entries->setEditText("Not Listed");
        created.accept();
        CRef<CDialerProfile> travel = created.TakeNewObject();
        ASSERT_TRUE(travel);
        EXPECT_EQ(travel->GetName(), "Travel");
        EXPECT_EQ(travel->GetSettings().profileName, "Not Listed");
    }
    // An existing profile keeps its name; an entry it names shows even when not listed.
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");
    CDialerProfile::Settings settings = office->GetSettings();
    settings.profileName = "Gone";
    office->SetSettings(settings);
    CEditProfileSheet edited(office.Get(), dialer);
    edited.show();
    EXPECT_EQ(edited.windowTitle(), "Properties for dialer entry Office");
    EXPECT_FALSE(FindControl(&edited, 1035)->isEnabled());
    EXPECT_EQ(edited.m_generalPage.EntryCombo()->currentText(), "Gone");
    SetControlText(&edited, 1208, "5");
    edited.accept();
    EXPECT_EQ(office->GetSettings().retries, 5);
    EXPECT_EQ(office->GetAccessRights().GetRecipients().GetCount(), 0u);
}

}  // namespace
