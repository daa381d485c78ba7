#include "console/dialogs/UserSheet.h"

#include "console/WardenhallView.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/ViewDispatcher.h"
#include "console/WardenhallApp.h"
#include "console/dialogs/ConfirmPasswordDlg.h"
#include "console/dialogs/GroupDlg.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"
#include "remote/RCPOperations.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace UserDialogKit;

namespace {

constexpr int kUsername = 1021, kRealName = 1025, kPassword = 1020, kConfirm = 1008, kDescription = 1002;
constexpr int kAccountEnabled = 1019, kCannotChange = 1015, kMustChange = 1016;
constexpr int kMemberList = 1043, kOtherList = 1045;

// The accounting rows, in counter order: text, quantity, rate and subtotal edits.
struct AccountingRow {
    const char* text;
    int quantity, rate, subtotal;
};
constexpr AccountingRow kAccountingRows[CUser::kCounterCount] = {
    {"Bytes sent to client", 1044, 1048, 1049},
    {"Bytes recved from client", 1045, 1050, 1051},
    {"Bytes sent for client", 1046, 1052, 1053},
    {"Bytes recved for client", 1047, 1054, 1055},
    {"Seconds on line", 1056, 1057, 1058},
};
constexpr int kTotalCharges = 1059, kReset = 1060, kOpeningBalance = 1061, kClosingBalance = 1062;

constexpr int kDoNotAudit = 1084, kAuditEvents = 1085;
// Bit 0x80 names no event.
constexpr CBitBox kAuditBoxes[] = {
    {1090, 0x1, "User login"},           {1093, 0x2, "User logout"},
    {1091, 0x4, "Configuration changes"}, {1089, 0x8, "Authorisation failures"},
    {1086, 0x10, "Session creation"},     {1088, 0x20, "Request details"},
    {1092, 0x40, "Session traffic"},      {1087, 0x100, "Session termination"},
};

QLineEdit* Figure(int id, bool readOnly = false) {
    auto* edit = Numbered(new QLineEdit, id);
    edit->setAlignment(Qt::AlignRight);
    edit->setReadOnly(readOnly);
    edit->setMaximumWidth(110);
    return edit;
}

CGroupMemberDatabase& ConsoleUsers() { return theConfiguration.GetUserDatabase(); }

}  // namespace

// --- User Info ----------------------------------------------------------------------------------

CUserInfoPage::CUserInfoPage(CGroupMemberDatabase& database)
    : CUserPage(ConsoleIds::kUserInfoPage), m_database(database) {
    setWindowTitle("User Info");
    auto* form = new QFormLayout(this);
    form->addRow("Username:", NumberedEdit(kUsername));
    form->addRow("Real name:", NumberedEdit(kRealName));
    form->addRow("Password:", NumberedEdit(kPassword, true));
    form->addRow("Confirm:", NumberedEdit(kConfirm, true));
    form->addRow("Description:", NumberedEdit(kDescription));
    form->addRow(Numbered(new QCheckBox("Account enabled"), kAccountEnabled));
    for (int id : {kCannotChange, kMustChange}) {
        auto* box = Numbered(new QCheckBox(id == kCannotChange ? "User cannot change password"
                                                               : "User must change password next logon"),
                             id);
        connect(box, &QCheckBox::clicked, this, [this] { UpdateControls(); });
        form->addRow(box);
    }
}

BOOL CUserInfoPage::OnInitDialog() {
    {
        CScopedLock lock(m_database);
        m_name = m_object->GetName();
        m_realName = m_object->GetRealName();
        m_description = m_object->GetDescriptionText();
        m_password = m_confirm = m_object->GetPassword();
        m_accountEnabled = m_object->GetAccountEnabled();
        m_cannotChange = m_object->GetUserCannotChangePassword();
        m_mustChange = m_object->GetUserMustChangePassword();
    }
    if (!CUserPage::OnInitDialog())
        return FALSE;
    EnableControl(this, kUsername, !m_existing);
    UpdateControls();
    return TRUE;
}

void CUserInfoPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kUsername, m_name);
    DDX_Text(dx, kRealName, m_realName);
    DDX_Text(dx, kPassword, m_password);
    DDX_Text(dx, kConfirm, m_confirm);
    DDX_Text(dx, kDescription, m_description);
    DDX_Check(dx, kAccountEnabled, m_accountEnabled);
    DDX_Check(dx, kCannotChange, m_cannotChange);
    DDX_Check(dx, kMustChange, m_mustChange);
    if (!dx.IsSaving() || m_password == m_confirm)
        return;
    // Two different entries: the password is typed again, and only a confirmed one is kept.
    CConfirmPasswordDlg dialog(m_password, this);
    if (ExecChildDialog(dialog) != QDialog::Accepted)
        throw CDataExchange::Refusal{dx.Control(kPassword)};
    m_password = m_confirm = dialog.Password();
    for (int id : {kPassword, kConfirm})
        static_cast<QLineEdit*>(dx.Control(id))->setText(ToDisplay(m_password));
}

void CUserInfoPage::UpdateControls() {
    EnableControl(this, kCannotChange, !IsControlChecked(this, kMustChange));
    EnableControl(this, kMustChange, !IsControlChecked(this, kCannotChange));
}

BOOL CUserInfoPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_existing || MayAddEntry(m_database, m_name, false))
        return TRUE;
    ConsoleMessageBox(this, ConsoleTexts::kUserNameTaken, ConsoleTexts::kUserNameConflict, MB::kIconStop);
    if (QWidget* name = FindControl(this, kUsername))
        name->setFocus(Qt::OtherFocusReason);
    return FALSE;
}

void CUserInfoPage::Store() {
    if (!m_existing)
        m_object->SetName(m_name);
    m_object->SetRealName(m_realName);
    m_object->SetDescription(m_description);
    m_object->SetPassword(m_password);
    m_object->SetAccountEnabled(m_accountEnabled);
    m_object->SetUserCannotChangePassword(m_cannotChange);
    m_object->SetUserMustChangePassword(m_mustChange);
}

// --- Groups ---------------------------------------------------------------------------------------

CUserGroupsPage::CUserGroupsPage(CGroupMemberDatabase& database)
    : CUserPage(ConsoleIds::kUserGroupsPage),
      m_database(database),
      m_members(MakeList(kMemberList, {{"Group", 90}, {"Description", 190}})),
      m_others(MakeList(kOtherList, {{"Group", 90}, {"Description", 190}})) {
    setWindowTitle("Groups");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Is a member of:"));
    layout->addWidget(m_members);
    layout->addWidget(new QLabel("Is not a member of:"));
    layout->addWidget(m_others);
    OnDoubleClick(m_members, [this](QTreeWidgetItem* row) { MoveRow(m_members, row, m_others); });
    OnDoubleClick(m_others, [this](QTreeWidgetItem* row) { MoveRow(m_others, row, m_members); });
}

BOOL CUserGroupsPage::OnInitDialog() {
    CScopedLock lock(m_database);
    const std::string user = m_object->GetName();
    for (const auto& [name, entry] : m_database) {
        if (auto* group = dynamic_cast<CGroup*>(entry)) {
            AddRow(group->ContainsUser(user) ? m_members : m_others, ConsoleIds::kGroupImage,
                   {group->GetName(), group->GetDescriptionText()});
        }
    }
    if (!m_existing) {
        if (CGroup* users = m_database.FindGroup(kDefaultGroup)) {
            const QString text = QString::fromLatin1(kDefaultGroup);
            for (QTreeWidgetItem* row : m_others->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive))
                delete row;
            if (m_members->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
                AddRow(m_members, ConsoleIds::kGroupImage, {kDefaultGroup, users->GetDescriptionText()});
            m_changed = 1;
        }
    }
    return TRUE;
}

