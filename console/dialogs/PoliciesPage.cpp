#include "console/dialogs/PoliciesPage.h"

#include "console/ConsoleIds.h"
#include "console/dialogs/PolicyKit.h"
#include "engine/framework/Service.h"

#include <QVBoxLayout>

CPoliciesPage::CPoliciesPage()
    : CServicePage(ConsoleIds::kPoliciesPage), m_editor(new CRightsEditor(true, true, 0)) {
    setWindowTitle("Policies");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editor);
}

BOOL CPoliciesPage::OnInitDialog() {
    m_editor->SetServiceKind(m_object->GetServiceKind());
    for (CRight* right : m_object->GetRights())
        m_editor->AddRight(right, CRef<CObject>(m_object));
    m_editor->Select(0);
    return CServicePage::OnInitDialog();
}

BOOL CPoliciesPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    m_changed = m_editor->IsChanged() ? 1 : 0;
    return !m_changed || m_editor->ConfirmEmptyRights(true);
}

void CPoliciesPage::Store() {
    if (m_editor->IsChanged())
        m_editor->Store();
}
