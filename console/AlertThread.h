#pragma once
// CAlertThread: one alert, received message or message to compose, raised by any thread and
// shown without keeping the raiser waiting. Start() hands the alert to the process's alert
// presenter and returns at once; the presenter owns it from then on. The console session's
// thread raises log-on failures, refused requests, engine alerts and received messages this
// way; windows raise the message to compose.
//
// The class itself holds no widget and may be made and started on any thread. The GUI
// presenter (AlertPresenter.h) shows each alert on the GUI thread as a non-modal top-level
// window in front of the others, several at once, so alerts stay usable while a window-modal
// sheet runs. Tests install a recorder (SetAlertPresenter).

#include <functional>
#include <memory>
#include <string>

class QWidget;

class CAlertThread {
public:
    enum Mode {
        kMessageBox = 0,       // a box: flags choose icon and buttons (MessageBox.h)
        kReceivedMessage = 2,  // a message from another user, with Reply
        kComposeMessage = 3,   // a new message to `address`
    };

    // `owner` names the window the alert belongs to (may be null); the presenter uses it only
    // on the GUI thread, and only while that window still exists.
    CAlertThread(int mode, QWidget* owner, unsigned flags, std::string title, std::string text,
                 std::string address = {});

    // Hands this alert, made with new, to the presenter; the caller must not use it afterwards.
    void Start();

    int mode;
    QWidget* owner;
    unsigned flags;
    std::string title;
    std::string text;
    std::string address;
    // Runs once the alert has been closed (or dropped unshown), on the presenter's thread.
    std::function<void()> dismissed;
};

class IAlertPresenter {
public:
    virtual ~IAlertPresenter() = default;
    // Takes the alert; called on the thread that started it.
    virtual void Present(std::unique_ptr<CAlertThread> alert) = 0;
};

// Installs the process's presenter (null: none). Alerts started while none is installed are
// written to standard error, so that none is lost unseen. The caller keeps the presenter alive
// while it is installed.
void SetAlertPresenter(IAlertPresenter* presenter);
