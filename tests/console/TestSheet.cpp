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

template <class Control = QLineEdit>
Control* Add(QWidget* page, const char* label, int id, Control* control = new Control) {
    control->setProperty(kControlIdProperty, id);
    static_cast<QFormLayout*>(page->layout())->addRow(QString::fromLatin1(label), control);
    return control;
}

}  // namespace

CTestPage::CTestPage(int templateId, const char* caption) : CObjectPage(templateId) {
    setWindowTitle(QString::fromLatin1(caption));
    new QFormLayout(this);
    switch (templateId) {
    case 901:
        Add(this, "Service Name", 1066);
        Add(this, "Port", 1068);
        Add(this, "", 1071, new QCheckBox("Accept connections on port"));
        Add(this, "Password", 1001)->setEchoMode(QLineEdit::Password);
        Add(this, "Confirm", 1024)->setEchoMode(QLineEdit::Password);
        break;
    case 902: {
        Add(this, "Rate", 1048);
        Add(this, "Starting", 1152);
        Add(this, "At", 1150);
        const std::pair<int, const char*> radios[] = {
            {1221, "Directly"}, {1222, "Through cascaded proxy server"}, {1223, "Through SOCKS4 server"}};
        for (auto [id, text] : radios)
            Add(this, "", id, new QRadioButton(QString::fromLatin1(text)));
        Add(this, "Policy", 1188, new QComboBox)->addItems({"Web", "Mail"});
        break;
    }
    default:
        Add(this, "Note", 1000);
    }
}

BOOL CTestPage::OnInitDialog() {
    fields = m_object->values;
    confirm = fields.password;
    return CObjectPage::OnInitDialog();
}

void CTestPage::DoDataExchange(CDataExchange& dx) {
    switch (GetTemplateId()) {
    case 901:
        DDX_Text(dx, 1066, fields.name);
        DDV_MaxChars(dx, 1066, 20);
        DDX_Int(dx, 1068, fields.port, 1, 65535);
        DDX_Check(dx, 1071, fields.enabled);
        DDX_Text(dx, 1001, fields.password);
        DDX_Text(dx, 1024, confirm);
        // As the user pages do: two different entries are confirmed in the child dialog.
        if (dx.IsSaving() && fields.password != confirm) {
            CConfirmPasswordDlg dialog(fields.password, this);
            if (ExecChildDialog(dialog) == QDialog::Accepted)
                fields.password = confirm = dialog.Password();
        }
        break;
    case 902:
        DDX_Currency(dx, 1048, fields.rate);
        DDX_DateTime(dx, 1152, fields.start);
        DDX_Time(dx, 1150, fields.time);
        DDX_Radio(dx, {1221, 1222, 1223}, fields.method);
        DDX_CBString(dx, 1188, fields.policy);
        break;
    default:
        DDX_Text(dx, 1000, fields.note);
    }
}

BOOL CTestPage::Apply() {
    if (!UpdateData(TRUE))
        return FALSE;
    return GetTemplateId() != 903 || !fields.note.empty() ||
           ConsoleSheetQuestion(this, "There is no note.\n\nDo you wish to continue?", "Invalid setting");
}

void CTestPage::Store() {
    ++(m_object->mutex.IsHeldByCurrentThread() ? m_object->storesUnderLock : m_object->storesWithoutLock);
    TestValues& values = m_object->values;
    if (GetTemplateId() == 901) {
        values.name = fields.name, values.port = fields.port, values.enabled = fields.enabled;
        values.password = fields.password;
    } else if (GetTemplateId() == 902) {
        values.rate = fields.rate, values.start = fields.start, values.time = fields.time;
        values.method = fields.method, values.policy = fields.policy;
    } else {
        values.note = fields.note;
    }
}

CTestSheet::CTestSheet(QWidget* parent) : CObjectSheetDlg(900, parent) {}

void CTestSheet::OnInitDialog() {
    for (CTestPage* page : {&general, &values, &checks}) {
        page->SetObject(GetObject(), IsExisting());
        TabSheet().AddPage(page);
    }
    setWindowTitle(QString::fromStdString("Properties for " + GetObject()->values.name));
}

void CTestSheet::StoreUnderLock(const std::function<void()>& storeAll) {
    CMutexLock lock(GetObject()->mutex);
    storeAll();
}
