#include "console/dialogs/DialerSheet.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/WardenhallView.h"
#include "console/dialogs/EditProfileSheet.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "dialer/Dialer.h"
#include "engine/NorvaneEngine.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "remote/RCPOperations.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

using UserDialogKit::MakeListBox;
using UserDialogKit::Numbered;

namespace {

constexpr int kProfileList = 1204, kRemoveProfile = 1013, kAddProfile = 1015, kReset = 1016, kDial = 1017;
constexpr int kSiteList = 1227, kSiteEdit = 1228, kAddSite = 1098, kRemoveSite = 1229;
constexpr int kNoLogging = 1243, kLogEvents = 1247, kLogDialing = 1246, kLogDebug = 1176, kInterval = 1245;
constexpr int kDescriptionColumn = 1, kStatusColumn = 2;

// A Phonebook row: it holds its profile, so the profile outlives the dialer's reference.
class CProfileRow : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 7;
    CProfileRow(QTreeWidget* list, CDialerProfile& profile)
        : QTreeWidgetItem(list, kType), profile(CRef<CDialerProfile>(&profile)) {}
    CRef<CDialerProfile> profile;
};

QPushButton* Button(const char* text, int id) { return Numbered(new QPushButton(text), id); }

CDialer& ConsoleDialer() { return theConfiguration.GetDialer(); }

}  // namespace

// --- Phonebook ------------------------------------------------------------------------------------

