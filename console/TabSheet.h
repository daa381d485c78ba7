#pragma once
// CTabSheet: the tab control of a property sheet (control 1040 of every sheet dialog): a tab bar
// over a display area that shows one page at a time. Each tab carries its page's title, its
// image and the page itself. The pages are the sheet dialog's (usually its members): the tab
// control shows and hides them but never deletes them, and forgets a page that is destroyed.
//
// A click on another tab (or a key on the tab bar) leaves the active page first: its values are
// saved into its fields, and when a value is refused the tab bar goes back to the page's tab
// and the page stays. Every tab shows, also the only one. GUI thread only.

#include "platform/kernel/Types.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class CTabPage;
class QTabBar;

class CTabSheet : public QWidget {
    Q_OBJECT
public:
    static constexpr int kControlId = 1040;

    // `currentPage`: the page index remembered before any is shown (normally 0).
    explicit CTabSheet(int currentPage = 0, QWidget* parent = nullptr);
    ~CTabSheet() override;

    // Records this sheet in `page`, appends it, inserts its tab at the end and creates the page
    // (a child of the display area, hidden; its OnInitDialog loads its fields). FALSE when the
    // page is null, already in a sheet, or was not created (its tab stays, and activating it
    // tries again).
    BOOL AddPage(CTabPage* page);

    // The page of the selected tab; null when there is none.
    CTabPage* GetActivePage() const;
    // The page of tab `index`; null when there is no such tab.
    CTabPage* GetPage(int index) const;
    // The tab index of `page`; -1 when this sheet does not hold it.
    int GetPageIndex(const CTabPage* page) const;
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }

    // Shows and enables page `index` (creating it when it is not yet), loads its controls from
    // its fields, hides the page shown before and selects the tab. No values are taken from the
    // page it replaces. FALSE when there is no such page or it cannot be created.
    BOOL SetActivePage(int index);
    BOOL SetActivePage(CTabPage* page);

    // Goes to page `index` as a click on its tab does: the active page's values are saved
    // first, and a refusal keeps it. TRUE when page `index` is active afterwards.
    BOOL SelectPage(int index);

    QTabBar* TabBar() const { return m_tabBar; }

private:
    void OnTabChanged(int index);

    QTabBar* m_tabBar;
    QWidget* m_pageArea;
    std::vector<QPointer<CTabPage>> m_pages;
    int m_current;
    // Set while the sheet itself moves the tab bar's selection.
    bool m_selecting = false;
};
