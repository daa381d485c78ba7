#pragma once
// The mapping property sheet CMappingSheet (dialog 166, "Mapping Properties") and its pages:
// Mapping (167, the target), User (168) and Location (169). It makes or edits one mapping of a
// port-mapping service's table and sends nothing to the engine: the mapping travels with its
// service when the service sheet is applied.
//
// Ownership, for the service sheet's Mappings page that opens it:
//   - an existing mapping is edited in place and stays the caller's; OK changes it, Cancel
//     leaves it as it was;
//   - a new mapping (made with new, or null for a default one the sheet makes) belongs to the
//     sheet: after OK the caller takes it with TakeNewObject() and adds it to the table; Cancel
//     frees it, and so does the sheet's end when it was never taken. The caller never frees
//     what it gave.
// When the mapping lies in a table that another thread reads (CMappings, given as `table`),
// the pages read it and OK writes it under that table's lock; a mapping no other thread can
// reach needs none.
//
// OK applies the pages in order (each takes and checks its controls), stopping at the first
// refusal with the sheet still open; then every page stores. GUI thread only.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "proxies/mapping/Mapping.h"

#include <string>

class CGroupMemberDatabase;
class CMappings;
class CPatternLists;
class CUserGroupChooser;

class CMappingTargetPage : public CMappingPage {
    Q_OBJECT
public:
    CMappingTargetPage();

    // The saving exchange: a port outside 0-65535 is refused.
    BOOL Apply() override;
    // The enabled flag and the destination; unticking "Enable mapping to" keeps both.
    void Store() override;

    BOOL m_enabled = TRUE;
    std::string m_server;
    DWORD m_port = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
};

class CMappingUserPage : public CMappingPage {
    Q_OBJECT
public:
    explicit CMappingUserPage(CGroupMemberDatabase& database);

    // The saving exchange; "Specify user or group" with no name chosen is refused with an
    // error box.
    BOOL Apply() override;
    // The flag, and the name only when a user or group is specified ("everyone" keeps the
    // stored name).
    void Store() override;
    // List 1099 is enabled exactly when 1105 is not checked.
    void UpdateControls();

    int m_specify = 0;
    std::string m_name;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CGroupMemberDatabase& m_database;
    CUserGroupChooser* m_chooser;
};

class CMappingLocationPage : public CMappingPage {
    Q_OBJECT
public:
    CMappingLocationPage();

    // The saving exchange; no question is asked (both lists may be empty).
    BOOL Apply() override;
    // The flag and both pattern lists in list order.
    void Store() override;
    // The eight list controls are enabled exactly when 1111 is not checked.
    void UpdateControls();

    int m_specify = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CPatternLists* m_lists;
};

class CMappingSheet : public CObjectSheetDlg<CMapping> {
    Q_OBJECT
public:
    // See the top of this file. The User page lists the console's user database.
    CMappingSheet(CMapping* mapping, BOOL existing, CMappings* table = nullptr, QWidget* parent = nullptr);

    CMappingTargetPage m_targetPage;
    CMappingUserPage m_userPage;
    CMappingLocationPage m_locationPage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;

private:
    // Runs `work` under the table's lock, when there is a table.
    void WithTableLocked(const std::function<void()>& work);

    CMappings* m_table;
};
