#pragma once
// The recipient property sheet CEditRecipientSheet (dialog 152, "Edit Recipient") and its pages:
// Recipient (156), Location (157), Time (158) and, for a right of kind 0 only, Request (161).
//
// The sheet edits a recipient of a working copy of a right in place, or a new recipient it
// makes (the caller takes it after OK and owns it). Every caller passes a recipient of a
// working copy, never of a live right: nothing here locks, since no other thread reaches it.
//
// The Time page adds and removes time slices in the recipient's time filter at once, and the
// Request page edits its request filters in place; those edits stay after Cancel (in the
// caller's working copy, which the caller can still discard). The other values reach the
// recipient in the pages' Store, once every page accepted.
//
// The "unusable" questions (Yes/No, stop icon, No the default) are asked only for a page that
// changed, so an unchanged recipient that was already empty is not questioned again.
// GUI thread only.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "console/dialogs/PolicyKit.h"
#include "engine/access/Recipient.h"

#include <string>

class CRequestFilterTree;
class QListWidget;
class QListWidgetItem;

class CRecipientUserPage : public CRecipientPage {
    Q_OBJECT
public:
    explicit CRecipientUserPage(CGroupMemberDatabase& database);

    // A new recipient for a user or group must name one ("You must select a user or group").
    BOOL Apply() override;
    void Store() override;
    void UpdateControls() override;

    int m_specifyUser = 0;
    int m_securityLevel = 0;
    std::string m_userName;
    CUserGroupChooser* Chooser() const { return m_chooser; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CGroupMemberDatabase& m_database;
    CUserGroupChooser* m_chooser;
};

class CRecipientLocationPage : public CRecipientPage {
    Q_OBJECT
public:
    CRecipientLocationPage();

    // Specified locations on a changed page: none listed ("Invalid setting"), or localhost
    // not admitted ("Possible setting problem"); No refuses.
    BOOL Apply() override;
    void Store() override;
    void UpdateControls() override;

    int m_specifyLocation = 0;
    CPatternLists* Lists() const { return m_lists; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CPatternLists* m_lists;
};

class CRecipientTimePage : public CRecipientPage {
    Q_OBJECT
public:
    static constexpr int kIncludedList = 1112, kIncludedAdd = 1114, kIncludedRemove = 1115;
    static constexpr int kExcludedList = 1116, kExcludedAdd = 1118, kExcludedRemove = 1119;

    CRecipientTimePage();

    // Specified times on a changed page without an included slice: "Invalid setting".
    BOOL Apply() override;
    void Store() override;
    void UpdateControls() override;

    int m_specifyTime = 0;
    QListWidget* IncludedList() const { return m_included; }
    QListWidget* ExcludedList() const { return m_excluded; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    // The Time Slice dialog for a new slice, added to the inclusions or the exclusions.
    void AddSlice(bool inclusion);
    // The selected slice taken out of its list and its filter (which frees it).
    void RemoveSlice(bool inclusion);
    // The Time Slice dialog on a row's slice; its text follows the change.
    void EditSlice(QListWidgetItem* row);

    QListWidget* m_included;
    QListWidget* m_excluded;
};

class CRecipientRequestPage : public CRecipientPage {
    Q_OBJECT
public:
    static constexpr int kAddFilter = 1237, kAddCriterion = 1238, kDelete = 1229;

    CRecipientRequestPage();

    // The kind code of the service whose requests the filters judge (before the page is added).
    void SetServiceKind(int kind) { m_serviceKind = kind; }
    // Specified requests on a changed page without a filter: "Invalid setting".
    BOOL Apply() override;
    void Store() override;
    // The tree is enabled exactly when "all requests" (1120) is not checked.
    void UpdateControls() override;
    // The tree lets go of the collection (a new recipient is about to be freed).
    void Detach();

    int m_specifyRequest = 0;
    CRequestFilterTree* Tree() const { return m_tree; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    // The buttons act only while requests are specified; each marks the page changed.
    void OnButton(int id);

    CRequestFilterTree* m_tree;
    int m_serviceKind = 0;
};

class CEditRecipientSheet : public CObjectSheetDlg<CRecipient> {
    Q_OBJECT
public:
    // `recipient` null: a new recipient (the sheet makes it); else that recipient, edited in
    // place (`existing` TRUE). `serviceKind` goes to the Request page, which is added only for
    // a right of `rightType` 0.
    CEditRecipientSheet(CRecipient* recipient, BOOL existing, int serviceKind, DWORD rightType,
                        QWidget* parent = nullptr);
    CEditRecipientSheet(CRecipient* recipient, BOOL existing, int serviceKind, DWORD rightType,
                        CGroupMemberDatabase& database, QWidget* parent = nullptr);

    void reject() override;

    CRecipientUserPage m_userPage;
    CRecipientLocationPage m_locationPage;
    CRecipientTimePage m_timePage;
    CRecipientRequestPage m_requestPage;

protected:
    void OnInitDialog() override;

private:
    int m_serviceKind;
    DWORD m_rightType;
};
