#include "console/dialogs/RecipientSheet.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/RequestFilterTree.h"
#include "console/dialogs/TimeSliceDlg.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace UserDialogKit;

namespace {

constexpr int kEveryone = 1105, kSpecifyUser = 1106;
constexpr int kLevelIds[] = {1107, 1108, 1109};
constexpr int kEverywhere = 1111, kSpecifyLocations = 1110;
constexpr int kAlways = 1120, kSpecifyTimes = 1121;
constexpr int kAllRequests = 1120, kSpecifyRequests = 1173;

// Two exclusive radios in a layout; each click runs `clicked`.
void AddRadios(QWidget* page, QBoxLayout* layout, std::initializer_list<std::pair<int, const char*>> radios,
               const std::function<void()>& clicked) {
    auto* group = new QButtonGroup(page);
    for (auto [id, text] : radios) {
        auto* radio = Numbered(new QRadioButton(QString::fromLatin1(text)), id);
        group->addButton(radio);
        layout->addWidget(radio);
        QObject::connect(radio, &QRadioButton::clicked, page, clicked);
    }
}

CGroupMemberDatabase& ConsoleUsers() { return theConfiguration.GetUserDatabase(); }

}  // namespace

// --- Recipient ----------------------------------------------------------------------------------

CRecipientUserPage::CRecipientUserPage(CGroupMemberDatabase& database)
    : CRecipientPage(ConsoleIds::kRecipientUserPage),
      m_database(database),
      m_chooser(new CUserGroupChooser(kEveryone, "Everyone", kSpecifyUser, "Specify user or group")) {
    setWindowTitle("Recipient");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_chooser);
    auto* levels = new QButtonGroup(this);
    const char* texts[] = {"User may be unknown", "User may be assumed", "User must be authenticated"};
    for (int level = 0; level < 3; ++level) {
        auto* radio = Numbered(new QRadioButton(texts[level]), kLevelIds[level]);
        levels->addButton(radio);
        layout->addWidget(radio);
    }
    // The identity radios only enable the list: choosing does not change the recipient yet.
    connect(m_chooser, &CUserGroupChooser::RadioClicked, this, [this] { UpdateControls(); });
}

BOOL CRecipientUserPage::OnInitDialog() {
    m_specifyUser = m_object->GetSpecifyUser() != 0 ? 1 : 0;
    m_securityLevel = static_cast<int>(std::min<DWORD>(m_object->GetMinimumSecurityLevel(), 0x7FFFFFFF));
    // A new recipient's default name ("Everyone") names no entry: "Specify user or group"
    // needs a name chosen from the list.
    m_userName = m_existing ? m_object->GetUserName() : std::string();
    m_chooser->Fill(m_database);
    if (!CRecipientPage::OnInitDialog())
        return FALSE;
    m_chooser->SetIdentityLocked(m_existing != 0);
    return TRUE;
}

void CRecipientUserPage::DoDataExchange(CDataExchange& dx) {
    m_chooser->Exchange(dx, m_specifyUser, m_userName);
    DDX_Radio(dx, {kLevelIds[0], kLevelIds[1], kLevelIds[2]}, m_securityLevel);
}

void CRecipientUserPage::UpdateControls() { m_chooser->UpdateControls(); }

BOOL CRecipientUserPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (!m_existing && m_specifyUser && m_userName.empty()) {
        ConsoleMessageBox(this, ConsoleTexts::kSelectUserOrGroup, ConsoleTexts::kErrorTitle, MB::kOk);
        return FALSE;
    }
    return TRUE;
}

void CRecipientUserPage::Store() {
    // A new recipient left on "Everyone" keeps its default name; an existing one keeps its own.
    if (!m_existing && m_specifyUser)
        m_object->SetUserName(m_userName);
    if (!m_existing)
        m_object->SetSpecifyUser(static_cast<DWORD>(m_specifyUser));
    m_object->SetMinimumSecurityLevel(static_cast<DWORD>(m_securityLevel));
}

