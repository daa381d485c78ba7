#pragma once
// CChangePasswordDlg (dialog 142, "Change Password"): the old password (1002), the new one
// (1001) and its confirmation (1024), all masked. OK with a confirmation that differs from the
// new password says so and keeps the dialog open.

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class CChangePasswordDlg;
}

class CChangePasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CChangePasswordDlg(QWidget* parent = nullptr);
    ~CChangePasswordDlg() override;

    void accept() override;

    // The values taken by the last OK.
    const std::string& OldPassword() const { return m_oldPassword; }
    const std::string& NewPassword() const { return m_newPassword; }

private:
    std::unique_ptr<Ui::CChangePasswordDlg> m_ui;
    std::string m_oldPassword;
    std::string m_newPassword;
};
