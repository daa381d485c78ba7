// The cache property sheet over the console's copy of the cache: what Apply stores and queues
// on-line and off-line, the CacheOptions bits, the reload on notice 131 (also while a Criterion
// dialog is open), the two trees' variable sets, and the tree's opener.

#include "console/ChildDialog.h"
#include "console/RequestFilterTree.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"
#include "console/dialogs/CacheSheet.h"
#include "console/dialogs/CriterionDlg.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/CachePurgeCriterion.h"
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
        settings.SetCacheOptions(3);
        settings.SetLimitCacheSize(1);
        settings.SetMaxSize(100);
        settings.SetDaysBeforeCheckVolatile(2);
        settings.SetDaysBeforeCheckNonVolatile(5);
        settings.SetSpecifyWhatToCache(1);
        settings.GetCacheFilter().AddFilter(NewUrlFilter("games", "Games"));
        cache.CopySettings(settings);
        sheet.show();
    }
    void TearDown() override { SetChildDialogAnswerer({}); }
    std::string Text(QWidget* page, int id) { return ControlText(page, id).toStdString(); }
    static int Filters(CRequestFilterCollection& collection) { return static_cast<int>(collection.GetCount()); }
    // Notice 131 as the console session sends it.
    void Notify() {
        theApp.Views().Post(CViewNotice{ViewTargets::kCacheSheet, 131, {}});
        ProcessUntil([] { return false; }, 50);
    }

    CWWWCache& cache = theConfiguration.GetCache();
    CRecordingSession session;
    CCacheSheet sheet;
};

