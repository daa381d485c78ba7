#pragma once
// The group dialogs: CNewGroupDlg (dialog 138, "New Group") and CEditGroupDlg (dialog 139,
// "Edit Group") on one layout: the name (1035: an edit in New Group, the group's name in Edit
// Group), the description (1036), the users outside the group (1037, "Non-members:") and in it
// (1038, "Members:"), each list sorted by user name, and "&Add" (4) and "&Remove" (3), which
// move the selected user to the other list, as a double-click on a user does. Only users are
// listed; groups never nest through these dialogs.
//
// New Group's OK refuses a name that a user or group holds, or that the database could never
// take, and keeps the dialog open; otherwise the new group, with the listed members that still
// exist, goes to the engine (request 25, on-line) or joins the console's database at once
// (off-line). Edit Group's OK adds and removes the listed users that still exist and stores
// the description, under the database lock, then queues request 27 while on-line. GUI thread
// only.

#include "platform/kernel/Types.h"

#include <QDialog>

#include <string>

class CGroup;
class CGroupMemberDatabase;
class QTreeWidget;
class QTreeWidgetItem;

class CGroupDlg : public QDialog {
    Q_OBJECT
public:
    QTreeWidget* NonMemberList() const { return m_nonMembers; }
    QTreeWidget* MemberList() const { return m_members; }

protected:
    // `group`: the name of the group whose members fill "Members:" (empty for a new group).
    CGroupDlg(bool newGroup, const std::string& group, CGroupMemberDatabase& database, QWidget* parent);
    // The name (New Group) and the description typed; FALSE when refused.
    BOOL SaveFields();

    CGroupMemberDatabase& m_database;
    const bool m_newGroup;
    std::string m_name;
    std::string m_description;

private:
    // `row` (null: none) moves to the other list, which stays sorted.
    void MoveToMembers(QTreeWidgetItem* row);
    void MoveToNonMembers(QTreeWidgetItem* row);

    QTreeWidget* m_nonMembers;
    QTreeWidget* m_members;
};

class CNewGroupDlg : public CGroupDlg {
    Q_OBJECT
public:
    explicit CNewGroupDlg(QWidget* parent = nullptr);
    CNewGroupDlg(CGroupMemberDatabase& database, QWidget* parent = nullptr);
    void accept() override;
};

class CEditGroupDlg : public CGroupDlg {
    Q_OBJECT
public:
    CEditGroupDlg(const std::string& name, const std::string& description, QWidget* parent = nullptr);
    CEditGroupDlg(const std::string& name, const std::string& description, CGroupMemberDatabase& database,
                  QWidget* parent = nullptr);
    void accept() override;
};

// The entry points of the configuration tree: New group (32847) and Properties of `group` (a
// group of the console's database). Each answers QDialog::Accepted or Rejected.
int NewGroup(QWidget* parent);
int EditGroupProperties(QWidget* parent, CGroup& group);
