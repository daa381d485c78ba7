#pragma once
// What the console suites share: a QApplication for the whole run (offscreen), a recorder for
// the session interface, a recorder that answers message boxes, and small widget helpers.

#include "console/ConsoleSession.h"
#include "console/Controls.h"
#include "console/MessageBox.h"

#include <QApplication>
#include <QLineEdit>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Records the requests windows queue; on-line as the test says.
class CRecordingSession : public IConsoleSession {
public:
    struct Request {
        WORD op;
        std::string arg1, arg2, arg3;
        bool hasObject;
        bool operator==(const Request&) const = default;
    };

    CRecordingSession() { SetConsoleSession(this); }
    ~CRecordingSession() override { SetConsoleSession(nullptr); }

    bool IsOnline() const override { return online; }
    void QueueMessage(WORD op, const std::string& a1, const std::string& a2, const std::string& a3) override {
        std::lock_guard lock(mutex);
        requests.push_back({op, a1, a2, a3, false});
    }
    void QueueRequest(WORD op, const std::string& a1, CRef<CObject> object) override {
        std::lock_guard lock(mutex);
        requests.push_back({op, a1, {}, {}, static_cast<bool>(object)});
    }

    bool online = true;
    std::mutex mutex;
    std::vector<Request> requests;
};

// Answers every message box from a queue of answers (IDOK when it is empty) and keeps each call.
class CBoxRecorder {
public:
    CBoxRecorder();
    ~CBoxRecorder();
    void Answer(int answer) { m_answers.push_back(answer); }
    std::vector<MessageBoxCall> calls;

private:
    std::deque<int> m_answers;
};

// Runs the GUI thread's posted work until `condition` holds or `timeoutMs` passes.
bool ProcessUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// The text of control `id` below `dialog` (an edit's or a button's or a label's).
QString ControlText(const QWidget* dialog, int id);
void SetControlText(QWidget* dialog, int id, const QString& text);
// Clicks the button numbered `id`.
void ClickControl(QWidget* dialog, int id);