void CUserGroupsPage::MoveRow(QTreeWidget* from, QTreeWidgetItem* row, QTreeWidget* to) {
    UserDialogKit::MoveRow(from, row, to, ConsoleIds::kGroupImage);
    m_changed = 1;
}

// --- Accounting ---------------------------------------------------------------------------------

CUserAccountingPage::CUserAccountingPage(CGroupMemberDatabase& database)
    : CUserPage(ConsoleIds::kUserAccountingPage), m_database(database) {
    setWindowTitle("Accounting");
    auto* grid = new QGridLayout(this);
    int column = 1;
    for (const char* heading : {"Quantity", "Rate", "Subtotal"})
        grid->addWidget(new QLabel(heading), 0, column++, Qt::AlignRight);
    int line = 1;
    for (const AccountingRow& row : kAccountingRows) {
        grid->addWidget(new QLabel(row.text), line, 0);
        grid->addWidget(Figure(row.quantity), line, 1);
        grid->addWidget(Figure(row.rate), line, 2);
        grid->addWidget(Figure(row.subtotal, true), line, 3);
        ++line;
    }
    grid->addWidget(new QLabel("Total Charges"), line, 2, Qt::AlignRight);
    grid->addWidget(Figure(kTotalCharges, true), line++, 3);
    grid->addWidget(new QLabel("Opening Balance"), line, 2, Qt::AlignRight);
    grid->addWidget(Figure(kOpeningBalance), line++, 3);
    grid->addWidget(new QLabel("Closing Balance"), line, 2, Qt::AlignRight);
    grid->addWidget(Figure(kClosingBalance), line, 3);
    auto* reset = Numbered(new QPushButton("&Reset"), kReset);
    grid->addWidget(reset, line, 0, Qt::AlignLeft);
    grid->setRowStretch(line + 1, 1);
    connect(reset, &QPushButton::clicked, this, [this] { Reset(); });
}

BOOL CUserAccountingPage::OnInitDialog() {
    Reload();
    m_loaded = true;
    return CUserPage::OnInitDialog();
}

void CUserAccountingPage::Reload() {
    {
        CScopedLock lock(m_database);
        for (std::size_t i = 0; i < CUser::kCounterCount; ++i) {
            m_figures.SetCounter(CUser::Counter(i), m_object->GetCounter(CUser::Counter(i)));
            m_figures.SetAmount(CUser::Amount(i), m_object->GetAmount(CUser::Amount(i)));
        }
        m_figures.SetAmount(CUser::OpeningBalance, m_object->GetAmount(CUser::OpeningBalance));
    }
    Recompute();
    if (m_loaded)
        UpdateData(FALSE);
}

void CUserAccountingPage::Reset() {
    if (!UpdateData(TRUE))
        return;
    for (std::size_t i = 0; i < CUser::kCounterCount; ++i)
        m_figures.SetCounter(CUser::Counter(i), 0);
    m_figures.SetAmount(CUser::OpeningBalance, CCurrency());
    Recompute();
    UpdateData(FALSE);
}

void CUserAccountingPage::Recompute() {
    for (std::size_t i = 0; i < CUser::TimeOnLine; ++i)
        m_subtotals[i] = CUser::TrafficCharge(m_figures.GetAmount(CUser::Amount(i)), m_figures.GetCounter(CUser::Counter(i)));
    m_subtotals[CUser::TimeOnLine] =
        CUser::TimeCharge(m_figures.GetAmount(CUser::TimeRate), m_figures.GetCounter(CUser::TimeOnLine));
    m_total = m_figures.GetTotalCharges();
    m_figures.UpdateBalance();
}

