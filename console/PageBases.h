#pragma once
// The page bases of the sheets' families, one shape over CTabPage: a pointer to the object the
// page edits (not owned: its sheet's, or the caller's), the existing-object flag, and a second
// int that the pages of most families use as their changed flag. All three are zero until the
// sheet sets them, before it adds the page.
//
// Apply is phase one of the sheet's OK (TabPage.h). Its default is the family's: the service,
// dialer and mapping pages take nothing by default (each page runs its own saving exchange);
// the recipient, user and cache pages take their controls' values. Those three also have
// UpdateControls, which enables and disables controls after a click (empty by default).

#include "console/DataExchange.h"
#include "console/TabPage.h"

class CDialerProfile;
class CMapping;
class CRecipient;
class CService;
class CUser;
class CWWWCache;

template <class Object>
class CObjectPage : public CTabPage {
public:
    explicit CObjectPage(int templateId, int image = -1, std::string title = {})
        : CTabPage(templateId, image, std::move(title)) {}

    void SetObject(Object* object, int existing) {
        m_object = object;
        m_existing = existing;
    }

    Object* m_object = nullptr;
    // 1 for an object of the configuration, 0 for a new one.
    int m_existing = 0;
    // Set by the page's edits (lists, radios) that its questions depend on.
    int m_changed = 0;
};

// A family whose Apply takes the controls' values (FALSE when one is refused) and that has
// UpdateControls.
template <class Object>
class CExchangingPage : public CObjectPage<Object> {
public:
    using CObjectPage<Object>::CObjectPage;
    BOOL Apply() override { return this->UpdateData(TRUE); }
    virtual void UpdateControls() {}
};

// Pages of the service sheet; the first int is the sheet's existing flag.
class CServicePage : public CObjectPage<CService> {
public:
    using CObjectPage::CObjectPage;
};

class CRecipientPage : public CExchangingPage<CRecipient> {
public:
    using CExchangingPage::CExchangingPage;
};

class CDialerPage : public CObjectPage<CDialerProfile> {
public:
    using CObjectPage::CObjectPage;
};

class CUserPage : public CExchangingPage<CUser> {
public:
    using CExchangingPage::CExchangingPage;
};

class CCachePage : public CExchangingPage<CWWWCache> {
public:
    using CExchangingPage::CExchangingPage;
};

class CMappingPage : public CObjectPage<CMapping> {
public:
    using CObjectPage::CObjectPage;
};
