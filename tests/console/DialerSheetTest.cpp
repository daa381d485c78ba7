// The dialer sheet and the Edit Profile sheet over the console's copy of the dialer: what is
// queued when, the Settings and Local sites values, the live notices (a refill that drops a
// profile an open sheet holds, status rows found by profile), a new profile's defaults and
// names, and the Access page.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/DialerSheet.h"
#include "console/dialogs/EditProfileSheet.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/RequestFilterTree.h"
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

class DialerSheet : public testing::Test {
protected:
    void SetUp() override { Receive({"Home", "Office"}, {"intranet", "Corp"}); }
    void TearDown() override { SetChildDialogAnswerer({}); }
    // The copy loads a dialer image as the engine sends it (request 60, notice 62).
    void Receive(const std::vector<std::string>& profiles, const std::vector<std::string>& sites) {
        const auto image = StoreBytes([&](CArchive& ar) {
            ar << static_cast<DWORD>(profiles.size());
            for (const std::string& name : profiles) {
                ar << name;
                CDialerProfile(name).Serialize(ar);
            }
            ar.WriteStringList(std::vector<std::string>{"Office Line", "backup", "ISP"});
            ar.WriteStringList(sites);
            ar << DWORD(1) << DWORD(3) << DWORD(2);
        });
        ASSERT_TRUE(LoadBytes(image, [&](CArchive& ar) { dialer.Serialize(ar); }));
    }
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < List()->topLevelItemCount(); ++row)
            texts << List()->topLevelItem(row)->text(column);
        return texts;
    }
    QTreeWidget* List() const { return sheet.m_phonebookPage.List(); }
    void Select(const char* name) { List()->setCurrentItem(List()->findItems(name, Qt::MatchExactly).front()); }
    void Answer(std::function<void(QDialog&)> fill) {
        SetChildDialogAnswerer([fill](QDialog& dialog) {
            dialog.show();
            fill(dialog);
            dialog.accept();
            return dialog.result();
        });
    }

    CDialer& dialer = theConfiguration.GetDialer();
    CRecordingSession session;
    CBoxRecorder boxes;
    CDialerSheet sheet;
};

TEST_F(DialerSheet, RemoveWaitsForApplyWhileDialAndResetGoAtOnceAndOnlyOnline) {
    sheet.show();
    EXPECT_EQ(theApp.m_dialerSheetWindow, &sheet);
    Answer([](QDialog& dialog) { SetControlText(&dialog, 1035, "Travel"); });
    ClickControl(&sheet, 1015);
    Select("Home");
    ClickControl(&sheet, 1013);
    EXPECT_FALSE(dialer.FindProfile("Home"));
    EXPECT_TRUE(dialer.FindProfile("Travel"));
    EXPECT_EQ(Column(0), (QStringList{"Office", "Travel"}));
    Select("Office");
    ClickControl(&sheet, 1017);
    ClickControl(&sheet, 1016);
    ClickControl(&sheet, 3);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(session.requests, (std::vector<Request>{{63, "Office", "1", "", false},
                                                      {63, "Office", "0", "", false},
                                                      {62, "", "", "", false}}));
    session.requests.clear();
    session.online = false;
    ClickControl(&sheet, 1017);
    sheet.accept();
    EXPECT_TRUE(session.requests.empty());
    EXPECT_EQ(theApp.m_dialerSheetRegistered, 0);
}

TEST_F(DialerSheet, SettingsAndLocalSitesStoreWhatTheyShow) {
    sheet.show();
    CDialerSettingsPage& page = sheet.m_settingsPage;
    for (const char* refused : {"0", "61", "x"}) {
        SetControlText(&page, 1245, refused);
        EXPECT_FALSE(sheet.ApplySheet()) << refused;
    }
    EXPECT_EQ(boxes.calls.size(), 3u);
    struct Case { int radio; bool dialing, debug; DWORD logging, options; const char* interval; };
    for (const Case& c : {Case{1247, false, false, 1, 0, "1"}, Case{1247, true, true, 1, 3, "60"},
                          Case{1247, false, true, 1, 2, "7"}, Case{1243, true, false, 0, 1, "7"}}) {
        ClickControl(&page, c.radio);
        EXPECT_EQ(FindControl(&page, 1176)->isEnabled(), c.radio == 1247);
        qobject_cast<QAbstractButton*>(FindControl(&page, 1246))->setChecked(c.dialing);
        qobject_cast<QAbstractButton*>(FindControl(&page, 1176))->setChecked(c.debug);
        SetControlText(&page, 1245, c.interval);
        ASSERT_TRUE(sheet.ApplySheet());
        EXPECT_EQ(std::vector<DWORD>({dialer.GetLoggingEnabled(), dialer.GetLogOptions(), dialer.GetTimerInterval()}),
                  std::vector<DWORD>({c.logging, c.options, DWORD(std::stoul(c.interval))}));
    }
    // Local sites: sorted; Add keeps the edit's text and passes over a twin in letter case and
    // a text the store could not keep; Remove moves the text back into the edit.
    CDialerLocalSitesPage& sites = sheet.m_localSitesPage;
    EXPECT_EQ(sites.Sites(), (std::vector<std::string>{"Corp", "intranet"}));
    for (const char* text : {"example.org", "", "CORP", "a\tb"}) {
        SetControlText(&sites, 1228, text);
        ClickControl(&sites, 1098);
    }
    EXPECT_EQ(ControlText(&sites, 1228), "a\tb");
    sites.List()->setCurrentRow(0);
    ClickControl(&sites, 1229);
    EXPECT_EQ(ControlText(&sites, 1228), "Corp");
    sheet.accept();
    EXPECT_EQ(dialer.GetLocalSites(), (std::vector<std::string>{"example.org", "intranet"}));
}