void CUserAccountingPage::DoDataExchange(CDataExchange& dx) {
    for (std::size_t i = 0; i < CUser::kCounterCount; ++i) {
        DWORD quantity = m_figures.GetCounter(CUser::Counter(i));
        CCurrency rate = m_figures.GetAmount(CUser::Amount(i));
        DDX_UInt(dx, kAccountingRows[i].quantity, quantity);
        DDX_Currency(dx, kAccountingRows[i].rate, rate);
        m_figures.SetCounter(CUser::Counter(i), quantity);
        m_figures.SetAmount(CUser::Amount(i), rate);
        if (!dx.IsSaving())
            DDX_Currency(dx, kAccountingRows[i].subtotal, m_subtotals[i]);
    }
    if (!dx.IsSaving())
        DDX_Currency(dx, kTotalCharges, m_total);
    for (auto [id, amount] : {std::pair{kOpeningBalance, CUser::OpeningBalance}, {kClosingBalance, CUser::ClosingBalance}}) {
        CCurrency value = m_figures.GetAmount(amount);
        DDX_Currency(dx, id, value);
        m_figures.SetAmount(amount, value);
    }
}

void CUserAccountingPage::Store() {
    for (std::size_t i = 0; i < CUser::kCounterCount; ++i) {
        m_object->SetCounter(CUser::Counter(i), m_figures.GetCounter(CUser::Counter(i)));
        m_object->SetAmount(CUser::Amount(i), m_figures.GetAmount(CUser::Amount(i)));
    }
    for (CUser::Amount balance : {CUser::OpeningBalance, CUser::ClosingBalance})
        m_object->SetAmount(balance, m_figures.GetAmount(balance));
}

// --- Auditing -----------------------------------------------------------------------------------

CUserAuditingPage::CUserAuditingPage(CGroupMemberDatabase& database)
    : CUserPage(ConsoleIds::kUserAuditingPage), m_database(database) {
    setWindowTitle("Auditing");
    auto* layout = new QVBoxLayout(this);
    auto* radios = new QButtonGroup(this);
    for (auto [id, text] : {std::pair{kDoNotAudit, "Do not audit user"}, {kAuditEvents, "Audit these events"}}) {
        auto* radio = Numbered(new QRadioButton(text), id);
        radios->addButton(radio);
        layout->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { UpdateControls(); });
    }
    auto* events = new QGroupBox;
    auto* boxes = new QVBoxLayout(events);
    for (const CBitBox& box : kAuditBoxes)
        boxes->addWidget(Numbered(new QCheckBox(box.text), box.id));
    layout->addWidget(events);
    layout->addStretch();
}

BOOL CUserAuditingPage::OnInitDialog() {
    {
        CScopedLock lock(m_database);
        m_auditUser = m_object->GetAuditUser() ? 1 : 0;
        m_auditOptions = m_object->GetAuditOptions();
    }
    if (!CUserPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CUserAuditingPage::DoDataExchange(CDataExchange& dx) {
    DDX_Radio(dx, {kDoNotAudit, kAuditEvents}, m_auditUser);
    DDX_BitBoxes(dx, kAuditBoxes, m_auditOptions);
}

void CUserAuditingPage::UpdateControls() {
    const bool enabled = !IsControlChecked(this, kDoNotAudit);
    for (const CBitBox& box : kAuditBoxes)
        EnableControl(this, box.id, enabled);
}

void CUserAuditingPage::Store() {
    m_object->SetAuditUser(m_auditUser);
    m_object->SetAuditOptions(m_auditOptions);
}

// --- The sheet ------------------------------------------------------------------------------------

CEditUserSheet::CEditUserSheet(CUser* user, QWidget* parent) : CEditUserSheet(user, ConsoleUsers(), parent) {}

CEditUserSheet::CEditUserSheet(CUser* user, CGroupMemberDatabase& database, QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kEditUserSheet, parent),
      m_infoPage(database),
      m_groupsPage(database),
      m_accountingPage(database),
      m_auditingPage(database),
      m_database(database) {
    setWindowTitle("Edit User");
    SetObject(user, user != nullptr);
    if (user != nullptr)
        m_user = CRef<CUser>(user);
}

CEditUserSheet::~CEditUserSheet() { Unregister(); }

void CEditUserSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kUserImage));
    CUser* user = GetObject();
    if (IsExisting()) {
        CScopedLock lock(m_database);
        setWindowTitle(ToDisplay(FormatText(ConsoleTexts::kUserSheetCaption, user->GetName().c_str())));
    } else {
        setWindowTitle(QString::fromLatin1(ConsoleTexts::kNewUserSheetCaption));
    }
    for (CUserPage* page : std::initializer_list<CUserPage*>{&m_infoPage, &m_groupsPage, &m_accountingPage, &m_auditingPage}) {
        page->SetObject(user, IsExisting());
        TabSheet().AddPage(page);
    }
    theApp.m_userSheetWindow = this;
    theApp.m_userSheetObject = CRef<CObject>(user);
}

