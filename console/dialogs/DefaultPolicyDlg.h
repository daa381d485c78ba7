#pragma once
// CDefaultPolicyDlg (163, "Default Policy"): the engine's rights held by the console's copy of
// the configuration, edited as working copies in a rights editor that keeps the order below
// (PolicyKit.h), with request filters for service kind 0.
//
// Mode kDefaultRights ("Default Policies"): kinds 0, 1, 2. Mode kSystemRights ("System Rights"):
// kinds 3, 4, 5, 6, 8, 9, 10, 7. Releasing Insert adds a recipient and releasing Delete removes
// the selected one. OK asks about every copy without recipients (IncludeDefaultRights plays no
// part here); a No keeps the dialog open with nothing applied. Otherwise every copy goes into
// its live right and, while on-line, request 42 is queued (the session sends the eleven
// rights). Cancel applies nothing. GUI thread only.

#include <QDialog>

struct CConfigurationDialogs;

class CNorvaneEngine;
class CRightsEditor;

class CDefaultPolicyDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { kDefaultRights = 0, kSystemRights = 1 };

    explicit CDefaultPolicyDlg(Mode mode, QWidget* parent = nullptr);
    // On the rights of `configuration` (the console's copy, or a test's).
    CDefaultPolicyDlg(Mode mode, CNorvaneEngine& configuration, QWidget* parent = nullptr);

    void accept() override;

    CRightsEditor* Editor() const { return m_editor; }

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    CRightsEditor* m_editor;
};

// The configuration tree's opener of the dialog on "Default Policies" and "System Rights".
void AddPolicyDialogs(CConfigurationDialogs& dialogs);
