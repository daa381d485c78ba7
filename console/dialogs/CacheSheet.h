#pragma once
// The cache property sheet CCacheSheet (dialog 174, "Cache properties") and its pages General
// (175), What to cache (177) and What to purge (176). It edits the console's copy of the web
// cache's settings (theConfiguration's cache) in place and sends them to the engine.
//
// Each filter page edits a working copy of its filter collection, made when the page loads;
// the cache's collection takes a copy of it only when the sheet is applied.
//
// While open (from the first show until OK or Cancel closes it), the sheet is the application's
// cache sheet (CWardenhallApp::m_cacheSheetWindow): the console session's notice 131 (the
// engine's new cache settings) then reloads every page from the cache, dropping unapplied
// edits, also when it echoes this sheet's own Apply. A filter page whose Criterion dialog is
// open at that moment reloads once the dialog has closed, so the dialog never writes into a
// working copy that is gone.
//
// Apply (3) and OK store the three pages into the cache under its lock, and, on-line, queue
// request 131 (the session sends the cache's settings); off-line only the copy changes. Apply
// keeps the sheet open. "Rebuild Index" queues 134, "Purge Now" 132, on-line only: the engine
// purges with the purge filter it holds, so edits that were not applied are not used.
// GUI thread only.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"

#include <memory>

struct CConfigurationDialogs;

class CRequestFilterCollection;
class CRequestFilterTree;
class CWWWCache;

class CCacheGeneralPage : public CCachePage {
    Q_OBJECT
public:
    CCacheGeneralPage();

    // The settings into the fields and the controls.
    BOOL Reload();
    void Store() override;

    BOOL m_lookups = FALSE, m_additions = FALSE, m_limitSize = FALSE, m_autoPurge = FALSE;
    DWORD m_maxSize = 0, m_daysVolatile = 0, m_daysNonVolatile = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
};

// What the two filter pages share: the tree (1236) over a working copy of one of the cache's
// collections, with "Add Filter" (1237), "Add Criterion" (1238) and "Delete" (1229).
class CCacheFilterPage : public CCachePage {
    Q_OBJECT
public:
    CRequestFilterTree* Tree() const { return m_tree; }
    CRequestFilterCollection& WorkingCopy() const { return *m_working; }
    // Whether a reload waits for the tree's Criterion dialog to close.
    bool IsReloadPending() const { return m_reloadPending; }

    // A new working copy of the cache's collection (and what LoadFields reads), the tree
    // refilled, the controls loaded and UpdateControls; deferred while a Criterion dialog of
    // the tree is open.
    void Reload();
    // The working copy into the cache's collection.
    void Store() override;

protected:
    // `serviceKind`: the tree's kind code.
    CCacheFilterPage(int templateId, int serviceKind);
    ~CCacheFilterPage() override;

    // The collection of `cache` the page edits.
    virtual CRequestFilterCollection& Collection(CWWWCache& cache) const = 0;

    // The tree with its three buttons below it, for the page's layout.
    QWidget* MakeTreeBox();
    // Whether the three buttons act now. Default: always.
    virtual bool ButtonsAct() const { return true; }
    // Loads what the page edits beside the collection, under the cache's lock. Default: nothing.
    virtual void LoadFields() {}

    BOOL OnInitDialog() override;

private:
    void OnTreeButton(int id);

    int m_serviceKind;
    CRequestFilterTree* m_tree;
    std::unique_ptr<CRequestFilterCollection> m_working;
    bool m_reloadPending = false;
};

class CCacheWhatPage : public CCacheFilterPage {
    Q_OBJECT
public:
    CCacheWhatPage();

    void Store() override;
    // The tree is enabled exactly when "Cache everything" is not checked.
    void UpdateControls() override;

    // SpecifyWhatToCache as the radio's index.
    int m_specify = 0;

protected:
    CRequestFilterCollection& Collection(CWWWCache& cache) const override;
    bool ButtonsAct() const override;
    void LoadFields() override;
    void DoDataExchange(CDataExchange& dx) override;
};

class CCachePurgePage : public CCacheFilterPage {
    Q_OBJECT
public:
    CCachePurgePage();

protected:
    CRequestFilterCollection& Collection(CWWWCache& cache) const override;
};

class CCacheSheet : public CRecordedSheetDlg {
    Q_OBJECT
public:
    // A sheet over the console's cache (theConfiguration's).
    explicit CCacheSheet(QWidget* parent = nullptr);

    // Reloads the three pages from the cache (notice 131).
    void ReloadPages();

    CCacheGeneralPage m_generalPage;
    CCacheWhatPage m_whatPage;
    CCachePurgePage m_purgePage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override;
    bool event(QEvent* event) override;
};

// The configuration tree's "Caching" opens the sheet, modal; answers QDialog::Accepted or
// Rejected.
int EditCacheProperties(QWidget* parent);
void AddCacheSheet(CConfigurationDialogs& dialogs);
