#pragma once
// CMessageDlg (dialog 140): a message between users. Label 1042 and edit 1039 hold the text;
// button 1 sends or replies, button 2 ("Close") closes without sending.
//
// Compose mode: button 1 "&Send" queues request 91 (address, text, "") while the console is
// on-line and closes; off-line it closes without sending. A text whose request would not fit in
// one frame of the link is refused and the dialog stays open.
// Received mode: the text is shown read-only under "Message"; button 1 "&Reply" turns the dialog
// into compose mode addressed to the sender, captioned "Reply to <the caption less its first 13
// characters>" (a received caption reads "Message from <user> on <machine>").

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class CMessageDlg;
}

class CMessageDlg : public QDialog {
    Q_OBJECT
public:
    // `compose` picks the mode; `text` is the received text (empty to compose).
    CMessageDlg(bool compose, std::string caption, std::string address, std::string text = {},
                QWidget* parent = nullptr);
    ~CMessageDlg() override;

    // Shows the dialog in front of the others, non-modal; a received message also beeps.
    void Open();

    bool IsCompose() const { return m_compose; }
    const std::string& Caption() const { return m_caption; }
    const std::string& Address() const { return m_address; }

private:
    void OnButton1();
    void Send();
    void SwitchToReply();
    void ApplyMode();

    std::unique_ptr<Ui::CMessageDlg> m_ui;
    bool m_compose;
    std::string m_caption;
    std::string m_address;
};
