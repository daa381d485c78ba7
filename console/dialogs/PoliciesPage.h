#pragma once
// CPoliciesPage (148, "Policies"): the service sheet's page for the service's three rights
// (access, start/stop, modify), edited as working copies in a sorted rights editor with
// "Include default rights" (PolicyKit.h).
//
// Apply asks, only when the page changed, about each copy without recipients whose
// IncludeDefaultRights is 0; a No refuses and nothing is applied, earlier rights included.
// Store copies the working copies into the service's rights when the page changed. The copies
// live as long as the page (its sheet), so a later page's refusal finds them intact, and
// Cancel leaves the service's rights untouched. GUI thread only.

#include "console/PageBases.h"

class CRightsEditor;

class CPoliciesPage : public CServicePage {
    Q_OBJECT
public:
    CPoliciesPage();

    BOOL Apply() override;
    void Store() override;

    CRightsEditor* Editor() const { return m_editor; }

protected:
    BOOL OnInitDialog() override;

private:
    CRightsEditor* m_editor;
};
