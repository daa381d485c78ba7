#include "console/TabSheet.h"

#include "console/ConsoleImages.h"
#include "console/Controls.h"
#include "console/MessageBox.h"
#include "console/TabPage.h"

#include <QGridLayout>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QVBoxLayout>

namespace {

// The display area: the pages, all in one cell (so the area is as large as the largest page),
// inside the frame a tab widget draws under its tabs.
class CPageArea : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionTabWidgetFrame frame;
        frame.initFrom(this);
        frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        frame.shape = QTabBar::RoundedNorth;
        painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
    }
};

// Sets `flag` for a scope.
class CFlagScope {
public:
    explicit CFlagScope(bool& flag) : m_flag(flag), m_was(flag) { m_flag = true; }
    ~CFlagScope() { m_flag = m_was; }
    CFlagScope(const CFlagScope&) = delete;
    CFlagScope& operator=(const CFlagScope&) = delete;

private:
    bool& m_flag;
    bool m_was;
};

constexpr int kPageMargin = 7;

}  // namespace

CTabSheet::CTabSheet(int currentPage, QWidget* parent)
    : QWidget(parent), m_tabBar(new QTabBar(this)), m_pageArea(new CPageArea(this)), m_current(currentPage) {
    setProperty(kControlIdProperty, kControlId);
    m_tabBar->setDrawBase(false);
    m_tabBar->setExpanding(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabBar, 0, Qt::AlignLeft);
    layout->addWidget(m_pageArea, 1);
    auto* pages = new QGridLayout(m_pageArea);
    pages->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    connect(m_tabBar, &QTabBar::currentChanged, this, &CTabSheet::OnTabChanged);
}

CTabSheet::~CTabSheet() {
    // The pages are their dialog's: hand back those still alive, unparented, before the display
    // area (their parent) goes.
    for (const QPointer<CTabPage>& page : m_pages) {
        if (page && page->parentWidget() == m_pageArea)
            page->setParent(nullptr);
    }
}

BOOL CTabSheet::AddPage(CTabPage* page) {
    if (page == nullptr || page->m_sheet != nullptr)
        return FALSE;
    page->m_sheet = this;
    m_pages.emplace_back(page);
    {
        CFlagScope selecting(m_selecting);
        m_tabBar->addTab(ConsoleImages::Image(page->GetImage()), ToDisplay(page->GetTitle()));
    }
    page->setParent(m_pageArea);
    QSizePolicy policy = page->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    page->setSizePolicy(policy);
    static_cast<QGridLayout*>(m_pageArea->layout())->addWidget(page, 0, 0);
    page->hide();
    return page->Create();
}

CTabPage* CTabSheet::GetActivePage() const { return GetPage(m_tabBar->currentIndex()); }

CTabPage* CTabSheet::GetPage(int index) const {
    if (index < 0 || index >= GetPageCount())
        return nullptr;
    return m_pages[static_cast<std::size_t>(index)].data();
}

int CTabSheet::GetPageIndex(const CTabPage* page) const {
    if (page == nullptr)
        return -1;
    for (int index = 0; index < GetPageCount(); ++index) {
        if (m_pages[static_cast<std::size_t>(index)] == page)
            return index;
    }
    return -1;
}

BOOL CTabSheet::SetActivePage(int index) {
    CTabPage* page = GetPage(index);
    if (page == nullptr)
        return FALSE;
    if (!page->IsCreated() && !page->Create())
        return FALSE;
    CTabPage* previous = GetPage(m_current);
    if (previous != nullptr && previous != page)
        previous->hide();
    page->setEnabled(true);
    page->show();
    page->UpdateData(FALSE);
    m_current = index;
    CFlagScope selecting(m_selecting);
    m_tabBar->setCurrentIndex(index);
    return m_tabBar->currentIndex() == index ? TRUE : FALSE;
}

BOOL CTabSheet::SetActivePage(CTabPage* page) { return SetActivePage(GetPageIndex(page)); }

BOOL CTabSheet::SelectPage(int index) {
    CTabPage* target = GetPage(index);
    if (target == nullptr)
        return FALSE;
    CTabPage* leaving = GetPage(m_current);
    if (leaving == target && target->isVisibleTo(this))
        return TRUE;
    if (leaving != nullptr && leaving->isVisibleTo(this) && !leaving->UpdateData(TRUE))
        return FALSE;
    return SetActivePage(index);
}

void CTabSheet::OnTabChanged(int index) {
    if (m_selecting)
        return;
    // The tab bar has already moved; it goes back until the page it shows may be left. The
    // change itself runs from the event loop, not inside the tab bar's own mouse or key handler,
    // since leaving may show a message.
    {
        CFlagScope selecting(m_selecting);
        m_tabBar->setCurrentIndex(m_current);
    }
    QMetaObject::invokeMethod(this, [this, index] { SelectPage(index); }, Qt::QueuedConnection);
}