TEST_F(DialerSheet, NoticesRefillAndFindStatusRowsByTheProfileAnOpenSheetKeeps) {
    sheet.show();
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");
    office->StoreStatusText("On line to Office Line");
    theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, 63, CRef<CObject>(office.Get())});
    ASSERT_TRUE(ProcessUntil([&] { return Column(2).back() == "On line to Office Line"; }));

    // While Office's sheet is open the engine's dialer drops it: the sheet keeps it alive, a
    // status for it finds no row, other codes change nothing, and OK edits only the orphan.
    Answer([&](QDialog& dialog) {
        Receive({"Home", "Travel"}, {"lan"});
        for (UINT code : {62, 63, 35})
            theApp.Views().Post(CViewNotice{ViewTargets::kDialerSheet, code, CRef<CObject>(office.Get())});
        EXPECT_TRUE(ProcessUntil([&] { return Column(0) == (QStringList{"Home", "Travel"}); }));
        QCoreApplication::processEvents();
        SetControlText(&dialog, 1202, "carol");
    });
    Select("Office");
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, List()->visualItemRect(List()->currentItem()).center());
    EXPECT_EQ(office->GetSettings().username, "carol");
    EXPECT_EQ(Column(2), (QStringList{"", ""}));
    EXPECT_EQ(sheet.m_localSitesPage.Sites(), std::vector<std::string>{"lan"});
}

TEST_F(DialerSheet, EditProfileSheetDefaultsNamesAccessAndEntries) {
    {  // A new profile: one unrestricted "Everyone", the entries sorted, the name checked.
        CEditProfileSheet created(nullptr, dialer);
        created.show();
        const CLockableList& recipients = created.GetObject()->GetAccessRights().GetRecipients();
        ASSERT_EQ(recipients.GetCount(), 1u);
        EXPECT_EQ(static_cast<CRecipient*>(recipients.GetHead())->GetUserName(), "Everyone");
        EXPECT_EQ(created.m_generalPage.EntryCombo()->itemText(0), "backup");
        for (const char* name : {"office", "HOME", "", ".", "..", "a/b", "a\\b", "a\x01"}) {
            SetControlText(&created, 1035, name);
            created.accept();
            EXPECT_TRUE(created.isVisible()) << name;
        }
        ASSERT_EQ(boxes.calls.size(), 8u);
        EXPECT_EQ(boxes.calls[7].text + "|" + boxes.calls[7].title,
                  std::string(ConsoleTexts::kProfileNameTaken) + "|" + ConsoleTexts::kDuplicateProfileName);
    }
    // An existing profile keeps its name and shows the entry it names though it is not listed.
    // Access: Add opens the recipient sheet with a Request page of kind 1; Remove takes the
    // selected row's own recipient; an empty right is applied without a question.
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");
    CDialerProfile::Settings settings = office->GetSettings();
    settings.profileName = "Gone";
    office->SetSettings(settings);
    CRight& right = office->GetAccessRights();
    right.AddRecipientFor("alice");
    right.AddRecipientFor("alice");
    static_cast<CRecipient*>(right.GetRecipients().GetHead())->SetSpecifyTime(1);
    CEditProfileSheet edited(office.Get(), dialer);
    edited.show();
    EXPECT_EQ(edited.windowTitle(), "Properties for dialer entry Office");
    EXPECT_FALSE(FindControl(&edited, 1035)->isEnabled());
    EXPECT_EQ(edited.m_generalPage.EntryCombo()->currentText(), "Gone");
    std::pair<int, int> tabsAndKind;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        auto& recipient = dynamic_cast<CEditRecipientSheet&>(dialog);
        recipient.show();
        tabsAndKind = {recipient.TabSheet().GetPageCount(), recipient.m_requestPage.Tree()->GetServiceKind()};
        return int(QDialog::Rejected);
    });
    ClickControl(&edited.m_accessPage, 1098);
    EXPECT_EQ(tabsAndKind, std::pair(4, 1));
    QTreeWidget* recipients = edited.m_accessPage.Editor()->Recipients();
    recipients->setCurrentItem(recipients->topLevelItem(1));
    ClickControl(&edited.m_accessPage, 1099);
    edited.accept();
    ASSERT_EQ(right.GetRecipients().GetCount(), 1u);
    EXPECT_EQ(static_cast<CRecipient*>(right.GetRecipients().GetHead())->GetSpecifyTime(), 1u);
    recipients->setCurrentItem(recipients->topLevelItem(0));
    ClickControl(&edited.m_accessPage, 1099);
    EXPECT_TRUE(edited.ApplySheet());
    EXPECT_EQ(boxes.calls.size(), 8u);
    EXPECT_EQ(right.GetRecipients().GetCount(), 0u);
}

}  // namespace
