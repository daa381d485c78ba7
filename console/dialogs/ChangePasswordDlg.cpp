#include "console/dialogs/ChangePasswordDlg.h"

#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "ui_ChangePasswordDlg.h"

CChangePasswordDlg::CChangePasswordDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CChangePasswordDlg>()) {
    m_ui->setupUi(this);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CChangePasswordDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CChangePasswordDlg::reject);
}

CChangePasswordDlg::~CChangePasswordDlg() = default;

void CChangePasswordDlg::accept() {
    m_oldPassword = FromDisplay(m_ui->oldPasswordEdit->text());
    m_newPassword = FromDisplay(m_ui->newPasswordEdit->text());
    if (m_newPassword != FromDisplay(m_ui->confirmEdit->text())) {
        ConsoleMessageBox(this, ConsoleTexts::kPasswordsDiffer, {}, MB::kIconExclamation);
        m_ui->confirmEdit->setFocus();
        m_ui->confirmEdit->selectAll();
        return;
    }
    QDialog::accept();
}
