#pragma once
// CAlertPresenter: shows alerts on the GUI thread. An alert started on any thread is handed
// over through a queued call and shown as a non-modal window without a parent, in front of the
// others: a box (mode 0) or a message dialog (modes 2 and 3). Each is closed on its own and
// deletes itself when closed; several may be open at once, and window-modal sheets do not
// block them.

#include "console/AlertThread.h"

#include <QObject>

class CAlertPresenter : public QObject, public IAlertPresenter {
    Q_OBJECT
public:
    // Makes the process's GUI presenter and installs it (once; the GUI thread must run the
    // QApplication). Uninstall removes and deletes it.
    static void Install();
    static void Uninstall();

    void Present(std::unique_ptr<CAlertThread> alert) override;

private:
    CAlertPresenter() = default;
    // GUI thread.
    void Show(const CAlertThread& alert);
};
