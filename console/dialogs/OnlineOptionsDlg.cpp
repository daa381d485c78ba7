#include "console/dialogs/OnlineOptionsDlg.h"

#include "console/ConsoleSettings.h"
#include "console/ConsoleTexts.h"
#include "console/LocalEngine.h"
#include "console/MessageBox.h"
#include "foundation/RegistryStore.h"
#include "ui_OnlineOptionsDlg.h"

namespace {
constexpr int kMaxPort = 65535;
}

COnlineOptionsDlg::COnlineOptionsDlg(CConsoleSettings& settings, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::COnlineOptionsDlg>()), m_settings(settings) {
    m_ui->setupUi(this);
    connect(m_ui->okButton, &QPushButton::clicked, this, &COnlineOptionsDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &COnlineOptionsDlg::reject);
    m_ui->userEdit->setText(ToDisplay(settings.userName));
    m_ui->passwordEdit->setText(ToDisplay(settings.password));
    m_ui->serverEdit->setText(ToDisplay(settings.server));
    m_ui->portEdit->setText(QString::number(settings.port));
    m_ui->passwordEdit->setFocus();
}

COnlineOptionsDlg::~COnlineOptionsDlg() = default;

bool COnlineOptionsDlg::TakeValues() {
    bool numeric = false;
    int port = m_ui->portEdit->text().trimmed().toInt(&numeric);
    if (!numeric || port < 1 || port > kMaxPort) {
        ConsoleMessageBox(this, ConsoleTexts::kBadPort, {}, MB::kIconExclamation);
        m_ui->portEdit->setFocus();
        m_ui->portEdit->selectAll();
        return false;
    }
    m_settings.userName = FromDisplay(m_ui->userEdit->text());
    m_settings.password = FromDisplay(m_ui->passwordEdit->text());
    m_settings.server = FromDisplay(m_ui->serverEdit->text());
    m_settings.port = port;
    return true;
}

bool COnlineOptionsDlg::CheckLocalEngine() {
    if (!LocalEngine::IsRunning()) {
        ConsoleMessageBox(this, ConsoleTexts::kEngineNotRunning, {}, MB::kIconExclamation);
        return false;
    }
    std::string storedName;
    switch (LocalEngine::FindAccount(m_settings.userName, storedName)) {
    case LocalEngine::Account::Missing:
        ConsoleMessageBox(this, ConsoleTexts::kNoSuchAccount, {}, MB::kIconExclamation);
        m_ui->userEdit->setFocus();
        return false;
    case LocalEngine::Account::Found:
        if (storedName != m_settings.userName && RegNamesEqual(storedName, m_settings.userName)) {
            m_settings.userName = storedName;
            m_ui->userEdit->setText(ToDisplay(storedName));
        }
        return true;
    case LocalEngine::Account::Unreadable:
        return true;
    }
    return true;
}

void COnlineOptionsDlg::accept() {
    if (!TakeValues())
        return;
    if (m_settings.password.empty() &&
        ConsoleMessageBox(this, ConsoleTexts::kNoPassword, {}, MB::kOkCancel | MB::kIconQuestion) != IDOK)
        return;
    if (IsLocalServer(m_settings.server) && !CheckLocalEngine())
        return;
    QDialog::accept();
}
