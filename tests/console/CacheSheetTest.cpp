// The cache sheet over the console's copy of the cache: Apply's CacheOptions bits and requests
// on-line and off-line, notice 131 (also while a Criterion dialog is open), the trees' kinds.

#include "console/ChildDialog.h"
#include "console/RequestFilterTree.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/CacheSheet.h"
#include "console/dialogs/CriterionDlg.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "proxies/web/WWWCache.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/support/FakeRequest.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

namespace {

using Request = CRecordingSession::Request;

class CacheSheet : public testing::Test {
protected:
    void SetUp() override {
        CWWWCache settings;
        settings.SetMaxSize(100);
        settings.SetSpecifyWhatToCache(1);
        settings.GetCacheFilter().AddFilter(NewUrlFilter("games", "Games"));
        cache.CopySettings(settings);
        sheet.show();
    }
    void TearDown() override { SetChildDialogAnswerer({}); }
    void Notify() {
        theApp.Views().Post(CViewNotice{ViewTargets::kCacheSheet, 131, {}});
        ProcessUntil([] { return false; }, 50);
    }
    QTreeWidget* What() { return sheet.m_whatPage.Tree(); }
    QTreeWidget* Purge() { return sheet.m_purgePage.Tree(); }

    CWWWCache& cache = theConfiguration.GetCache();
    CRecordingSession session;
    CCacheSheet sheet;
};

TEST_F(CacheSheet, ApplyBitsRequestsAndNotice131) {
    EXPECT_EQ(sheet.windowTitle(), "Cache properties");
    for (DWORD options : {0u, 2u, 1u, 3u}) {
        qobject_cast<QAbstractButton*>(FindControl(&sheet, 1214))->setChecked(options & 2);
        qobject_cast<QAbstractButton*>(FindControl(&sheet, 1215))->setChecked(options & 1);
        ClickControl(&sheet, 3);
        EXPECT_EQ(cache.GetCacheOptions(), options);
    }
    EXPECT_EQ(session.requests, std::vector<Request>(4, {131, "", "", "", false}));

    // 131 discards the edits of every page.
    SetControlText(&sheet, 1219, "999");
    sheet.m_purgePage.Tree()->AddFilter();
    ClickControl(&sheet.m_whatPage, 1120);
    Notify();
    EXPECT_EQ(ControlText(&sheet, 1219), "100");
    EXPECT_EQ(Purge()->topLevelItemCount(), 0);
    EXPECT_TRUE(IsControlChecked(&sheet.m_whatPage, 1173) && What()->isEnabled());

    // Purge Now and Rebuild Index queue alone, with the purge edits unsent; off-line nothing.
    session.requests.clear();
    sheet.m_purgePage.Tree()->AddFilter();
    for (bool online : {true, false}) {
        session.online = online;
        ClickControl(&sheet.m_purgePage, 1120);
        ClickControl(&sheet.m_generalPage, 1213);
    }
    EXPECT_EQ(session.requests, (std::vector<Request>{{132, "", "", "", false}, {134, "", "", "", false}}));
    EXPECT_EQ(cache.GetPurgeFilter().GetCount(), 0u);
    sheet.accept();
    EXPECT_EQ(session.requests.size(), 2u);
    EXPECT_EQ(cache.GetPurgeFilter().GetCount(), 1u);
    EXPECT_EQ(theApp.m_cacheSheetRegistered, 0);
}

TEST_F(CacheSheet, TreeKindsRadioAndA131WhileACriterionDialogIsOpen) {
    std::vector<int> kinds;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        kinds.push_back(static_cast<CCriterionDlg&>(dialog).GetServiceKind());
        return int(QDialog::Rejected);
    });
    for (CCacheFilterPage* page : std::initializer_list<CCacheFilterPage*>{&sheet.m_whatPage, &sheet.m_purgePage}) {
        ClickControl(page, 1237);
        page->Tree()->setCurrentItem(page->Tree()->topLevelItem(0));
        ClickControl(page, 1238);
    }
    EXPECT_EQ(kinds, (std::vector<int>{2, -1}));
    ClickControl(&sheet.m_whatPage, 1120);  // "Cache everything": the buttons do nothing
    ClickControl(&sheet.m_whatPage, 1237);
    EXPECT_EQ(What()->topLevelItemCount(), 2);
    EXPECT_FALSE(What()->isEnabled());

    // The reload waits for the dialog, which writes into the copy it was opened on.
    CRequestFilterCollection* before = sheet.m_whatPage.Tree()->GetCollection();
    What()->setCurrentItem(What()->topLevelItem(0)->child(0));
    bool waited = false;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        Notify();
        waited = sheet.m_whatPage.IsReloadPending() && sheet.m_whatPage.Tree()->GetCollection() == before;
        SetControlText(&dialog, 1177, "changed");
        ClickControl(&dialog, 1);
        return dialog.result();
    });
    sheet.m_whatPage.Tree()->EditCriterion();
    EXPECT_TRUE(waited);
    EXPECT_NE(sheet.m_whatPage.Tree()->GetCollection(), before);
    EXPECT_EQ(What()->topLevelItemCount(), 1);
    EXPECT_FALSE(What()->topLevelItem(0)->child(0)->text(0).contains("changed"));
}

}  // namespace
