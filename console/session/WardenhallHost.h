#pragma once
// What the console session and the application know of each other, without widgets: the
// application drives a session through IWardenhallSession, and a session reaches the
// application through IWardenhallHost (its settings, its flags, SetOnline, the alerts and the
// windows' dispatcher).

#include "console/ConsoleSettings.h"
#include "console/session/ViewNotice.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"

#include <functional>
#include <memory>
#include <string>

// The console session as the application drives it. The session is a thread of its own that
// deletes itself when it has ended. As it ends it calls IWardenhallHost::ForgetSession with
// itself (and, when that answers true, puts the console off-line), and it never waits for the
// GUI thread.
class IWardenhallSession {
public:
    virtual ~IWardenhallSession() = default;
    // Starts the thread, which logs on. False when the thread could not be made: the session
    // is then gone.
    virtual bool Start() = 0;
    // Asks the thread to end with `exitCode`; any thread. A read or transaction in progress is
    // woken (its connection is shut down).
    virtual void Terminate(int exitCode) = 0;
    // Set once the thread has ended; valid after the object has gone.
    virtual std::shared_ptr<CEvent> EndedEvent() const = 0;
    virtual void QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                              const std::string& arg3) = 0;
    virtual void QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) = 0;
};

// The application as a session sees it. Every operation may be called from the session's
// thread; none waits for the GUI thread.
class IWardenhallHost {
public:
    virtual ~IWardenhallHost() = default;
    // User name, password, server and port for a log-on, as they are now. Called where the
    // session is made (the GUI thread).
    virtual CConsoleSettings LogonSettings() const = 0;
    // The on-line flag, with the title and commands that follow it.
    virtual void SetOnline(bool online) = 0;
    virtual void SetLastLogonSucceeded(bool succeeded) = 0;
    virtual void SetConfigurationChanged(bool changed) = 0;
    // True (and the application forgets it) when `session` is still the application's session.
    virtual bool ForgetSession(IWardenhallSession* session) = 0;
    // Raises an alert owned by the main window (console/AlertThread.h gives the modes and
    // flags). `dismissed`, when given, runs once the alert has been closed, on some other
    // thread than the caller's.
    virtual void Alert(int mode, unsigned flags, const std::string& title, const std::string& text,
                       const std::string& address = {}, std::function<void()> dismissed = {}) = 0;
    // Opens Change Password on the GUI thread, as the command of the main window does.
    virtual void ChangePassword() = 0;
    // The dispatcher that takes the session's notices to the windows.
    virtual IViewDispatcher& Views() = 0;
};
