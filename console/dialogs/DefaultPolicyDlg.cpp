#include "console/dialogs/DefaultPolicyDlg.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/WardenhallView.h"
#include "console/dialogs/PolicyKit.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "remote/RCPOperations.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

using namespace UserDialogKit;

namespace {

const std::vector<DWORD>& KindsOf(CDefaultPolicyDlg::Mode mode) {
    static const std::vector<DWORD> defaults = {RightAccess, RightStartStop, RightEdit};
    static const std::vector<DWORD> system = {RightUserAdd,     RightServiceAdd,      RightActivityMonitor,
                                              RightActivityControl, RightDialerEdit,  RightCacheManagement,
                                              RightShutdown,    RightPolicyEdit};
    return mode == CDefaultPolicyDlg::kSystemRights ? system : defaults;
}

}  // namespace

CDefaultPolicyDlg::CDefaultPolicyDlg(Mode mode, QWidget* parent) : CDefaultPolicyDlg(mode, theConfiguration, parent) {}

CDefaultPolicyDlg::CDefaultPolicyDlg(Mode mode, CNorvaneEngine& configuration, QWidget* parent)
    : QDialog(parent), m_editor(new CRightsEditor(false, false, 0)) {
    setWindowTitle(mode == kSystemRights ? ConsoleTexts::kSystemRightsTitle : ConsoleTexts::kDefaultPoliciesTitle);
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kDefaultPolicyImage));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editor);
    layout->addWidget(OkCancelButtons(this));
    for (DWORD kind : KindsOf(mode))
        m_editor->AddRight(configuration.GetRight(kind));
    m_editor->Select(0);
}

void CDefaultPolicyDlg::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert && !event->isAutoRepeat())
        m_editor->AddRecipient();
    else if (event->key() == Qt::Key_Delete && !event->isAutoRepeat())
        m_editor->RemoveRecipient();
    else
        QDialog::keyReleaseEvent(event);
}

void CDefaultPolicyDlg::accept() {
    if (!m_editor->ConfirmEmptyRights(false))
        return;
    m_editor->Store();
    IConsoleSession& session = ConsoleSession();
    if (session.IsOnline())
        session.QueueMessage(RCPOperations::kModifyPolicies, {}, {}, {});
    QDialog::accept();
}

void AddPolicyDialogs(CConfigurationDialogs& dialogs) {
    dialogs.defaultPolicy = [](QWidget* parent, bool systemRights) {
        CDefaultPolicyDlg dialog(systemRights ? CDefaultPolicyDlg::kSystemRights : CDefaultPolicyDlg::kDefaultRights,
                                 parent);
        ExecChildDialog(dialog);
    };
}