void CEditUserSheet::Unregister() {
    if (theApp.m_userSheetWindow == this || theApp.m_userSheetWindow.isNull()) {
        theApp.m_userSheetWindow = nullptr;
        theApp.m_userSheetObject.Reset();
    }
}

void CEditUserSheet::done(int result) {
    Unregister();
    CObjectSheetDlg::done(result);
}

bool CEditUserSheet::event(QEvent* event) {
    if (event->type() != CViewUpdateEvent::Type())
        return CObjectSheetDlg::event(event);
    m_accountingPage.Reload();
    return true;
}

void CEditUserSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CScopedLock lock(m_database);
    storeAll();
}

void CEditUserSheet::OnApplied() {
    IConsoleSession& session = ConsoleSession();
    const bool online = session.IsOnline();
    CUser& user = *GetObject();
    std::string name;
    {
        CScopedLock lock(m_database);
        name = user.GetName();
    }
    if (IsExisting()) {
        if (online)
            session.QueueMessage(RCPOperations::kModifyUser, name, {}, {});
    } else if (online) {
        session.QueueRequest(RCPOperations::kAddUser, name, CRef<CObject>(&user));
    } else {
        AddEntryOffline(m_database, user);
    }
    if (m_groupsPage.m_changed)
        ApplyMemberships(online, name);
}

void CEditUserSheet::ApplyMemberships(bool online, const std::string& user) {
    // By name: a new user sent on-line never joins this database itself (the engine's echo
    // brings another object), so nothing here may hold on to the object.
    std::vector<std::string> changed;
    {
        CScopedLock lock(m_database);
        for (const std::string& name : RowNames(m_groupsPage.MemberList())) {
            CGroup* group = m_database.FindGroup(name);
            if (group != nullptr && !group->ContainsUser(user)) {
                group->AddMember(user, CGroup::kUserMember);
                changed.push_back(name);
            }
        }
        for (const std::string& name : RowNames(m_groupsPage.OtherList())) {
            CGroup* group = m_database.FindGroup(name);
            if (group != nullptr && group->ContainsUser(user)) {
                group->RemoveMember(user);
                changed.push_back(name);
            }
        }
    }
    if (!online)
        return;
    for (const std::string& name : changed)
        ConsoleSession().QueueMessage(RCPOperations::kModifyGroup, name, {}, {});
}

int EditUserProperties(QWidget* parent, CUser& user) {
    CEditUserSheet sheet(&user, parent);
    return ExecChildDialog(sheet);
}

int NewUser(QWidget* parent) {
    CEditUserSheet sheet(nullptr, parent);
    return ExecChildDialog(sheet);
}

void AddUserDatabaseDialogs(CConfigurationDialogs& dialogs) {
    dialogs.userSheet = [](QWidget* parent, CRef<CUser> user) {
        if (user)
            EditUserProperties(parent, *user);
        else
            NewUser(parent);
    };
    dialogs.groupDialog = [](QWidget* parent, CRef<CGroup> group) {
        if (group)
            EditGroupProperties(parent, *group);
        else
            NewGroup(parent);
    };
}
