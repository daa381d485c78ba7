#include "console/dialogs/MappingSheet.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "foundation/ScopedLock.h"
#include "proxies/mapping/Mappings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <functional>

using UserDialogKit::Numbered;

namespace {

constexpr int kEnabled = 1200, kServer = 1201, kPort = 1202;
constexpr int kEveryone = 1105, kSpecifyUser = 1106;
constexpr int kEverywhere = 1111, kSpecifyLocations = 1110;
constexpr DWORD kHighestPort = 65535;

}  // namespace

// --- Mapping ------------------------------------------------------------------------------------

CMappingTargetPage::CMappingTargetPage() : CMappingPage(ConsoleIds::kMappingTargetPage) {
    setWindowTitle("Mapping");
    auto* form = new QFormLayout(this);
    form->addRow(Numbered(new QCheckBox("Enable mapping to"), kEnabled));
    form->addRow("Server", Numbered(new QLineEdit, kServer));
    form->addRow("on port", Numbered(new QLineEdit, kPort));
}

BOOL CMappingTargetPage::OnInitDialog() {
    m_enabled = m_object->GetEnabled() ? TRUE : FALSE;
    m_server = m_object->GetTarget().Host;
    m_port = m_object->GetTarget().Port;
    return CMappingPage::OnInitDialog();
}

void CMappingTargetPage::DoDataExchange(CDataExchange& dx) {
    DDX_Check(dx, kEnabled, m_enabled);
    DDX_Text(dx, kServer, m_server);
    DDX_UInt(dx, kPort, m_port, 0, kHighestPort);
}

BOOL CMappingTargetPage::Apply() { return UpdateData(TRUE); }

void CMappingTargetPage::Store() {
    m_object->SetEnabled(m_enabled ? 1 : 0);
    m_object->SetTarget(m_server, m_port);
}

// --- User ---------------------------------------------------------------------------------------

CMappingUserPage::CMappingUserPage(CGroupMemberDatabase& database)
    : CMappingPage(ConsoleIds::kMappingUserPage),
      m_database(database),
      m_chooser(new CUserGroupChooser(kEveryone, "This Mapping applies to everyone", kSpecifyUser,
                                      "Specify user or group")) {
    setWindowTitle("User");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_chooser);
    connect(m_chooser, &CUserGroupChooser::RadioClicked, this, [this] { UpdateControls(); });
}

BOOL CMappingUserPage::OnInitDialog() {
    m_specify = m_object->GetSpecifyUser() ? 1 : 0;
    m_name = m_object->GetUserName();
    m_chooser->Fill(m_database);
    if (!CMappingPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CMappingUserPage::DoDataExchange(CDataExchange& dx) { m_chooser->Exchange(dx, m_specify, m_name); }

void CMappingUserPage::UpdateControls() { m_chooser->UpdateControls(); }

BOOL CMappingUserPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_specify && m_name.empty()) {
        ConsoleMessageBox(this, ConsoleTexts::kSelectUserOrGroup, ConsoleTexts::kErrorTitle, MB::kOk);
        return FALSE;
    }
    return TRUE;
}

void CMappingUserPage::Store() {
    m_object->SetSpecifyUser(m_specify ? 1 : 0);
    if (m_specify)
        m_object->SetUserName(m_name);
}

// --- Location -----------------------------------------------------------------------------------

CMappingLocationPage::CMappingLocationPage()
    : CMappingPage(ConsoleIds::kMappingLocationPage),
      m_lists(new CPatternLists(kEverywhere, "This mapping applies from everywhere", kSpecifyLocations,
                                "Specify locations from where this mapping applies")) {
    setWindowTitle("Location");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lists);
}

BOOL CMappingLocationPage::OnInitDialog() {
    m_specify = m_object->GetSpecifyLocation() ? 1 : 0;
    m_lists->Load(m_object->GetIncludedLocations(), m_object->GetExcludedLocations());
    if (!CMappingPage::OnInitDialog())
        return FALSE;
    UpdateControls();
    return TRUE;
}

void CMappingLocationPage::DoDataExchange(CDataExchange& dx) { m_lists->Exchange(dx, m_specify); }

void CMappingLocationPage::UpdateControls() { m_lists->UpdateControls(); }

BOOL CMappingLocationPage::Apply() { return UpdateData(TRUE); }

void CMappingLocationPage::Store() {
    m_object->SetSpecifyLocation(m_specify ? 1 : 0);
    m_object->SetIncludedLocations(m_lists->Included());
    m_object->SetExcludedLocations(m_lists->Excluded());
}

// --- The sheet ------------------------------------------------------------------------------------

CMappingSheet::CMappingSheet(CMapping* mapping, BOOL existing, CMappings* table, QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kMappingSheet, parent),
      m_userPage(theConfiguration.GetUserDatabase()),
      m_table(table) {
    SetObject(mapping, existing);
}

void CMappingSheet::OnInitDialog() {
    // The pages read the mapping as they are added.
    WithTableLocked([this] {
        for (CMappingPage* page : std::initializer_list<CMappingPage*>{&m_targetPage, &m_userPage, &m_locationPage}) {
            page->SetObject(GetObject(), IsExisting());
            TabSheet().AddPage(page);
        }
    });
    setWindowTitle(QString::fromLatin1(ConsoleTexts::kMappingSheetCaption));
}

void CMappingSheet::StoreUnderLock(const std::function<void()>& storeAll) { WithTableLocked(storeAll); }

void CMappingSheet::WithTableLocked(const std::function<void()>& work) {
    if (m_table == nullptr) {
        work();
        return;
    }
    CScopedLock lock(*m_table);
    work();
}
