#include "console/TabPage.h"

#include "console/DataExchange.h"
#include "console/MessageBox.h"

#include <QKeyEvent>

CTabPage::CTabPage(int templateId, int image, std::string title, QWidget* parent)
    : QWidget(parent), m_templateId(templateId), m_image(image), m_title(std::move(title)) {}

CTabPage::~CTabPage() = default;

std::string CTabPage::GetTitle() const { return m_title.empty() ? FromDisplay(windowTitle()) : m_title; }

BOOL CTabPage::UpdateData(BOOL save) {
    QWidget* refused = nullptr;
    BOOL done = ::UpdateData(this, save, [this](CDataExchange& dx) { DoDataExchange(dx); }, &refused);
    m_refusedControl = refused;
    return done;
}

BOOL CTabPage::Apply() { return TRUE; }

void CTabPage::Store() {}

void CTabPage::DoDataExchange(CDataExchange&) {}

BOOL CTabPage::OnInitDialog() { return UpdateData(FALSE); }

BOOL CTabPage::Create() {
    if (!m_created)
        m_created = OnInitDialog() != FALSE;
    return m_created ? TRUE : FALSE;
}

void CTabPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // Kept from the sheet, whose OK or Cancel they would press.
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
