#include "console/dialogs/AboutDlg.h"

#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>()) {
    m_ui->setupUi(this);
    setWindowTitle(ConsoleTexts::kAboutTitle);
    m_ui->pictureLabel->setPixmap(ConsoleImages::ApplicationPicture());
    m_ui->versionLabel->setText(ToDisplay(ConsoleTexts::kAboutVersion));
    m_ui->enginesLabel->setText(ToDisplay(ConsoleTexts::kAboutEngines));
    connect(m_ui->okButton, &QPushButton::clicked, this, &CAboutDlg::accept);
    setFixedSize(sizeHint());
}

CAboutDlg::~CAboutDlg() = default;