// --- Location -----------------------------------------------------------------------------------

CRecipientLocationPage::CRecipientLocationPage()
    : CRecipientPage(ConsoleIds::kRecipientLocationPage),
      m_lists(new CPatternLists(kEverywhere, "Recipient has rights from everywhere", kSpecifyLocations,
                                "Specify locations from where this recipient has rights")) {
    setWindowTitle("Location");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lists);
    connect(m_lists, &CPatternLists::Changed, this, [this] { m_changed = 1; });
}

BOOL CRecipientLocationPage::OnInitDialog() {
    m_specifyLocation = m_object->GetSpecifyLocation() != 0 ? 1 : 0;
    m_lists->Load(m_object->GetIncludedLocations(), m_object->GetExcludedLocations());
    if (!CRecipientPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CRecipientLocationPage::DoDataExchange(CDataExchange& dx) { m_lists->Exchange(dx, m_specifyLocation); }

void CRecipientLocationPage::UpdateControls() { m_lists->UpdateControls(); }

BOOL CRecipientLocationPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (!m_specifyLocation || !m_changed)
        return TRUE;
    const AddressPatternList included = m_lists->Included();
    if (included.empty())
        return ConsoleSheetQuestion(this, ConsoleTexts::kNoLocations, ConsoleTexts::kInvalidSetting);
    if (!AddressAdmitted(included, m_lists->Excluded(), ConsoleTexts::kLocalhost))
        return ConsoleSheetQuestion(this, ConsoleTexts::kLocalhostBanned, ConsoleTexts::kPossibleProblem);
    return TRUE;
}

void CRecipientLocationPage::Store() {
    m_object->SetSpecifyLocation(static_cast<DWORD>(m_specifyLocation));
    m_object->SetIncludedLocations(m_lists->Included());
    m_object->SetExcludedLocations(m_lists->Excluded());
}

// --- Time ---------------------------------------------------------------------------------------

CRecipientTimePage::CRecipientTimePage()
    : CRecipientPage(ConsoleIds::kRecipientTimePage),
      m_included(MakeListBox(kIncludedList)),
      m_excluded(MakeListBox(kExcludedList)) {
    setWindowTitle("Time");
    auto* layout = new QVBoxLayout(this);
    AddRadios(this, layout,
              {{kAlways, "Recipient has rights always"}, {kSpecifyTimes, "Specify times when this recipient has rights"}},
              [this] {
                  m_changed = 1;
                  UpdateControls();
              });
    auto* grid = new QGridLayout;
    int column = 0;
    for (auto [list, label, add, remove] : {std::tuple{m_included, "Included times:", kIncludedAdd, kIncludedRemove},
                                            {m_excluded, "Excluded times:", kExcludedAdd, kExcludedRemove}}) {
        const bool inclusion = list == m_included;
        grid->addWidget(new QLabel(label), 0, column);
        grid->addWidget(list, 1, column);
        auto* buttons = new QHBoxLayout;
        auto* addButton = Numbered(new QPushButton("Add"), add);
        auto* removeButton = Numbered(new QPushButton("Remove"), remove);
        buttons->addWidget(addButton);
        buttons->addWidget(removeButton);
        grid->addLayout(buttons, 2, column);
        connect(addButton, &QPushButton::clicked, this, [this, inclusion] { AddSlice(inclusion); });
        connect(removeButton, &QPushButton::clicked, this, [this, inclusion] { RemoveSlice(inclusion); });
        connect(list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* row) { EditSlice(row); });
        ++column;
    }
    layout->addLayout(grid);
}

namespace {

CTimeSlice* SliceOf(const QListWidgetItem* row) {
    return row ? static_cast<CTimeSlice*>(row->data(Qt::UserRole).value<void*>()) : nullptr;
}

void AddSliceRow(QListWidget* list, CTimeSlice& slice) {
    const int row = InsertSorted(list, ToDisplay(slice.GetDescriptionText()));
    list->item(row)->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(&slice)));
}

