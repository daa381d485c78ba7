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

class CMappings;

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

class CMappingSheet : public CObjectSheetDlg<CMapping> {
    Q_OBJECT
public:
    // See the top of this file.
    CMappingSheet(CMapping* mapping, BOOL existing, CMappings* table = nullptr, QWidget* parent = nullptr);

    CMappingTargetPage m_targetPage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;

private:
    // Runs `work` under the table's lock, when there is a table.
    void WithTableLocked(const std::function<void()>& work);

    CMappings* m_table;
};
