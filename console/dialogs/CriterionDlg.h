#pragma once
// CCriterionDlg (dialog 162, "Criterion"): makes or edits one request criterion ("HTTP URL
// contains games", "Client port number greater than 1024").
//
// Controls: radios 1174 "This criterion is met if" / 1175 "This criterion is NOT met if:" (Not),
// combo 1179 the variable (item data: its DataIndex), combo 1176 the comparison (item data:
// its code), edit 1177 the value, and edit 1178 with its label 1180 "HTTP Header Field Name",
// shown only for the variable HTTP Header field (18) but always stored into VariableName.
//
// The variables come from the table the criterion numbers (engine/access/RequestVariables.h):
// the request variables that the service kind offers (IsRequestVariableOffered), or all the
// cache-entry values for a cache-purge criterion. The comparisons are those that apply to the
// selected variable's type. The value is read in that type, and a value that does not parse
// is refused with the data exchange's message while the dialog stays open; OK stores it with
// that type, so the engine's comparisons (which never match across types) hold.
//
// A new criterion is a CCachePurgeCriterion for the service kind code -1 and a
// CRequestCriterion for any other; the dialog owns it until the caller takes it after OK, and
// frees it on Cancel. An existing criterion is changed in place on OK only. GUI thread only.

#include "engine/access/RequestCriterion.h"
#include "engine/access/RequestVariables.h"
#include "foundation/NVDataObject.h"
#include "platform/framework/Object.h"

#include <QDialog>

#include <memory>
#include <string>

class CDataExchange;

namespace Ui {
class CCriterionDlg;
}

class CCriterionDlg : public QDialog {
    Q_OBJECT
public:
    // A new criterion for a service of kind `serviceKind`.
    explicit CCriterionDlg(int serviceKind = 1, QWidget* parent = nullptr);
    // Edits `criterion`, which must outlive the dialog (the caller keeps it).
    CCriterionDlg(CRequestCriterion& criterion, int serviceKind, QWidget* parent = nullptr);
    ~CCriterionDlg() override;

    // The criterion edited; null after Cancel on a new one.
    CRequestCriterion* GetCriterion() const { return m_criterion; }
    bool IsEditingExisting() const { return m_editing; }
    int GetServiceKind() const { return m_serviceKind; }
    // After OK on a new criterion: the criterion, the caller's from then on. Null for an
    // existing criterion, after Cancel, or once taken.
    CRef<CRequestCriterion> TakeNewCriterion();

    // OK: the controls into the working values (a refused value keeps the dialog open), then
    // the working values into the criterion.
    void accept() override;
    // Cancel: a new criterion is freed.
    void reject() override;

private:
    void Initialize();
    void FillVariables();
    // The comparisons of the selected variable, and the header name's visibility.
    void OnVariableChanged();
    void DoDataExchange(CDataExchange& dx);
    // The selected variable's row of the table; null when the list is empty.
    const SRequestVariable* SelectedVariable() const;

    std::unique_ptr<Ui::CCriterionDlg> m_ui;
    CRequestCriterion* m_criterion = nullptr;
    CRef<CRequestCriterion> m_newCriterion;
    bool m_editing;
    int m_serviceKind;

    // The working values: Not as the radio's index, the variable, the comparison, the header
    // name and the typed value.
    int m_not = 0;
    DWORD m_dataIndex = 0;
    DWORD m_comparison = ComparisonEquals;
    std::string m_variableName;
    CNVDataObject m_value;
};
