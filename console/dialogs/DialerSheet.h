#pragma once
// The dialer property sheet CDialerSheet (dialog 180, "Norvane Dialer Properties") and its
// pages Phonebook (170), Local sites (181) and Settings (183). It edits the console's copy of
// the dial-up manager (theConfiguration's CDialer, fetched with request 60) and sends it whole
// with request 62.
//
// What reaches the engine when:
//   - the Phonebook page's Add and Remove change the copy's profiles at once (Remove asks
//     nothing); the engine learns of them, with everything else, only from Apply or OK;
//   - Dial and Reset queue request 63 (name, "1" / "0", "") at once while on-line, whatever
//     is still unapplied;
//   - Apply and OK apply Phonebook, Local sites and Settings in that order (the pages store
//     under the profile map's lock, which the console session takes to replace the profiles)
//     and then queue 62 while on-line. Apply keeps the sheet open, OK closes it, Cancel
//     stores nothing.
//
// While open (from its first showing until it closes) the sheet is the application's dialer
// sheet (CWardenhallApp::m_dialerSheetWindow and m_dialerSheetRegistered). The console
// session's notices then reach it: 62 (the engine's dialer replaced the copy's) refills the
// Phonebook list and reloads the Local sites list, dropping what was not applied; 63 (the
// state of one profile changed) sets the Status column of the row that holds that profile.
// Other codes are ignored.
//
// Every Phonebook row holds its profile by a counted reference, so a profile that a 62 notice
// drops from the copy stays valid as long as a row or an Edit Profile sheet holds it; rows are
// found by that reference, never by name. GUI thread only.

#include "console/TabPage.h"
#include "console/TabSheetDlg.h"
#include "platform/framework/Object.h"

#include <string>
#include <vector>

struct CConfigurationDialogs;

class CDialer;
class CDialerProfile;
class QLineEdit;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

class CDialerPhonebookPage : public CTabPage {
    Q_OBJECT
public:
    explicit CDialerPhonebookPage(CDialer& dialer);

    QTreeWidget* List() const { return m_list; }
    // The profile of `row` (a row of the list), or null.
    static CDialerProfile* ProfileOf(const QTreeWidgetItem* row);
    // The row that holds `profile`, or null.
    QTreeWidgetItem* RowOf(const CDialerProfile* profile) const;

    // One row per profile of the dialer, in the map's order (a 62 notice).
    void Refill();
    // The Status column of the row that holds `profile` becomes its status text; nothing
    // happens when no row holds it.
    void ShowStatus(const CDialerProfile* profile);

    // "&Add": a new profile through the Edit Profile sheet, added to the dialer on OK.
    void OnAdd();
    // "R&emove": the selected row's profile leaves the dialer, without a question.
    void OnRemove();
    // A double-click on `row`: the Edit Profile sheet on its profile; OK refreshes the row.
    void OnEdit(QTreeWidgetItem* row);
    // "&Dial" (action "1") and "&Reset" (action "0"): request 63 for the selected row's
    // profile, on-line only.
    void OnDialOrReset(const char* action);

protected:
    BOOL OnInitDialog() override;

private:
    // A row for `profile` (whose description and status it shows), appended.
    QTreeWidgetItem* AddRow(CDialerProfile& profile);
    // The description and status columns of `row` from its profile. Hold the map's lock.
    static void ShowColumns(QTreeWidgetItem* row);

    CDialer& m_dialer;
    QTreeWidget* m_list;
};

class CDialerLocalSitesPage : public CTabPage {
    Q_OBJECT
public:
    explicit CDialerLocalSitesPage(CDialer& dialer);

    QListWidget* List() const { return m_list; }
    // The list from the dialer's local sites again (a 62 notice).
    void Reload();
    // "&Add": the edit's text joins the list (the edit keeps it). An empty text, one the
    // dialer could not keep (CDialer::IsUsableLocalSite) or one already listed in any letter
    // case is not added: the engine would refuse the whole dialer for it.
    void OnAdd();
    // "R&emove": the selected entry leaves the list and goes into the edit.
    void OnRemove();
    // The list's entries, in list order.
    std::vector<std::string> Sites() const;
    void Store() override;

protected:
    BOOL OnInitDialog() override;

private:
    CDialer& m_dialer;
    QListWidget* m_list;
    QLineEdit* m_edit;
};

class CDialerSettingsPage : public CTabPage {
    Q_OBJECT
public:
    static constexpr DWORD kDialingBit = 1;
    static constexpr DWORD kDebugBit = 2;
    static constexpr DWORD kMinInterval = 1;
    static constexpr DWORD kMaxInterval = 60;

    explicit CDialerSettingsPage(CDialer& dialer);

    // The saving exchange (the interval must be 1 to 60).
    BOOL Apply() override;
    void Store() override;
    // "Dialing / hanging up" and "Debug" are enabled exactly when "No logging" is not chosen.
    void UpdateControls();

    DWORD m_interval = 0;
    int m_logging = 0;  // radio index: 1 "Log these events"
    BOOL m_logDialing = FALSE;
    BOOL m_logDebug = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CDialer& m_dialer;
};

class CDialerSheet : public CTabSheetDlg {
    Q_OBJECT
public:
    // On the console's dialer (theConfiguration), or on `dialer`.
    explicit CDialerSheet(QWidget* parent = nullptr);
    CDialerSheet(CDialer& dialer, QWidget* parent);
    ~CDialerSheet() override;

    // Every close (OK, Cancel) clears the application's record of the sheet.
    void done(int result) override;

    CDialerPhonebookPage m_phonebookPage;
    CDialerLocalSitesPage m_localSitesPage;
    CDialerSettingsPage m_settingsPage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override;
    bool event(QEvent* event) override;

private:
    void Unregister();

    CDialer& m_dialer;
};

// The configuration tree's "Dialing": the dialer sheet, modal on `parent`.
int EditDialerProperties(QWidget* parent);

// Installs the dialer sheet's opener into the configuration tree's dialog table.
void AddDialerDialogs(CConfigurationDialogs& dialogs);