void FillSlices(QListWidget* list, CLockableList& slices) {
    list->clear();
    CScopedLock lock(slices);
    for (CObject* slice : slices)
        AddSliceRow(list, *static_cast<CTimeSlice*>(slice));
}

}  // namespace

BOOL CRecipientTimePage::OnInitDialog() {
    m_specifyTime = m_object->GetSpecifyTime() != 0 ? 1 : 0;
    FillSlices(m_included, m_object->GetTimeFilter().GetInclusions());
    FillSlices(m_excluded, m_object->GetTimeFilter().GetExclusions());
    if (!CRecipientPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CRecipientTimePage::DoDataExchange(CDataExchange& dx) { DDX_Radio(dx, {kAlways, kSpecifyTimes}, m_specifyTime); }

void CRecipientTimePage::UpdateControls() {
    const bool enabled = !IsControlChecked(this, kAlways);
    for (int id : {kIncludedList, kExcludedList, kIncludedAdd, kIncludedRemove, kExcludedAdd, kExcludedRemove})
        FindControl(this, id)->setEnabled(enabled);
}

void CRecipientTimePage::AddSlice(bool inclusion) {
    CTimeSliceDlg dialog(this);
    if (ExecChildDialog(dialog) != QDialog::Accepted)
        return;
    CRef<CTimeSlice> slice = dialog.TakeNewSlice();
    if (!slice)
        return;
    CTimeFilter& filter = m_object->GetTimeFilter();
    if (!(inclusion ? filter.AddInclusion(slice.Get()) : filter.AddExclusion(slice.Get())))
        return;
    CTimeSlice* added = slice.Detach();
    AddSliceRow(inclusion ? m_included : m_excluded, *added);
    m_changed = 1;
}

void CRecipientTimePage::RemoveSlice(bool inclusion) {
    QListWidget* list = inclusion ? m_included : m_excluded;
    QListWidgetItem* row = list->currentItem();
    if (row == nullptr || !row->isSelected())
        return;
    CTimeSlice* slice = SliceOf(row);
    delete row;
    CTimeFilter& filter = m_object->GetTimeFilter();
    if (inclusion)
        filter.RemoveInclusion(slice);
    else
        filter.RemoveExclusion(slice);
    m_changed = 1;
}

void CRecipientTimePage::EditSlice(QListWidgetItem* row) {
    CTimeSlice* slice = SliceOf(row);
    if (slice == nullptr)
        return;
    CTimeSliceDlg dialog(*slice, this);
    if (ExecChildDialog(dialog) != QDialog::Accepted)
        return;
    // The row goes to the sorted place of its new text, still showing the same slice.
    QListWidget* list = row->listWidget();
    delete row;
    AddSliceRow(list, *slice);
    m_changed = 1;
}

BOOL CRecipientTimePage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_specifyTime && m_changed && m_included->count() == 0)
        return ConsoleSheetQuestion(this, ConsoleTexts::kNoTimeSlices, ConsoleTexts::kInvalidSetting);
    return TRUE;
}

void CRecipientTimePage::Store() { m_object->SetSpecifyTime(static_cast<DWORD>(m_specifyTime)); }

// --- Request ------------------------------------------------------------------------------------

CRecipientRequestPage::CRecipientRequestPage()
    : CRecipientPage(ConsoleIds::kRecipientRequestPage), m_tree(new CRequestFilterTree) {
    setWindowTitle("Request");
    auto* layout = new QVBoxLayout(this);
    AddRadios(this, layout,
              {{kAllRequests, "Recipient has rights for all requests"},
               {kSpecifyRequests, "Specify which requests this recipient has rights for"}},
              [this] {
                  UpdateControls();
                  m_changed = 1;
              });
    layout->addWidget(m_tree);
    auto* buttons = new QHBoxLayout;
    for (auto [id, text] : {std::pair{kAddFilter, "Add Filter"}, {kAddCriterion, "Add Criterion"}, {kDelete, "Delete"}}) {
        auto* button = Numbered(new QPushButton(text), id);
        buttons->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, id] { OnButton(id); });
    }
    layout->addLayout(buttons);
}

