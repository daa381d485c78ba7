#include "console/dialogs/LocationDlg.h"

#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/WardenhallView.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Location.h"
#include "engine/access/LocationArray.h"
#include "engine/access/User.h"
#include "foundation/ScopedLock.h"
#include "ui_LocationDlg.h"

#include <QStringList>

CLocationDlg::CLocationDlg(CRef<CLocation> location, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CLocationDlg>()), m_location(std::move(location)) {
    m_ui->setupUi(this);
    setWindowIcon(ConsoleImages::Image(0));
    connect(m_ui->okButton, &QPushButton::clicked, this, &CLocationDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CLocationDlg::reject);
    if (m_location) {
        CScopedLock lock(theConfiguration.GetLocations());
        m_pattern = m_location->GetFilter();
        m_userName = m_location->GetUsername();
    }
    QStringList names;
    {
        CGroupMemberDatabase& database = theConfiguration.GetUserDatabase();
        CScopedLock lock(database);
        for (const auto& [name, entry] : database)
            if (auto* user = dynamic_cast<CUser*>(entry))
                names.append(ToDisplay(user->GetName()));
    }
    names.sort();
    m_ui->userCombo->addItems(names);
    m_ui->patternEdit->setText(ToDisplay(m_pattern));
    int at = m_ui->userCombo->findText(ToDisplay(m_userName), Qt::MatchExactly);
    if (at >= 0)
        m_ui->userCombo->setCurrentIndex(at);
    else
        m_ui->userCombo->setEditText(ToDisplay(m_userName));
}

CLocationDlg::~CLocationDlg() = default;

void CLocationDlg::accept() {
    std::string pattern = FromDisplay(m_ui->patternEdit->text());
    std::string userName = FromDisplay(m_ui->userCombo->currentText());
    IConsoleSession& session = ConsoleSession();
    CLocationArray& locations = theConfiguration.GetLocations();
    std::string oldPattern;
    {
        CScopedLock lock(locations);
        CLocation* same = locations.FindLocation(pattern);
        if (same != nullptr && same != m_location.Get()) {
            ConsoleMessageBox(this, ConsoleTexts::kLocationExists);
            return;
        }
        if (m_location) {
            oldPattern = m_location->GetFilter();
            m_location->Set(pattern, userName);
        }
    }
    m_pattern = pattern;
    m_userName = userName;
    bool online = session.IsOnline();
    if (m_location) {
        if (online)
            session.QueueMessage(RCPOperations::kModifyLocation, oldPattern, pattern, {});
    } else if (online) {
        session.QueueRequest(RCPOperations::kAddLocation, pattern,
                             CRef<CObject>::Adopt(new CLocation(pattern, userName)));
    } else {
        auto* location = new CLocation(pattern, userName);
        if (!locations.AddLocation(location))
            delete location;
    }
    if (!online)
        CWardenhallView::PostShowCopy();
    QDialog::accept();
}
