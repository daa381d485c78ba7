#include "console/dialogs/EditProfileSheet.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/UserDialogKit.h"
#include "dialer/Dialer.h"
#include "engine/access/Recipient.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using UserDialogKit::Numbered;
using UserDialogKit::NumberedEdit;

namespace {

constexpr int kName = 1035, kAutoConnect = 1205, kEntry = 1210, kUsername = 1202, kPassword = 1203,
              kDomain = 1204, kRetries = 1208, kAutoDisconnect = 1206, kDisconnectAfter = 1207;

QLineEdit* Number(int id) {
    auto* edit = NumberedEdit(id);
    edit->setMaximumWidth(70);
    return edit;
}

}  // namespace

// --- General ------------------------------------------------------------------------------------

CProfileGeneralPage::CProfileGeneralPage(CDialer& dialer)
    : CDialerPage(ConsoleIds::kProfileGeneralPage), m_dialer(dialer), m_entries(Numbered(new QComboBox, kEntry)) {
    setWindowTitle("General");
    m_entries->setEditable(true);
    m_entries->setInsertPolicy(QComboBox::NoInsert);
    m_entries->setMinimumWidth(160);

    auto* name = new QFormLayout;
    name->addRow("Profile Name", NumberedEdit(kName));

    auto* connection = new QGroupBox("Connection");
    auto* grid = new QGridLayout(connection);
    grid->addWidget(Numbered(new QCheckBox("Auto connect to"), kAutoConnect), 0, 0);
    grid->addWidget(m_entries, 0, 1, 1, 2);
    int line = 1;
    for (auto [id, text] : {std::pair{kUsername, "Username"}, {kPassword, "Password"}, {kDomain, "Domain"}}) {
        grid->addWidget(new QLabel(text), line, 0);
        grid->addWidget(NumberedEdit(id, id == kPassword), line++, 1, 1, 2);
    }
    grid->addWidget(new QLabel("Try to connect"), line, 0);
    grid->addWidget(Number(kRetries), line, 1);
    grid->addWidget(new QLabel("times"), line, 2);

    auto* disconnection = new QGroupBox("Disconnection");
    auto* row = new QHBoxLayout(disconnection);
    row->addWidget(Numbered(new QCheckBox("Auto disconnect after"), kAutoDisconnect));
    row->addWidget(Number(kDisconnectAfter));
    row->addWidget(new QLabel("seconds of inactivity"));
    row->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(name);
    layout->addWidget(connection);
    layout->addWidget(disconnection);
    layout->addStretch();
}

BOOL CProfileGeneralPage::OnInitDialog() {
    const CDialerProfile::Settings settings = m_object->GetSettings();
    m_name = m_object->GetName();
    m_profileName = settings.profileName;
    m_username = settings.username;
    m_password = settings.password;
    m_domain = settings.domain;
    m_autoConnect = settings.autoConnect ? TRUE : FALSE;
    m_autoDisconnect = settings.autoDisconnect ? TRUE : FALSE;
    m_disconnectAfter = settings.disconnectAfter;
    m_retries = settings.retries;

    // The entries first: the exchange then shows ProfileName, listed or not.
    std::vector<std::string> entries = m_dialer.GetPhonebookEntries();
    std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return QString::compare(ToDisplay(a), ToDisplay(b), Qt::CaseInsensitive) < 0;
    });
    for (const std::string& entry : entries)
        m_entries->addItem(ToDisplay(entry));
    if (!CDialerPage::OnInitDialog())
        return FALSE;
    // A profile keeps its name: it is the profile's key in the dialer.
    if (QWidget* name = FindControl(this, kName))
        name->setEnabled(!m_existing);
    return TRUE;
}

void CProfileGeneralPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kName, m_name);
    DDX_Check(dx, kAutoConnect, m_autoConnect);
    DDX_CBString(dx, kEntry, m_profileName);
    DDX_Text(dx, kUsername, m_username);
    DDX_Text(dx, kPassword, m_password);
    DDX_Text(dx, kDomain, m_domain);
    DDX_Int(dx, kRetries, m_retries);
    DDX_Check(dx, kAutoDisconnect, m_autoDisconnect);
    DDX_Int(dx, kDisconnectAfter, m_disconnectAfter);
}

BOOL CProfileGeneralPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_existing || (CDialer::IsUsableProfileName(m_name) && !m_dialer.IsProfileNameTaken(m_name)))
        return TRUE;
    ConsoleMessageBox(this, ConsoleTexts::kProfileNameTaken, ConsoleTexts::kDuplicateProfileName, MB::kIconStop);
    if (QWidget* name = FindControl(this, kName))
        name->setFocus(Qt::OtherFocusReason);
    return FALSE;
}

void CProfileGeneralPage::Store() {
    if (!m_existing)
        m_object->SetName(m_name);
    CDialerProfile::Settings settings = m_object->GetSettings();
    settings.profileName = m_profileName;
    settings.username = m_username;
    settings.password = m_password;
    settings.domain = m_domain;
    settings.autoConnect = m_autoConnect ? 1 : 0;
    settings.autoDisconnect = m_autoDisconnect ? 1 : 0;
    settings.disconnectAfter = m_disconnectAfter;
    settings.retries = m_retries;
    m_object->SetSettings(settings);
}

// --- Access -------------------------------------------------------------------------------------

CProfileAccessPage::CProfileAccessPage()
    : CDialerPage(ConsoleIds::kProfileAccessPage), m_editor(new CRightsEditor(false, false, kServiceKind)) {
    setWindowTitle("Access");
    for (auto [id, text] : {std::pair{CRightsEditor::kAddId, "&Add"}, {CRightsEditor::kRemoveId, "&Remove"}})
        if (auto* button = qobject_cast<QAbstractButton*>(FindControl(m_editor, id)))
            button->setText(text);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editor);
}

BOOL CProfileAccessPage::OnInitDialog() {
    m_editor->AddRight(&m_object->GetAccessRights(), CRef<CObject>(m_object));
    m_editor->Select(0);
    return CDialerPage::OnInitDialog();
}

BOOL CProfileAccessPage::Apply() { return UpdateData(TRUE); }

void CProfileAccessPage::Store() { m_editor->Store(); }

// --- The sheet ------------------------------------------------------------------------------------

CEditProfileSheet::CEditProfileSheet(CDialerProfile* profile, CDialer& dialer, QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kEditProfileSheet, parent), m_generalPage(dialer), m_dialer(dialer) {
    setWindowTitle("Edit Profile");
    SetObject(profile, profile != nullptr);
    if (profile != nullptr)
        m_profile = CRef<CDialerProfile>(profile);
}

CEditProfileSheet::~CEditProfileSheet() = default;

void CEditProfileSheet::OnInitDialog() {
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kDialerImage));
    CDialerProfile* profile = GetObject();
    if (IsExisting()) {
        setWindowTitle(ToDisplay(FormatText(ConsoleTexts::kProfileSheetCaption, profile->GetName().c_str())));
    } else {
        auto everyone = std::make_unique<CRecipient>();
        if (profile->GetAccessRights().AddRecipient(everyone.get()))
            everyone.release();
        setWindowTitle(QString::fromLatin1(ConsoleTexts::kNewProfileSheetCaption));
    }
    for (CDialerPage* page : std::initializer_list<CDialerPage*>{&m_generalPage, &m_accessPage}) {
        page->SetObject(profile, IsExisting());
        TabSheet().AddPage(page);
    }
    TabSheet().SetActivePage(0);
}

void CEditProfileSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CScopedLock lock(m_dialer.GetProfileMap());
    storeAll();
}
