#include "console/dialogs/ConfirmPasswordDlg.h"

#include "console/MessageBox.h"
#include "ui_ConfirmPasswordDlg.h"

CConfirmPasswordDlg::CConfirmPasswordDlg(const std::string& password, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CConfirmPasswordDlg>()), m_password(password) {
    m_ui->setupUi(this);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CConfirmPasswordDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CConfirmPasswordDlg::reject);
    m_ui->passwordEdit->setText(ToDisplay(password));
    m_ui->confirmEdit->setFocus();
}

CConfirmPasswordDlg::~CConfirmPasswordDlg() = default;

void CConfirmPasswordDlg::accept() {
    std::string password = FromDisplay(m_ui->passwordEdit->text());
    if (password != FromDisplay(m_ui->confirmEdit->text())) {
        ConsoleBeep();
        return;
    }
    m_password = password;
    QDialog::accept();
}