BOOL CRecipientRequestPage::OnInitDialog() {
    m_specifyRequest = m_object->GetSpecifyRequest() != 0 ? 1 : 0;
    if (!CRecipientPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    m_tree->SetCollection(m_serviceKind, &m_object->GetRequestFilter());
    m_tree->Fill();
    return TRUE;
}

void CRecipientRequestPage::DoDataExchange(CDataExchange& dx) {
    DDX_Radio(dx, {kAllRequests, kSpecifyRequests}, m_specifyRequest);
}

void CRecipientRequestPage::UpdateControls() { m_tree->setEnabled(!IsControlChecked(this, kAllRequests)); }

void CRecipientRequestPage::OnButton(int id) {
    if (IsControlChecked(this, kAllRequests))
        return;
    switch (id) {
    case kAddFilter: m_tree->AddFilter(); break;
    case kAddCriterion: m_tree->AddCriterion(); break;
    default: m_tree->OnKeyUp(Qt::Key_Delete); break;
    }
    m_changed = 1;
}

void CRecipientRequestPage::Detach() {
    m_tree->SetCollection(m_serviceKind, nullptr);
    m_tree->Fill();
}

BOOL CRecipientRequestPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (!m_specifyRequest || !m_changed)
        return TRUE;
    bool empty = false;
    {
        CRequestFilterCollection& filters = m_object->GetRequestFilter();
        CScopedLock lock(filters);
        empty = filters.IsEmpty();
    }
    return !empty || ConsoleSheetQuestion(this, ConsoleTexts::kNoRequestFilters, ConsoleTexts::kInvalidSetting);
}

void CRecipientRequestPage::Store() { m_object->SetSpecifyRequest(static_cast<DWORD>(m_specifyRequest)); }

// --- The sheet ------------------------------------------------------------------------------------

CEditRecipientSheet::CEditRecipientSheet(CRecipient* recipient, BOOL existing, int serviceKind, DWORD rightType,
                                         QWidget* parent)
    : CEditRecipientSheet(recipient, existing, serviceKind, rightType, ConsoleUsers(), parent) {}

CEditRecipientSheet::CEditRecipientSheet(CRecipient* recipient, BOOL existing, int serviceKind, DWORD rightType,
                                         CGroupMemberDatabase& database, QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kEditRecipientSheet, parent),
      m_userPage(database),
      m_serviceKind(serviceKind),
      m_rightType(rightType) {
    setWindowTitle("Edit Recipient");
    // An existing recipient must be given; without one the sheet makes a new recipient.
    SetObject(existing ? recipient : nullptr, existing && recipient != nullptr);
}

void CEditRecipientSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kUserImage));
    CRecipient* recipient = GetObject();
    if (IsExisting())
        setWindowTitle(ToDisplay(FormatText(ConsoleTexts::kRecipientSheetCaption, recipient->GetUserName().c_str())));
    else
        setWindowTitle(QString::fromLatin1(ConsoleTexts::kNewRecipientSheetCaption));
    for (CRecipientPage* page : std::initializer_list<CRecipientPage*>{&m_userPage, &m_locationPage, &m_timePage}) {
        page->SetObject(recipient, IsExisting());
        TabSheet().AddPage(page);
    }
    if (m_rightType == RightAccess) {
        m_requestPage.SetObject(recipient, IsExisting());
        m_requestPage.SetServiceKind(m_serviceKind);
        TabSheet().AddPage(&m_requestPage);
    }
}

void CEditRecipientSheet::reject() {
    if (!IsExisting())
        m_requestPage.Detach();
    CObjectSheetDlg::reject();
}
