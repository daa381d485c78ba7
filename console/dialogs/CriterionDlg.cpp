#include "console/dialogs/CriterionDlg.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/DataExchange.h"
#include "engine/access/CachePurgeCriterion.h"
#include "ui_CriterionDlg.h"

#include <QComboBox>

#include <iterator>

namespace {

constexpr int kValueEdit = 1177;
constexpr int kHeaderNameEdit = 1178;

// Selects the item of `combo` whose data is `value`, or else the first.
void SelectByData(QComboBox* combo, DWORD value) {
    const int index = combo->findData(QVariant::fromValue(value));
    combo->setCurrentIndex(index >= 0 ? index : 0);
}

DWORD SelectedData(const QComboBox* combo) { return combo->currentData().value<DWORD>(); }

}  // namespace

CCriterionDlg::CCriterionDlg(int serviceKind, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CCriterionDlg>()), m_editing(false), m_serviceKind(serviceKind) {
    if (serviceKind == kServiceKindCachePurge)
        m_newCriterion = CRef<CRequestCriterion>::Adopt(new CCachePurgeCriterion);
    else
        m_newCriterion = CRef<CRequestCriterion>::Adopt(new CRequestCriterion);
    m_criterion = m_newCriterion.Get();
    Initialize();
}

CCriterionDlg::CCriterionDlg(CRequestCriterion& criterion, int serviceKind, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::CCriterionDlg>()),
      m_criterion(&criterion),
      m_editing(true),
      m_serviceKind(serviceKind) {
    Initialize();
}

CCriterionDlg::~CCriterionDlg() = default;

void CCriterionDlg::Initialize() {
    m_ui->setupUi(this);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CCriterionDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CCriterionDlg::reject);

    m_not = m_criterion->GetNot() != 0 ? 1 : 0;
    m_dataIndex = m_criterion->GetDataIndex();
    m_comparison = m_criterion->GetComparison();
    m_value.Copy(m_criterion->GetValue());
    m_variableName = m_criterion->GetVariableName();
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kCriterionImage));
    // The header name keeps its place while hidden, so the dialog keeps one size.
    for (QWidget* header : {static_cast<QWidget*>(m_ui->headerLabel), static_cast<QWidget*>(m_ui->headerEdit)}) {
        QSizePolicy policy = header->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        header->setSizePolicy(policy);
    }

    FillVariables();
    SelectByData(m_ui->variableCombo, m_dataIndex);
    OnVariableChanged();
    ::UpdateData(this, FALSE, [this](CDataExchange& dx) { DoDataExchange(dx); });
    connect(m_ui->variableCombo, &QComboBox::currentIndexChanged, this, &CCriterionDlg::OnVariableChanged);
}

void CCriterionDlg::FillVariables() {
    // The criterion's own table: a purge criterion numbers cache-entry values whatever tree
    // it sits in, so a DataIndex chosen here always lies inside the table it is stored for.
    const RequestVariableTable table = m_criterion->GetVariableTable();
    const bool requestVariables = table.data() == std::data(kRequestVariables);
    for (DWORD index = 0; index < table.size(); ++index) {
        if (requestVariables && !IsRequestVariableOffered(index, m_serviceKind))
            continue;
        m_ui->variableCombo->addItem(QString::fromLatin1(table[index].name), QVariant::fromValue(index));
    }
}

const SRequestVariable* CCriterionDlg::SelectedVariable() const {
    if (m_ui->variableCombo->currentIndex() < 0)
        return nullptr;
    return FindVariable(m_criterion->GetVariableTable(), SelectedData(m_ui->variableCombo));
}

void CCriterionDlg::OnVariableChanged() {
    const SRequestVariable* variable = SelectedVariable();
    QComboBox* comparisons = m_ui->comparisonCombo;
    comparisons->clear();
    if (variable != nullptr) {
        for (DWORD code = 0; code < kComparisonCount; ++code) {
            if (IsComparisonApplicable(code, variable->type))
                comparisons->addItem(QString::fromLatin1(kComparisonTexts[code]), QVariant::fromValue(code));
        }
    }
    SelectByData(comparisons, m_comparison);
    // The cache-entry table ends before 18, so only request variables name a header.
    const bool header = variable == &kRequestVariables[RequestHTTPHeaderField];
    m_ui->headerLabel->setVisible(header);
    m_ui->headerEdit->setVisible(header);
}

void CCriterionDlg::DoDataExchange(CDataExchange& dx) {
    const SRequestVariable* variable = SelectedVariable();
    if (dx.IsSaving() && variable != nullptr) {
        m_dataIndex = SelectedData(m_ui->variableCombo);
        m_comparison = SelectedData(m_ui->comparisonCombo);
    }
    // The value in its variable's type, whatever type it was stored with: saving re-types it.
    const auto type = variable != nullptr ? variable->type : CNVDataObject::Type(m_value.DataType);
    switch (type) {
    case CNVDataObject::TypeInt: DDX_Int(dx, kValueEdit, m_value.nData); break;
    case CNVDataObject::TypeDWORD: DDX_UInt(dx, kValueEdit, m_value.dwData); break;
    case CNVDataObject::TypeDouble: DDX_Double(dx, kValueEdit, m_value.dData); break;
    default: DDX_Text(dx, kValueEdit, m_value.strData); break;
    }
    if (dx.IsSaving())
        m_value.DataType = type;
    DDX_Radio(dx, {1174, 1175}, m_not);
    DDX_Text(dx, kHeaderNameEdit, m_variableName);
}

void CCriterionDlg::accept() {
    if (m_criterion == nullptr || SelectedVariable() == nullptr)
        return;
    if (!::UpdateData(this, TRUE, [this](CDataExchange& dx) { DoDataExchange(dx); }))
        return;
    // Both numbers come from the lists of the criterion's own tables, which the setters accept.
    m_criterion->SetDataIndex(m_dataIndex);
    m_criterion->SetComparison(m_comparison);
    m_criterion->SetValue(m_value);
    m_criterion->SetVariableName(m_variableName);
    m_criterion->SetNot(static_cast<DWORD>(m_not));
    QDialog::accept();
}

void CCriterionDlg::reject() {
    if (!m_editing) {
        m_newCriterion.Reset();
        m_criterion = nullptr;
    }
    QDialog::reject();
}

CRef<CRequestCriterion> CCriterionDlg::TakeNewCriterion() {
    if (result() != QDialog::Accepted)
        return {};
    return std::move(m_newCriterion);
}