CDialerPhonebookPage::CDialerPhonebookPage(CDialer& dialer)
    : CTabPage(ConsoleIds::kDialerPhonebookPage),
      m_dialer(dialer),
      m_list(UserDialogKit::MakeList(kProfileList, {{"Profile", 100}, {"Description", 170}, {"Status", 110}})) {
    setWindowTitle("Phonebook");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Phonebook entries"));
    layout->addWidget(m_list, 1);
    auto* buttons = new QHBoxLayout;
    auto* remove = Button("R&emove", kRemoveProfile);
    auto* add = Button("&Add", kAddProfile);
    auto* reset = Button("&Reset", kReset);
    auto* dial = Button("&Dial", kDial);
    for (QPushButton* button : {remove, add, reset, dial})
        buttons->addWidget(button);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(remove, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(reset, &QPushButton::clicked, this, [this] { OnDialOrReset(RCPOperations::kArgOff); });
    connect(dial, &QPushButton::clicked, this, [this] { OnDialOrReset(RCPOperations::kArgOn); });
    UserDialogKit::OnDoubleClick(m_list, [this](QTreeWidgetItem* row) { OnEdit(row); });
}

BOOL CDialerPhonebookPage::OnInitDialog() {
    Refill();
    return CTabPage::OnInitDialog();
}

CDialerProfile* CDialerPhonebookPage::ProfileOf(const QTreeWidgetItem* row) {
    if (row == nullptr || row->type() != CProfileRow::kType)
        return nullptr;
    return static_cast<const CProfileRow*>(row)->profile.Get();
}

QTreeWidgetItem* CDialerPhonebookPage::RowOf(const CDialerProfile* profile) const {
    if (profile == nullptr)
        return nullptr;
    for (int index = 0; index < m_list->topLevelItemCount(); ++index) {
        QTreeWidgetItem* row = m_list->topLevelItem(index);
        if (ProfileOf(row) == profile)
            return row;
    }
    return nullptr;
}

void CDialerPhonebookPage::Refill() {
    m_list->clear();
    CLockableMap& profiles = m_dialer.GetProfileMap();
    CScopedLock lock(profiles);
    for (const auto& [name, object] : profiles)
        AddRow(*static_cast<CDialerProfile*>(object));
}

QTreeWidgetItem* CDialerPhonebookPage::AddRow(CDialerProfile& profile) {
    auto* row = new CProfileRow(m_list, profile);
    row->setText(0, ToDisplay(profile.GetName()));
    row->setIcon(0, ConsoleImages::Image(ConsoleIds::kDialerImage));
    ShowColumns(row);
    return row;
}

void CDialerPhonebookPage::ShowColumns(QTreeWidgetItem* row) {
    CDialerProfile* profile = ProfileOf(row);
    row->setText(kDescriptionColumn, ToDisplay(profile->GetDescriptionText()));
    row->setText(kStatusColumn, ToDisplay(profile->GetStatusText()));
}

void CDialerPhonebookPage::ShowStatus(const CDialerProfile* profile) {
    if (QTreeWidgetItem* row = RowOf(profile))
        row->setText(kStatusColumn, ToDisplay(ProfileOf(row)->GetStatusText()));
}

void CDialerPhonebookPage::OnAdd() {
    CEditProfileSheet sheet(nullptr, m_dialer, this);
    if (ExecChildDialog(sheet) != QDialog::Accepted)
        return;
    CRef<CDialerProfile> profile = sheet.TakeNewObject();
    if (!profile)
        return;
    CScopedLock lock(m_dialer.GetProfileMap());
    CDialerProfile& added = *profile;
    m_dialer.AddProfile(profile.Detach());
    m_list->setCurrentItem(AddRow(added));
}

void CDialerPhonebookPage::OnRemove() {
    QTreeWidgetItem* row = UserDialogKit::SelectedRow(m_list);
    CDialerProfile* profile = ProfileOf(row);
    if (profile == nullptr)
        return;
    {
        // Only the row's own profile goes: another one kept under the name stays.
        CLockableMap& profiles = m_dialer.GetProfileMap();
        CScopedLock lock(profiles);
        if (m_dialer.FindProfile(profile->GetName()).Get() == profile)
            m_dialer.RemoveProfile(profile->GetName());
    }
    delete row;
}

void CDialerPhonebookPage::OnEdit(QTreeWidgetItem* clicked) {
    const CRef<CDialerProfile> profile(ProfileOf(clicked));
    if (!profile)
        return;
    CEditProfileSheet sheet(profile.Get(), m_dialer, this);
    if (ExecChildDialog(sheet) != QDialog::Accepted)
        return;
    // A 62 notice may have refilled the list meanwhile: the row is found again by its profile.
    if (QTreeWidgetItem* row = RowOf(profile.Get())) {
        CScopedLock lock(m_dialer.GetProfileMap());
        ShowColumns(row);
    }
}

void CDialerPhonebookPage::OnDialOrReset(const char* action) {
    CDialerProfile* profile = ProfileOf(UserDialogKit::SelectedRow(m_list));
    IConsoleSession& session = ConsoleSession();
    if (profile == nullptr || !session.IsOnline())
        return;
    session.QueueMessage(RCPOperations::kDialHangUp, profile->GetName(), action, {});
}

// --- Local sites ----------------------------------------------------------------------------------

CDialerLocalSitesPage::CDialerLocalSitesPage(CDialer& dialer)
    : CTabPage(ConsoleIds::kDialerLocalSitesPage),
      m_dialer(dialer),
      m_list(MakeListBox(kSiteList)),
      m_edit(Numbered(new QLineEdit, kSiteEdit)) {
    setWindowTitle("Local sites");
    auto* group = new QGroupBox;
    auto* text = new QLabel(ConsoleTexts::kLocalSitesGroup);
    text->setWordWrap(true);
    auto* grid = new QGridLayout(group);
    grid->addWidget(text, 0, 0, 1, 2);
    grid->addWidget(m_list, 1, 0, 1, 2);
    grid->addWidget(m_edit, 2, 0, 1, 2);
    auto* add = Button("&Add", kAddSite);
    auto* remove = Button("R&emove", kRemoveSite);
    grid->addWidget(add, 3, 0);
    grid->addWidget(remove, 3, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(remove, &QPushButton::clicked, this, [this] { OnRemove(); });
}

BOOL CDialerLocalSitesPage::OnInitDialog() {
    Reload();
    return CTabPage::OnInitDialog();
}

void CDialerLocalSitesPage::Reload() {
    m_list->clear();
    for (const std::string& site : m_dialer.GetLocalSites())
        InsertSorted(m_list, ToDisplay(site));
}

void CDialerLocalSitesPage::OnAdd() {
    const std::string site = FromDisplay(m_edit->text());
    if (site.empty())
        return;
    if (!CDialer::IsUsableLocalSite(site)) {
        ConsoleBeep();
        return;
    }
    // Letter case as the store folds it: two sites it cannot keep apart make the engine
    // refuse the whole dialer.
    const std::vector<std::string> sites = Sites();
    for (std::size_t row = 0; row < sites.size(); ++row) {
        if (RegFoldName(sites[row]) == RegFoldName(site)) {
            m_list->setCurrentRow(static_cast<int>(row));
            ConsoleBeep();
            return;
        }
    }
    m_list->setCurrentRow(InsertSorted(m_list, ToDisplay(site)));
}

void CDialerLocalSitesPage::OnRemove() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    std::unique_ptr<QListWidgetItem> taken(m_list->takeItem(m_list->row(selected.front())));
    m_edit->setText(taken->text());
}

std::vector<std::string> CDialerLocalSitesPage::Sites() const {
    std::vector<std::string> sites;
    for (int row = 0; row < m_list->count(); ++row)
        sites.push_back(FromDisplay(m_list->item(row)->text()));
    return sites;
}

void CDialerLocalSitesPage::Store() { m_dialer.SetLocalSites(Sites()); }

// --- Settings -------------------------------------------------------------------------------------

CDialerSettingsPage::CDialerSettingsPage(CDialer& dialer)
    : CTabPage(ConsoleIds::kDialerSettingsPage), m_dialer(dialer) {
    setWindowTitle("Settings");
    auto* layout = new QVBoxLayout(this);
    auto* radios = new QButtonGroup(this);
    auto* noLogging = Numbered(new QRadioButton("No logging"), kNoLogging);
    auto* logEvents = Numbered(new QRadioButton("Log these events"), kLogEvents);
    auto* events = new QGroupBox;
    auto* boxes = new QVBoxLayout(events);
    boxes->addWidget(Numbered(new QCheckBox("Dialing / hanging up"), kLogDialing));
    boxes->addWidget(Numbered(new QCheckBox("Debug"), kLogDebug));
    for (QRadioButton* radio : {noLogging, logEvents}) {
        radios->addButton(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { UpdateControls(); });
    }
    layout->addWidget(noLogging);
    layout->addWidget(logEvents);
    layout->addWidget(events);
    auto* interval = new QHBoxLayout;
    interval->addWidget(new QLabel("Online status check update interval (sec)"));
    auto* edit = Numbered(new QLineEdit, kInterval);
    edit->setMaximumWidth(60);
    interval->addWidget(edit);
    interval->addStretch();
    layout->addLayout(interval);
    layout->addStretch();
}

BOOL CDialerSettingsPage::OnInitDialog() {
    m_interval = m_dialer.GetTimerInterval();
    m_logging = m_dialer.GetLoggingEnabled() ? 1 : 0;
    const DWORD options = m_dialer.GetLogOptions();
    m_logDialing = (options & kDialingBit) != 0;
    m_logDebug = (options & kDebugBit) != 0;
    if (!CTabPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CDialerSettingsPage::DoDataExchange(CDataExchange& dx) {
    DDX_Radio(dx, {kNoLogging, kLogEvents}, m_logging);
    DDX_Check(dx, kLogDialing, m_logDialing);
    DDX_Check(dx, kLogDebug, m_logDebug);
    DDX_UInt(dx, kInterval, m_interval, kMinInterval, kMaxInterval);
}

void CDialerSettingsPage::UpdateControls() {
    auto* noLogging = qobject_cast<QAbstractButton*>(FindControl(this, kNoLogging));
    const bool enabled = noLogging == nullptr || !noLogging->isChecked();
    for (int id : {kLogDialing, kLogDebug})
        if (QWidget* box = FindControl(this, id))
            box->setEnabled(enabled);
}

BOOL CDialerSettingsPage::Apply() { return UpdateData(TRUE); }

void CDialerSettingsPage::Store() {
    m_dialer.SetTimerInterval(m_interval);
    m_dialer.SetLoggingEnabled(m_logging == 1 ? 1 : 0);
    m_dialer.SetLogOptions((m_logDebug ? kDebugBit : 0) | (m_logDialing ? kDialingBit : 0));
}

// --- The sheet ------------------------------------------------------------------------------------

CDialerSheet::CDialerSheet(QWidget* parent) : CDialerSheet(ConsoleDialer(), parent) {}

CDialerSheet::CDialerSheet(CDialer& dialer, QWidget* parent)
    : CRecordedSheetDlg(ConsoleIds::kDialerSheet, theApp.m_dialerSheetWindow, theApp.m_dialerSheetRegistered, parent,
                        true),
      m_phonebookPage(dialer),
      m_localSitesPage(dialer),
      m_settingsPage(dialer),
      m_dialer(dialer) {}

void CDialerSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kDialerImage));
    for (CTabPage* page : std::initializer_list<CTabPage*>{&m_phonebookPage, &m_localSitesPage, &m_settingsPage})
        TabSheet().AddPage(page);
    TabSheet().SetActivePage(0);
    setWindowTitle(ConsoleTexts::kDialerSheetCaption);
    Record();
}

bool CDialerSheet::event(QEvent* event) {
    if (event->type() != CViewUpdateEvent::Type())
        return CRecordedSheetDlg::event(event);
    auto* update = static_cast<CViewUpdateEvent*>(event);
    switch (update->Code()) {
    case RCPOperations::kNotifyDialer:
        m_phonebookPage.Refill();
        m_localSitesPage.Reload();
        break;
    case RCPOperations::kNotifyDialerState:
        m_phonebookPage.ShowStatus(dynamic_cast<const CDialerProfile*>(update->Object().Get()));
        break;
    default: break;
    }
    return true;
}

void CDialerSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CScopedLock lock(m_dialer.GetProfileMap());
    storeAll();
}

void CDialerSheet::OnApplied() {
    IConsoleSession& session = ConsoleSession();
    if (session.IsOnline())
        session.QueueMessage(RCPOperations::kModifyDialer, {}, {}, {});
}

int EditDialerProperties(QWidget* parent) {
    CDialerSheet sheet(parent);
    return ExecChildDialog(sheet);
}

void AddDialerDialogs(CConfigurationDialogs& dialogs) {
    dialogs.dialerSheet = [](QWidget* parent) { EditDialerProperties(parent); };
}