TEST_F(CacheSheet, ApplyStoresAndQueuesOnlineOnlyAndNotice131DiscardsEdits) {
    EXPECT_EQ(sheet.windowTitle(), "Cache properties");
    EXPECT_EQ(theApp.m_cacheSheetWindow, &sheet);
    EXPECT_EQ(Text(&sheet.m_generalPage, 1219), "100");
    // CacheOptions from the two boxes, one Apply (and one 131) each.
    const std::pair<std::pair<bool, bool>, DWORD> bits[] = {{{false, false}, 0}, {{true, false}, 2}, {{false, true}, 1}, {{true, true}, 3}};
    for (const auto& [boxes, options] : bits) {
        qobject_cast<QAbstractButton*>(FindControl(&sheet.m_generalPage, 1214))->setChecked(boxes.first);
        qobject_cast<QAbstractButton*>(FindControl(&sheet.m_generalPage, 1215))->setChecked(boxes.second);
        ClickControl(&sheet, 3);
        EXPECT_EQ(cache.GetCacheOptions(), options);
    }
    EXPECT_EQ(session.requests, std::vector<Request>(4, {131, "", "", "", false}));

    // Edits everywhere, then 131: every page shows the cache again, with new working copies.
    SetControlText(&sheet.m_generalPage, 1219, "999");
    sheet.m_whatPage.Tree()->AddFilter();
    sheet.m_purgePage.Tree()->AddFilter();
    ClickControl(&sheet.m_whatPage, 1120);
    const CRequestFilterCollection* oldCopy = &sheet.m_purgePage.WorkingCopy();
    Notify();
    EXPECT_EQ(Text(&sheet.m_generalPage, 1219), "100");
    EXPECT_EQ(sheet.m_whatPage.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(sheet.m_purgePage.Tree()->topLevelItemCount(), 0);
    EXPECT_NE(&sheet.m_purgePage.WorkingCopy(), oldCopy);
    EXPECT_TRUE(IsControlChecked(&sheet.m_whatPage, 1173));
    EXPECT_TRUE(sheet.m_whatPage.Tree()->isEnabled());

    // "Purge Now" and "Rebuild Index" queue their request alone: no 131 first.
    session.requests.clear();
    sheet.m_purgePage.Tree()->AddFilter();
    ClickControl(&sheet.m_purgePage, 1120);
    ClickControl(&sheet.m_generalPage, 1213);
    EXPECT_EQ(session.requests, (std::vector<Request>{{132, "", "", "", false}, {134, "", "", "", false}}));
    EXPECT_EQ(Filters(cache.GetPurgeFilter()), 0);

    // Off-line: OK stores into the copy only; the buttons queue nothing; the record goes.
    session.online = false;
    session.requests.clear();
    SetControlText(&sheet.m_generalPage, 1210, "7");
    ClickControl(&sheet.m_purgePage, 1120);
    ClickControl(&sheet.m_generalPage, 1213);
    sheet.accept();
    EXPECT_TRUE(session.requests.empty());
    EXPECT_EQ(cache.GetDaysBeforeCheckNonVolatile(), 7u);
    EXPECT_EQ(Filters(cache.GetPurgeFilter()), 1);
    EXPECT_EQ(theApp.m_cacheSheetRegistered, 0);
}

TEST_F(CacheSheet, TreesOfferTheirVariablesAndButtonsFollowTheRadio) {
    std::vector<std::pair<int, bool>> opened;  // kind, purge criterion
    SetChildDialogAnswerer([&](QDialog& dialog) {
        auto& criterion = static_cast<CCriterionDlg&>(dialog);
        opened.emplace_back(criterion.GetServiceKind(),
                            criterion.GetCriterion()->IsKindOf(RUNTIME_CLASS(CCachePurgeCriterion)));
        return int(QDialog::Rejected);
    });
    for (CCacheFilterPage* page : std::initializer_list<CCacheFilterPage*>{&sheet.m_whatPage, &sheet.m_purgePage}) {
        ClickControl(page, 1237);
        page->Tree()->setCurrentItem(page->Tree()->topLevelItem(0));
        ClickControl(page, 1238);
    }
    EXPECT_EQ(opened, (std::vector<std::pair<int, bool>>{{2, false}, {-1, true}}));
    EXPECT_EQ(sheet.m_whatPage.Tree()->topLevelItemCount(), 2);

    // "Cache everything": the tree is disabled and the buttons do nothing.
    ClickControl(&sheet.m_whatPage, 1120);
    EXPECT_FALSE(sheet.m_whatPage.Tree()->isEnabled());
    for (int id : {1237, 1229})
        ClickControl(&sheet.m_whatPage, id);
    EXPECT_EQ(sheet.m_whatPage.Tree()->topLevelItemCount(), 2);
    sheet.accept();
    EXPECT_EQ(cache.GetSpecifyWhatToCache(), 0u);
    EXPECT_EQ(Filters(cache.GetCacheFilter()), 2);
}

TEST_F(CacheSheet, A131DuringACriterionDialogWaitsUntilItCloses) {
    CRequestFilterTree* tree = sheet.m_whatPage.Tree();
    CRequestFilterCollection* before = tree->GetCollection();
    tree->topLevelItem(0)->child(0)->setSelected(true);
    bool pendingWhileOpen = false;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        Notify();
        pendingWhileOpen = sheet.m_whatPage.IsReloadPending() && tree->GetCollection() == before;
        SetControlText(&dialog, 1177, "changed");
        ClickControl(&dialog, 1);
        return dialog.result();
    });
    tree->EditCriterion();
    EXPECT_TRUE(pendingWhileOpen);
    EXPECT_FALSE(sheet.m_whatPage.IsReloadPending());
    EXPECT_NE(tree->GetCollection(), before);
    EXPECT_FALSE(tree->topLevelItem(0)->child(0)->text(0).contains("changed"));
}

TEST(CacheSheetOpener, TheCachingItemOpensTheSheet) {
    CConfigurationDialogs dialogs;
    AddCacheSheet(dialogs);
    bool opened = false;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        opened = dynamic_cast<CCacheSheet*>(&dialog) != nullptr;
        return int(QDialog::Rejected);
    });
    dialogs.cacheSheet(nullptr);
    SetChildDialogAnswerer({});
    EXPECT_TRUE(opened);
}

}  // namespace
