#include "console/dialogs/MappingSheet.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleTexts.h"
#include "console/dialogs/UserDialogKit.h"
#include "foundation/ScopedLock.h"
#include "proxies/mapping/Mappings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

#include <functional>

using UserDialogKit::Numbered;

namespace {

constexpr int kEnabled = 1200, kServer = 1201, kPort = 1202;
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

// --- The sheet ------------------------------------------------------------------------------------

CMappingSheet::CMappingSheet(CMapping* mapping, BOOL existing, CMappings* table, QWidget* parent)
    : CObjectSheetDlg(ConsoleIds::kMappingSheet, parent), m_table(table) {
    SetObject(mapping, existing);
}

void CMappingSheet::OnInitDialog() {
    // The pages read the mapping as they are added.
    WithTableLocked([this] {
        for (CMappingPage* page : std::initializer_list<CMappingPage*>{&m_targetPage}) {
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
