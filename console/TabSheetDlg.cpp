#include "console/TabSheetDlg.h"

#include "console/ConsoleIds.h"
#include "console/Controls.h"
#include "console/TabPage.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPushButton* NumberedButton(const char* text, int id, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setProperty(kControlIdProperty, id);
    return button;
}

}  // namespace

CTabSheetDlg::CTabSheetDlg(int dialogId, QWidget* parent, bool withApply)
    : QDialog(parent),
      m_dialogId(dialogId),
      m_tabSheet(new CTabSheet(0, this)),
      m_okButton(NumberedButton("OK", ConsoleIds::kOk, this)),
      m_cancelButton(NumberedButton("Cancel", ConsoleIds::kCancel, this)) {
    setWindowModality(Qt::WindowModal);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_okButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(m_cancelButton, QDialogButtonBox::RejectRole);
    m_okButton->setDefault(true);
    if (withApply) {
        m_applyButton = NumberedButton("&Apply", kApplyButtonId, this);
        buttons->addButton(m_applyButton, QDialogButtonBox::ApplyRole);
        connect(m_applyButton, &QPushButton::clicked, this, [this] { ApplySheet(); });
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &CTabSheetDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CTabSheetDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabSheet, 1);
    layout->addWidget(buttons);
}

CTabSheetDlg::~CTabSheetDlg() = default;

void CTabSheetDlg::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
        CTabPage* active = m_tabSheet->GetActivePage();
        if (active == nullptr || !active->isVisibleTo(m_tabSheet))
            m_tabSheet->SetActivePage(0);
    }
    QDialog::setVisible(visible);
}

BOOL CTabSheetDlg::ApplySheet() {
    const std::vector<CTabPage*> order = ApplyOrder();
    for (auto page = order.begin(); page != order.end(); ++page) {
        (*page)->m_refusedControl = nullptr;
        if (!(*page)->Apply()) {
            bool activeTaken = std::find(order.begin(), page, m_tabSheet->GetActivePage()) != page;
            ShowRefusal(*page, activeTaken);
            return FALSE;
        }
    }
    StoreUnderLock([&order] {
        for (CTabPage* page : order)
            page->Store();
    });
    OnApplied();
    return TRUE;
}

void CTabSheetDlg::accept() {
    if (ApplySheet())
        QDialog::accept();
}

void CTabSheetDlg::OnInitDialog() {}

std::vector<CTabPage*> CTabSheetDlg::ApplyOrder() const {
    std::vector<CTabPage*> pages;
    for (int index = 0; index < m_tabSheet->GetPageCount(); ++index) {
        if (CTabPage* page = m_tabSheet->GetPage(index))
            pages.push_back(page);
    }
    return pages;
}

void CTabSheetDlg::StoreUnderLock(const std::function<void()>& storeAll) { storeAll(); }

void CTabSheetDlg::OnApplied() {}

void CTabSheetDlg::ShowRefusal(CTabPage* page, bool activeTaken) {
    // A page refuses while perhaps hidden: the sheet goes to it, and the refused control gets
    // the focus it could not take. The active page is left as a click on a tab leaves it,
    // unless this OK has just taken its values (taking them again would ask its questions
    // again).
    QPointer<QWidget> control = page->RefusedControl();
    const int index = m_tabSheet->GetPageIndex(page);
    if (index < 0)
        return;
    if (!(activeTaken ? m_tabSheet->SetActivePage(index) : m_tabSheet->SelectPage(index)) || !control)
        return;
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control.data()))
        edit->selectAll();
}

CRecordedSheetDlg::CRecordedSheetDlg(int dialogId, QPointer<QWidget>& window, int& registered, QWidget* parent,
                                     bool withApply)
    : CTabSheetDlg(dialogId, parent, withApply), m_window(window), m_registered(registered) {}

CRecordedSheetDlg::~CRecordedSheetDlg() { Forget(); }

void CRecordedSheetDlg::done(int result) {
    Forget();
    CTabSheetDlg::done(result);
}

void CRecordedSheetDlg::Record() {
    m_window = this;
    m_registered = 1;
}

void CRecordedSheetDlg::Forget() {
    if (m_window == this || m_window.isNull()) {
        m_window = nullptr;
        m_registered = 0;
    }
}
