#pragma once
// COnlineOptionsDlg (dialog 135, "On-line Options"): the user name (1000), password (1001),
// server (1026) and port (1027) the console goes on-line with. It edits the settings it is given
// directly: values taken by OK stay taken even when OK is then refused.
//
// OK: the port must be a number from 1 to 65535 (else nothing is taken and the dialog stays);
// the values are taken; an empty password is questioned (Cancel returns to the dialog); for an
// engine on this machine (IsLocalServer), the engine must be running and the account must exist
// (a store this user may not read is not checked), and the name takes its stored spelling.

#include <QDialog>

#include <memory>

struct CConsoleSettings;
namespace Ui {
class COnlineOptionsDlg;
}

class COnlineOptionsDlg : public QDialog {
    Q_OBJECT
public:
    // `settings` must outlive the dialog.
    explicit COnlineOptionsDlg(CConsoleSettings& settings, QWidget* parent = nullptr);
    ~COnlineOptionsDlg() override;

    void accept() override;

private:
    // Takes the controls' values into the settings; false (nothing taken) for a bad port.
    bool TakeValues();
    // The checks of an engine on this machine; false keeps the dialog open.
    bool CheckLocalEngine();

    std::unique_ptr<Ui::COnlineOptionsDlg> m_ui;
    CConsoleSettings& m_settings;
};
