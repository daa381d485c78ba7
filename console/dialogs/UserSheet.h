#pragma once
// The user property sheet CEditUserSheet (dialog 132) and its four pages: User Info (143),
// Groups (144), Accounting (145) and Auditing (150). It edits a user of the console's user
// database in place, or a new user it makes, and sends the change to the engine.
//
// The sheet holds its user by a counted reference, so a user the console session removes from
// the database while the sheet is open stays valid until the sheet closes. The pages write into
// the user only in their Store, which the sheet runs under the database lock.
//
// While open, the sheet is the application's user sheet (CWardenhallApp::m_userSheetWindow and
// m_userSheetObject): the console session's notices for its user (target 5) reach it, and the
// Accounting page then reloads from the user, dropping figures typed meanwhile. The record is
// cleared as the sheet closes, so an OK that a page refuses leaves the figures live.
//
// OK (after every page stored):
//   - on-line: request 24 with the user's name for an existing user, or request 22 with the
//     name and the new user (which the session sends once the engine accepts, and the engine's
//     echo brings back into the database); off-line, a new user joins the database at once and
//     the configuration view hears of it (code 0 with the user's tree record);
//   - when the Groups page changed: under the database lock, each listed group that exists gets
//     the user added (member list) or removed (other list) where ContainsUser disagrees, by the
//     user's name, and request 27 with the group's name is queued for each while on-line.
// Cancel frees a new user; an existing one is unchanged. GUI thread only.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "engine/access/User.h"

#include <array>
#include <string>

struct CConfigurationDialogs;

class CGroupMemberDatabase;
class QTreeWidget;
class QTreeWidgetItem;

class CUserInfoPage : public CUserPage {
    Q_OBJECT
public:
    explicit CUserInfoPage(CGroupMemberDatabase& database);

    // The saving exchange (two different password entries go to Confirm Password, whose
    // Cancel refuses), then for a new user the name check.
    BOOL Apply() override;
    void Store() override;
    // 1015 is enabled exactly when 1016 is not checked, and the reverse.
    void UpdateControls() override;

    std::string m_name, m_realName, m_password, m_confirm, m_description;
    BOOL m_accountEnabled = TRUE, m_cannotChange = FALSE, m_mustChange = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CGroupMemberDatabase& m_database;
};

class CUserGroupsPage : public CUserPage {
    Q_OBJECT
public:
    // The name of the group a new user joins when it exists.
    static constexpr const char* kDefaultGroup = "Users";
    explicit CUserGroupsPage(CGroupMemberDatabase& database);

    QTreeWidget* MemberList() const { return m_members; }
    QTreeWidget* OtherList() const { return m_others; }

protected:
    BOOL OnInitDialog() override;

private:
    // A double-click on `from`: the row clicked (if any) moves to `to`; the page is changed
    // either way.
    void MoveRow(QTreeWidget* from, QTreeWidgetItem* row, QTreeWidget* to);

    CGroupMemberDatabase& m_database;
    QTreeWidget* m_members;
    QTreeWidget* m_others;
};

class CUserAccountingPage : public CUserPage {
    Q_OBJECT
public:
    explicit CUserAccountingPage(CGroupMemberDatabase& database);

    // Loads the counters, rates and opening balance from the user again and shows them with
    // the figures computed from them (a notice for the user while the sheet is open).
    void Reload();
    // "&Reset" (1060): the quantities and the opening balance become zero, the rest follows.
    void Reset();
    void Store() override;

    // The figures as shown: counters, rates and balances (closing balance as shown or typed).
    CUser m_figures;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    // Subtotals, total and closing balance from the quantities, rates and opening balance.
    void Recompute();

    CGroupMemberDatabase& m_database;
    std::array<CCurrency, CUser::kCounterCount> m_subtotals;
    CCurrency m_total;
    bool m_loaded = false;
};

class CUserAuditingPage : public CUserPage {
    Q_OBJECT
public:
    explicit CUserAuditingPage(CGroupMemberDatabase& database);

    void Store() override;
    // The eight boxes are enabled exactly when "Do not audit user" is not chosen.
    void UpdateControls() override;

    int m_auditUser = 0;
    DWORD m_auditOptions = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CGroupMemberDatabase& m_database;
};

class CEditUserSheet : public CObjectSheetDlg<CUser> {
    Q_OBJECT
public:
    // Properties of `user` (a user of `database`), or a new user when it is null.
    explicit CEditUserSheet(CUser* user, QWidget* parent = nullptr);
    CEditUserSheet(CUser* user, CGroupMemberDatabase& database, QWidget* parent = nullptr);
    ~CEditUserSheet() override;

    // Every close (OK, Cancel) clears the application's record of the sheet.
    void done(int result) override;

    CUserInfoPage m_infoPage;
    CUserGroupsPage m_groupsPage;
    CUserAccountingPage m_accountingPage;
    CUserAuditingPage m_auditingPage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override;
    bool event(QEvent* event) override;

private:
    // Clears the application's record of this sheet (when it still is this one).
    void Unregister();
    // The Groups page's lists applied to the groups (see the top of this file).
    void ApplyMemberships(bool online, const std::string& user);

    CGroupMemberDatabase& m_database;
    CRef<CUser> m_user;
};

// The entry points of the configuration tree: Properties of `user` (a user of the console's
// database), and New user (32846). Each answers QDialog::Accepted or Rejected.
int EditUserProperties(QWidget* parent, CUser& user);
int NewUser(QWidget* parent);

// The configuration tree's openers of the user sheet and the group dialogs: on a user or group
// of the console's database, or New user / New group when it is null.
void AddUserDatabaseDialogs(CConfigurationDialogs& dialogs);
