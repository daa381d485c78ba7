#include "console/dialogs/CacheSheet.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/RequestFilterTree.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/RequestFilterCollection.h"
#include "engine/access/RequestVariables.h"
#include "foundation/ScopedLock.h"
#include "proxies/web/WWWCache.h"
#include "remote/RCPOperations.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <utility>

using UserDialogKit::Numbered;

namespace {

constexpr int kLookups = 1214, kAdditions = 1215, kLimitSize = 1216, kMaxSize = 1219, kAutoPurge = 1220;
constexpr int kDaysVolatile = 1209, kDaysNonVolatile = 1210, kRebuildIndex = 1213;
constexpr int kCacheEverything = 1120, kSpecifyWhat = 1173, kPurgeNow = 1120;
constexpr int kAddFilter = 1237, kAddCriterion = 1238, kDeleteButton = 1229;

// CacheOptions: lookups (value 2) and additions (value 1).
constexpr DWORD kLookupsBit = 2, kAdditionsBit = 1;

// Queues request `op` with three empty strings, on-line only.
void QueueIfOnline(WORD op) {
    IConsoleSession& session = ConsoleSession();
    if (session.IsOnline())
        session.QueueMessage(op, {}, {}, {});
}

QLineEdit* NumberEdit(int id) {
    auto* edit = Numbered(new QLineEdit, id);
    edit->setAlignment(Qt::AlignRight);
    edit->setMaximumWidth(80);
    return edit;
}

}  // namespace

// --- General ------------------------------------------------------------------------------------

CCacheGeneralPage::CCacheGeneralPage() : CCachePage(ConsoleIds::kCacheGeneralPage) {
    setWindowTitle("General");
    auto* grid = new QGridLayout(this);
    grid->addWidget(Numbered(new QCheckBox("Enable cache lookups"), kLookups), 0, 0, 1, 3);
    grid->addWidget(Numbered(new QCheckBox("Enable additions to cache"), kAdditions), 1, 0, 1, 3);
    grid->addWidget(Numbered(new QCheckBox("Limit cache size to"), kLimitSize), 2, 0);
    grid->addWidget(NumberEdit(kMaxSize), 2, 1);
    grid->addWidget(new QLabel("MB"), 2, 2);
    grid->addWidget(Numbered(new QCheckBox("Purge cache when full"), kAutoPurge), 3, 0, 1, 3);
    grid->addWidget(new QLabel("Number of days before rechecking HTML files"), 4, 0);
    grid->addWidget(NumberEdit(kDaysVolatile), 4, 1);
    grid->addWidget(new QLabel("Number of days before rechecking other files"), 5, 0);
    grid->addWidget(NumberEdit(kDaysNonVolatile), 5, 1);
    auto* rebuild = Numbered(new QPushButton("Rebuild Index"), kRebuildIndex);
    grid->addWidget(rebuild, 6, 0, Qt::AlignLeft);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(7, 1);
    connect(rebuild, &QPushButton::clicked, this, [] { QueueIfOnline(RCPOperations::kRebuildCacheIndex); });
}

BOOL CCacheGeneralPage::OnInitDialog() { return Reload(); }

BOOL CCacheGeneralPage::Reload() {
    {
        CScopedLock lock(*m_object);
        const DWORD options = m_object->GetCacheOptions();
        m_lookups = (options & kLookupsBit) != 0;
        m_additions = (options & kAdditionsBit) != 0;
        m_limitSize = m_object->GetLimitCacheSize();
        m_maxSize = m_object->GetMaxSize();
        m_autoPurge = m_object->GetAutoPurge();
        m_daysVolatile = m_object->GetDaysBeforeCheckVolatile();
        m_daysNonVolatile = m_object->GetDaysBeforeCheckNonVolatile();
    }
    return UpdateData(FALSE);
}

void CCacheGeneralPage::DoDataExchange(CDataExchange& dx) {
    DDX_Check(dx, kLookups, m_lookups);
    DDX_Check(dx, kAdditions, m_additions);
    DDX_Check(dx, kLimitSize, m_limitSize);
    DDX_UInt(dx, kMaxSize, m_maxSize);
    DDX_Check(dx, kAutoPurge, m_autoPurge);
    DDX_UInt(dx, kDaysVolatile, m_daysVolatile);
    DDX_UInt(dx, kDaysNonVolatile, m_daysNonVolatile);
}

void CCacheGeneralPage::Store() {
    m_object->SetMaxSize(m_maxSize);
    m_object->SetDaysBeforeCheckVolatile(m_daysVolatile);
    m_object->SetDaysBeforeCheckNonVolatile(m_daysNonVolatile);
    m_object->SetLimitCacheSize(m_limitSize);
    m_object->SetAutoPurge(m_autoPurge);
    m_object->SetCacheOptions((m_lookups ? kLookupsBit : 0) | (m_additions ? kAdditionsBit : 0));
}

// --- The filter pages ---------------------------------------------------------------------------

CCacheFilterPage::CCacheFilterPage(int templateId, int serviceKind)
    : CCachePage(templateId),
      m_serviceKind(serviceKind),
      m_tree(new CRequestFilterTree),
      m_working(std::make_unique<CRequestFilterCollection>()) {
    connect(m_tree, &CRequestFilterTree::CriterionDialogClosed, this, [this] {
        if (std::exchange(m_reloadPending, false))
            Reload();
    });
}

CCacheFilterPage::~CCacheFilterPage() {
    // The tree (a child) goes after this: it must not keep the working copy that goes now.
    m_tree->SetCollection(m_serviceKind, nullptr);
}

