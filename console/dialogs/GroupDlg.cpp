#include "console/dialogs/GroupDlg.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleSession.h"
#include "console/ConsoleTexts.h"
#include "console/DataExchange.h"
#include "console/MessageBox.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/ScopedLock.h"
#include "remote/RCPOperations.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace UserDialogKit;

namespace {

constexpr int kGroupName = 1035, kDescription = 1036, kNonMembers = 1037, kMembers = 1038;
constexpr int kAdd = 4, kRemove = 3;

QTreeWidget* UserList(int id) {
    return MakeList(id, {{"User", 70}, {"Real name", 100}, {"Description", 170}});
}

QPushButton* Button(const char* text, int id) { return Numbered(new QPushButton(text), id); }

CGroupMemberDatabase& ConsoleUsers() { return theConfiguration.GetUserDatabase(); }

}  // namespace

CGroupDlg::CGroupDlg(bool newGroup, const std::string& group, CGroupMemberDatabase& database, QWidget* parent)
    : QDialog(parent),
      m_database(database),
      m_newGroup(newGroup),
      m_name(group),
      m_nonMembers(UserList(kNonMembers)),
      m_members(UserList(kMembers)) {
    setWindowTitle(newGroup ? "New Group" : "Edit Group");
    setWindowIcon(ConsoleImages::Image(ConsoleIds::kGroupImage));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Group Name"), 0, 0);
    if (newGroup)
        grid->addWidget(Numbered(new QLineEdit, kGroupName), 0, 1, 1, 3);
    else
        grid->addWidget(Numbered(new QLabel(ToDisplay(group)), kGroupName), 0, 1, 1, 3);
    grid->addWidget(new QLabel("Description"), 1, 0);
    grid->addWidget(Numbered(new QLineEdit, kDescription), 1, 1, 1, 3);
    grid->addWidget(new QLabel("Non-members:"), 2, 0, 1, 2);
    grid->addWidget(new QLabel("Members:"), 2, 3);
    grid->addWidget(m_nonMembers, 3, 0, 1, 2);
    grid->addWidget(m_members, 3, 3);
    auto* moves = new QVBoxLayout;
    QPushButton* add = Button("&Add", kAdd);
    QPushButton* remove = Button("&Remove", kRemove);
    moves->addStretch();
    moves->addWidget(add);
    moves->addWidget(remove);
    moves->addStretch();
    grid->addLayout(moves, 3, 2);
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = Button("OK", ConsoleIds::kOk);
    ok->setDefault(true);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(Button("Cancel", ConsoleIds::kCancel), QDialogButtonBox::RejectRole);
    grid->addWidget(buttons, 4, 0, 1, 4);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(add, &QPushButton::clicked, this, [this] { MoveToMembers(SelectedRow(m_nonMembers)); });
    connect(remove, &QPushButton::clicked, this, [this] { MoveToNonMembers(SelectedRow(m_members)); });
    OnDoubleClick(m_nonMembers, [this](QTreeWidgetItem* row) { MoveToMembers(row); });
    OnDoubleClick(m_members, [this](QTreeWidgetItem* row) { MoveToNonMembers(row); });

    CScopedLock lock(m_database);
    const CGroup* members = newGroup ? nullptr : m_database.FindGroup(group);
    for (const auto& [name, entry] : m_database) {
        if (auto* user = dynamic_cast<CUser*>(entry)) {
            const bool member = members != nullptr && members->ContainsUser(user->GetName());
            AddRow(member ? m_members : m_nonMembers, member ? ConsoleIds::kUserImage : ConsoleIds::kNonMemberImage,
                   {user->GetName(), user->GetRealName(), user->GetDescriptionText()});
        }
    }
    m_members->sortItems(0, Qt::AscendingOrder);
    m_nonMembers->sortItems(0, Qt::AscendingOrder);
}

void CGroupDlg::MoveToMembers(QTreeWidgetItem* row) {
    if (MoveRow(m_nonMembers, row, m_members, ConsoleIds::kUserImage))
        m_members->sortItems(0, Qt::AscendingOrder);
}

void CGroupDlg::MoveToNonMembers(QTreeWidgetItem* row) {
    if (MoveRow(m_members, row, m_nonMembers, ConsoleIds::kNonMemberImage))
        m_nonMembers->sortItems(0, Qt::AscendingOrder);
}

BOOL CGroupDlg::SaveFields() {
    return UpdateData(this, TRUE, [this](CDataExchange& dx) {
        if (m_newGroup)
            DDX_Text(dx, kGroupName, m_name);
        DDX_Text(dx, kDescription, m_description);
    });
}

CNewGroupDlg::CNewGroupDlg(QWidget* parent) : CNewGroupDlg(ConsoleUsers(), parent) {}

CNewGroupDlg::CNewGroupDlg(CGroupMemberDatabase& database, QWidget* parent)
    : CGroupDlg(true, {}, database, parent) {}

void CNewGroupDlg::accept() {
    if (!SaveFields())
        return;
    if (!MayAddEntry(m_database, m_name, true)) {
        ConsoleMessageBox(this, ConsoleTexts::kGroupNameTaken);
        return;
    }
    CRef<CGroup> group = CRef<CGroup>::Adopt(new CGroup(m_name, m_description));
    {
        CScopedLock lock(m_database);
        for (const std::string& name : RowNames(MemberList())) {
            if (CUser* user = m_database.FindUserAccount(name))
                group->AddMember(*user);
        }
    }
    IConsoleSession& session = ConsoleSession();
    if (session.IsOnline())
        session.QueueRequest(RCPOperations::kAddGroup, m_name, std::move(group));
    else
        AddEntryOffline(m_database, *group);
    QDialog::accept();
}

CEditGroupDlg::CEditGroupDlg(const std::string& name, const std::string& description, QWidget* parent)
    : CEditGroupDlg(name, description, ConsoleUsers(), parent) {}

CEditGroupDlg::CEditGroupDlg(const std::string& name, const std::string& description,
                             CGroupMemberDatabase& database, QWidget* parent)
    : CGroupDlg(false, name, database, parent) {
    m_description = description;
    UpdateData(this, FALSE, [this](CDataExchange& dx) { DDX_Text(dx, kDescription, m_description); });
}

void CEditGroupDlg::accept() {
    if (!SaveFields())
        return;
    bool found = false;
    {
        CScopedLock lock(m_database);
        if (CGroup* group = m_database.FindGroup(m_name)) {
            found = true;
            for (const std::string& name : RowNames(MemberList())) {
                if (CUser* user = m_database.FindUserAccount(name))
                    group->AddMember(*user);
            }
            for (const std::string& name : RowNames(NonMemberList())) {
                if (m_database.FindUserAccount(name) != nullptr)
                    group->RemoveMember(name);
            }
            group->SetDescription(m_description);
        }
    }
    IConsoleSession& session = ConsoleSession();
    if (found && session.IsOnline())
        session.QueueMessage(RCPOperations::kModifyGroup, m_name, {}, {});
    QDialog::accept();
}

int NewGroup(QWidget* parent) {
    CNewGroupDlg dialog(parent);
    return ExecChildDialog(dialog);
}

int EditGroupProperties(QWidget* parent, CGroup& group) {
    std::string name, description;
    {
        CScopedLock lock(ConsoleUsers());
        name = group.GetName();
        description = group.GetDescriptionText();
    }
    CEditGroupDlg dialog(name, description, parent);
    return ExecChildDialog(dialog);
}
