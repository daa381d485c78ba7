#pragma once
// The Edit Profile sheet CEditProfileSheet (dialog 171) and its pages General (172) and Access
// (173): one dialer profile of the console's dialer, or a new one the sheet makes.
//
// An existing profile is held by a counted reference while the sheet is open, so a 62 notice
// that drops it from the dialer leaves it valid (the edits then reach no dialer). A new profile
// starts with the profile's defaults and one recipient, an unrestricted "Everyone", in its
// access right; Cancel frees it, and after OK the caller takes it (TakeNewObject) and adds it
// to the dialer.
//
// OK applies General, then Access (two phases, console/TabSheetDlg.h); the pages store under
// the dialer's profile map lock, which the console session takes to replace profiles. Nothing
// is sent: the dialer sheet's Apply or OK sends the whole dialer. GUI thread only.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "dialer/DialerProfile.h"

#include <string>

class CDialer;
class CRightsEditor;
class QComboBox;

class CProfileGeneralPage : public CDialerPage {
    Q_OBJECT
public:
    explicit CProfileGeneralPage(CDialer& dialer);

    // The saving exchange; for a new profile also the name check: a name the dialer's store
    // cannot keep (CDialer::IsUsableProfileName), or one a profile already has in any letter
    // case, is refused with "You must choose another name for this profile".
    BOOL Apply() override;
    void Store() override;

    QComboBox* EntryCombo() const { return m_entries; }

    std::string m_name, m_profileName, m_username, m_password, m_domain;
    BOOL m_autoConnect = FALSE, m_autoDisconnect = FALSE;
    LONG m_disconnectAfter = 0, m_retries = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    CDialer& m_dialer;
    QComboBox* m_entries;
};

// The profile's access right in the rights editor (console/dialogs/PolicyKit.h): one right,
// edited as a working copy; its recipient sheets judge requests as a service of kind 1 does.
// Apply asks nothing, whatever the copy holds; Store copies it into AccessRights.
class CProfileAccessPage : public CDialerPage {
    Q_OBJECT
public:
    static constexpr int kServiceKind = 1;

    CProfileAccessPage();

    BOOL Apply() override;
    void Store() override;

    CRightsEditor* Editor() const { return m_editor; }

protected:
    BOOL OnInitDialog() override;

private:
    CRightsEditor* m_editor;
};

class CEditProfileSheet : public CObjectSheetDlg<CDialerProfile> {
    Q_OBJECT
public:
    // Properties of `profile` (a profile of `dialer`), or a new profile when it is null.
    CEditProfileSheet(CDialerProfile* profile, CDialer& dialer, QWidget* parent = nullptr);
    ~CEditProfileSheet() override;

    CProfileGeneralPage m_generalPage;
    CProfileAccessPage m_accessPage;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;

private:
    CDialer& m_dialer;
    CRef<CDialerProfile> m_profile;
};