QWidget* CCacheFilterPage::MakeTreeBox() {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree, 1);
    auto* buttons = new QHBoxLayout;
    for (auto [id, text] : {std::pair{kAddFilter, "Add Filter"}, {kAddCriterion, "Add Criterion"}, {kDeleteButton, "Delete"}}) {
        auto* button = Numbered(new QPushButton(text), id);
        connect(button, &QPushButton::clicked, this, [this, id = id] { OnTreeButton(id); });
        buttons->addWidget(button);
    }
    buttons->addStretch();
    layout->addLayout(buttons);
    return box;
}

BOOL CCacheFilterPage::OnInitDialog() {
    Reload();
    return TRUE;
}

void CCacheFilterPage::Reload() {
    if (m_tree->IsCriterionDialogOpen()) {
        m_reloadPending = true;
        return;
    }
    auto working = std::make_unique<CRequestFilterCollection>();
    {
        CScopedLock lock(*m_object);
        LoadFields();
        working->Copy(Collection(*m_object));
    }
    m_tree->SetCollection(m_serviceKind, working.get());
    m_tree->Fill();
    // The tree shows the new copy before the old one goes.
    m_working = std::move(working);
    UpdateData(FALSE);
    UpdateControls();
}

void CCacheFilterPage::Store() { Collection(*m_object).Copy(*m_working); }

void CCacheFilterPage::OnTreeButton(int id) {
    if (!ButtonsAct())
        return;
    switch (id) {
    case kAddFilter: m_tree->AddFilter(); break;
    case kAddCriterion: m_tree->AddCriterion(); break;
    default: m_tree->OnKeyUp(Qt::Key_Delete); break;
    }
}

CCacheWhatPage::CCacheWhatPage()
    : CCacheFilterPage(ConsoleIds::kCacheWhatPage, kServiceKindWWW) {
    setWindowTitle("What to cache");
    auto* layout = new QVBoxLayout(this);
    auto* radios = new QButtonGroup(this);
    for (auto [id, text] : {std::pair{kCacheEverything, "Cache everything"},
                            {kSpecifyWhat, "Specify which requests will be cached"}}) {
        auto* radio = Numbered(new QRadioButton(text), id);
        radios->addButton(radio);
        layout->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { UpdateControls(); });
    }
    layout->addWidget(MakeTreeBox(), 1);
}

CRequestFilterCollection& CCacheWhatPage::Collection(CWWWCache& cache) const { return cache.GetCacheFilter(); }

void CCacheWhatPage::LoadFields() { m_specify = m_object->GetSpecifyWhatToCache() ? 1 : 0; }

void CCacheWhatPage::DoDataExchange(CDataExchange& dx) { DDX_Radio(dx, {kCacheEverything, kSpecifyWhat}, m_specify); }

bool CCacheWhatPage::ButtonsAct() const { return !IsControlChecked(this, kCacheEverything); }

void CCacheWhatPage::UpdateControls() { Tree()->setEnabled(ButtonsAct()); }

void CCacheWhatPage::Store() {
    m_object->SetSpecifyWhatToCache(static_cast<DWORD>(m_specify));
    CCacheFilterPage::Store();
}

CCachePurgePage::CCachePurgePage()
    : CCacheFilterPage(ConsoleIds::kCachePurgePage, kServiceKindCachePurge) {
    setWindowTitle("What to purge");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTreeBox(), 1);
    auto* purge = Numbered(new QPushButton("Purge Now"), kPurgeNow);
    layout->addWidget(purge, 0, Qt::AlignLeft);
    connect(purge, &QPushButton::clicked, this, [] { QueueIfOnline(RCPOperations::kPurgeCache); });
}

CRequestFilterCollection& CCachePurgePage::Collection(CWWWCache& cache) const { return cache.GetPurgeFilter(); }

// --- The sheet ------------------------------------------------------------------------------------

CCacheSheet::CCacheSheet(QWidget* parent)
    : CRecordedSheetDlg(ConsoleIds::kCacheSheet, theApp.m_cacheSheetWindow, theApp.m_cacheSheetRegistered, parent, true) {}

void CCacheSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kCacheImage));
    Record();
    setWindowTitle(QString::fromLatin1(ConsoleTexts::kCacheSheetCaption));
    CWWWCache& cache = theConfiguration.GetCache();
    for (CCachePage* page : std::initializer_list<CCachePage*>{&m_generalPage, &m_whatPage, &m_purgePage}) {
        page->SetObject(&cache, TRUE);
        TabSheet().AddPage(page);
    }
}

void CCacheSheet::ReloadPages() {
    m_generalPage.Reload();
    m_whatPage.Reload();
    m_purgePage.Reload();
}

bool CCacheSheet::event(QEvent* event) {
    if (event->type() != CViewUpdateEvent::Type())
        return CRecordedSheetDlg::event(event);
    if (static_cast<CViewUpdateEvent*>(event)->Code() == RCPOperations::kNotifyCache && m_generalPage.GetSheet())
        ReloadPages();
    return true;
}

void CCacheSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CScopedLock lock(theConfiguration.GetCache());
    storeAll();
}

void CCacheSheet::OnApplied() { QueueIfOnline(RCPOperations::kUpdateCache); }

int EditCacheProperties(QWidget* parent) {
    CCacheSheet sheet(parent);
    return ExecChildDialog(sheet);
}

void AddCacheSheet(CConfigurationDialogs& dialogs) {
    dialogs.cacheSheet = [](QWidget* parent) { EditCacheProperties(parent); };
}
