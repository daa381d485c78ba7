#include "tests/console/TestSheet.h"

#include "console/ChildDialog.h"
#include "console/Controls.h"
#include "console/MessageBox.h"
#include "console/dialogs/ConfirmPasswordDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>

namespace {

template <class Control>
Control* Add(QWidget* page, const char* label, int id, Control* control) {
    control->setProperty(kControlIdProperty, id);
    static_cast<QFormLayout*>(page->layout())->addRow(QString::fromLatin1(label), control);
    return control;
}

QLineEdit* Edit(QWidget* page, const char* label, int id) { return Add(page, label, id, new QLineEdit); }

void Radios(QWidget* page, std::initializer_list<std::pair<int, const char*>> radios) {
    for (auto [id, text] : radios)
        Add(page, "", id, new QRadioButton(QString::fromLatin1(text)));
}

}  // namespace

CTestPage::CTestPage(int templateId, const char* caption) : CObjectPage(templateId) {
    setWindowTitle(QString::fromLatin1(caption));
    new QFormLayout(this);
}

BOOL CTestPage::OnInitDialog() {
    fields = m_object->values;
    return CObjectPage::OnInitDialog();
}

void CTestPage::Store() {
    ++(m_object->mutex.IsHeldByCurrentThread() ? m_object->storesUnderLock : m_object->storesWithoutLock);
    StoreOwn(m_object->values);
}

CTestGeneralPage::CTestGeneralPage() : CTestPage(901, "General") {
    Edit(this, "Service Name", 1066);
    Edit(this, "Port", 1068);
    Add(this, "", 1071, new QCheckBox("Accept connections on port"));
    Edit(this, "Password", 1001)->setEchoMode(QLineEdit::Password);
    Edit(this, "Confirm", 1024)->setEchoMode(QLineEdit::Password);
}

void CTestGeneralPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, 1066, fields.name);
    DDV_MaxChars(dx, 1066, 20);
    DDX_Int(dx, 1068, fields.port, 1, 65535);
    DDX_Check(dx, 1071, fields.enabled);
    if (!dx.IsSaving())
        confirm = fields.password;
    DDX_Text(dx, 1001, fields.password);
    DDX_Text(dx, 1024, confirm);
    // As the user pages do: two different entries are confirmed in the child dialog.
    if (dx.IsSaving() && fields.password != confirm) {
        CConfirmPasswordDlg dialog(fields.password, this);
        if (ExecChildDialog(dialog) == QDialog::Accepted)
            fields.password = confirm = dialog.Password();
    }
}

void CTestGeneralPage::StoreOwn(TestValues& values) const {
    values.name = fields.name;
    values.port = fields.port;
    values.enabled = fields.enabled;
    values.password = fields.password;
}

CTestValuesPage::CTestValuesPage() : CTestPage(902, "Values") {
    Edit(this, "Rate", 1048);
    Edit(this, "Limit", 1056);
    Edit(this, "Ratio", 1057);
    Edit(this, "Starting", 1152);
    Edit(this, "At", 1150);
    Radios(this, {{1221, "Directly"}, {1222, "Through cascaded proxy server"}, {1223, "Through SOCKS4 server"}});
    auto* combo = Add(this, "Policy", 1188, new QComboBox);
    combo->addItems({"Web", "Mail"});
    // A second group of its own.
    auto* logging = new QWidget;
    auto* column = new QFormLayout(logging);
    column->setContentsMargins(0, 0, 0, 0);
    Radios(logging, {{1165, "Do not log events"}, {1166, "Log these events"}});
    static_cast<QFormLayout*>(layout())->addRow(logging);
}

void CTestValuesPage::DoDataExchange(CDataExchange& dx) {
    DDX_Currency(dx, 1048, fields.rate);
    DDX_UInt(dx, 1056, fields.limit);
    DDX_Double(dx, 1057, fields.ratio, 0.0, 1.0);
    DDX_DateTime(dx, 1152, fields.start);
    DDX_Time(dx, 1150, fields.time);
    DDX_Radio(dx, {1221, 1222, 1223}, fields.method);
    DDX_CBString(dx, 1188, fields.policy);
    DDX_Radio(dx, {1165, 1166}, fields.logging);
}

void CTestValuesPage::StoreOwn(TestValues& values) const {
    values.rate = fields.rate, values.limit = fields.limit, values.ratio = fields.ratio;
    values.start = fields.start, values.time = fields.time;
    values.method = fields.method, values.policy = fields.policy, values.logging = fields.logging;
}

CTestChecksPage::CTestChecksPage() : CTestPage(903, "Checks") { Edit(this, "Note", 1000); }

void CTestChecksPage::DoDataExchange(CDataExchange& dx) { DDX_Text(dx, 1000, fields.note); }

BOOL CTestChecksPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    return !fields.note.empty() ||
           ConsoleSheetQuestion(this, "There is no note.\n\nDo you wish to continue?", "Invalid setting");
}

void CTestSheet::OnInitDialog() {
    for (CTestPage* page : std::initializer_list<CTestPage*>{&general, &values, &checks}) {
        page->SetObject(GetObject(), IsExisting());
        TabSheet().AddPage(page);
    }
    setWindowTitle(QString::fromStdString("Properties for " + GetObject()->values.name));
}

void CTestSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CMutexLock lock(GetObject()->mutex);
    storeAll();
}
