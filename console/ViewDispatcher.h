#pragma once
// The GUI thread's side of the console session's notices (console/session/ViewNotice.h).
//
// CViewDispatcher: the one dispatcher of the process. Post, from any thread, hands a notice to
// the GUI thread through a queued call; there each notice is sent, in the order it was
// posted, as a CViewUpdateEvent to the windows of its target that are registered with the
// application as it arrives (CWardenhallApp: the two views, and the user, dialer and cache
// sheets while they are open). A notice nobody takes is dropped, and the reference it holds
// goes with it on the GUI thread.
//
// A window handles the event in its event(); it keeps the reference the event holds when it
// keeps the record or object.

#include "console/session/ViewNotice.h"

#include <QEvent>
#include <QObject>

class CWardenhallApp;

class CViewUpdateEvent : public QEvent {
public:
    // The event type of every notice (registered on first use).
    static QEvent::Type Type();

    CViewUpdateEvent(UINT code, CRef<CObject> object);
    UINT Code() const { return m_code; }
    const CRef<CObject>& Object() const { return m_object; }

private:
    UINT m_code;
    CRef<CObject> m_object;
};

class CViewDispatcher : public QObject, public IViewDispatcher {
    Q_OBJECT
public:
    // The dispatcher of `app`, made on the GUI thread by the first call and never destroyed (a
    // session thread may still post while the program ends).
    static CViewDispatcher& Instance(CWardenhallApp& app);

    void Post(CViewNotice notice) override;
    // Sends the notice to its receivers now; GUI thread.
    void Deliver(const CViewNotice& notice);

private:
    explicit CViewDispatcher(CWardenhallApp& app) : m_app(app) {}

    CWardenhallApp& m_app;
};
