#include "console/dialogs/MessageDlg.h"

#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "foundation/Format.h"
#include "ui_MessageDlg.h"

namespace {
// "Message from " opens every received caption.
constexpr std::size_t kReceivedCaptionPrefix = 13;
}  // namespace

CMessageDlg::CMessageDlg(bool compose, std::string caption, std::string address, std::string text,
                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CMessageDlg>()), m_compose(compose),
      m_caption(std::move(caption)), m_address(std::move(address)) {
    m_ui->setupUi(this);
    connect(m_ui->sendButton, &QPushButton::clicked, this, &CMessageDlg::OnButton1);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &CMessageDlg::reject);
    m_ui->textEdit->setPlainText(ToDisplay(text));
    if (!m_compose)
        m_ui->textLabel->setText(ConsoleTexts::kReceivedLabel);
    ApplyMode();
}

CMessageDlg::~CMessageDlg() = default;

void CMessageDlg::ApplyMode() {
    setWindowTitle(ToDisplay(m_caption));
    m_ui->sendButton->setText(m_compose ? ConsoleTexts::kSend : ConsoleTexts::kReply);
    m_ui->textEdit->setReadOnly(!m_compose);
    m_ui->textEdit->setFocus();
}

void CMessageDlg::Open() {
    show();
    if (!m_compose)
        ConsoleBeep(MB::kIconInformation);
    raise();
    activateWindow();
}

void CMessageDlg::OnButton1() {
    if (m_compose)
        Send();
    else
        SwitchToReply();
}

void CMessageDlg::Send() {
    std::string text = FromDisplay(m_ui->textEdit->toPlainText());
    IConsoleSession& session = ConsoleSession();
    if (session.IsOnline()) {
        if (!FitsInOneFrame(ConsoleRequests::kSendMessage, m_address, text, {})) {
            ConsoleMessageBox(this, ConsoleTexts::kMessageTooLong, ConsoleTexts::kMessageTooLongTitle,
                              MB::kIconExclamation);
            return;
        }
        session.QueueMessage(ConsoleRequests::kSendMessage, m_address, text, {});
    }
    accept();
}

void CMessageDlg::SwitchToReply() {
    std::string names = m_caption.size() > kReceivedCaptionPrefix ? m_caption.substr(kReceivedCaptionPrefix) : "";
    m_caption = FormatText(ConsoleTexts::kReplyCaption, names.c_str());
    m_ui->textLabel->setText(ConsoleTexts::kReplyLabel);
    m_compose = true;
    ApplyMode();
    // The received text stays in view; typing replaces it.
    m_ui->textEdit->selectAll();
}
