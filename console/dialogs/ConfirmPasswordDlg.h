#pragma once
// CConfirmPasswordDlg (dialog 133, "Confirm Password"): a password (1001) typed twice (1024),
// both masked. OK with two different entries beeps and keeps the dialog open.

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class CConfirmPasswordDlg;
}

class CConfirmPasswordDlg : public QDialog {
    Q_OBJECT
public:
    // The password box starts with `password`, the confirmation empty.
    explicit CConfirmPasswordDlg(const std::string& password, QWidget* parent = nullptr);
    ~CConfirmPasswordDlg() override;

    void accept() override;

    // The password confirmed by OK.
    const std::string& Password() const { return m_password; }

private:
    std::unique_ptr<Ui::CConfirmPasswordDlg> m_ui;
    std::string m_password;
};
