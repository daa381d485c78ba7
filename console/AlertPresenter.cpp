#include "console/AlertPresenter.h"

#include "console/MessageBox.h"
#include "console/dialogs/MessageDlg.h"

#include <QApplication>
#include <QMessageBox>

namespace {

CAlertPresenter* installed = nullptr;

// Centres `window` over `owner` when the owner is still a live widget.
void PlaceOver(QWidget* window, QWidget* owner) {
    if (owner == nullptr || !QApplication::allWidgets().contains(owner) || !owner->window()->isVisible())
        return;
    window->adjustSize();
    QRect frame = window->frameGeometry();
    frame.moveCenter(owner->window()->frameGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace

void CAlertPresenter::Install() {
    if (installed)
        return;
    installed = new CAlertPresenter;
    installed->moveToThread(qApp->thread());
    SetAlertPresenter(installed);
}

void CAlertPresenter::Uninstall() {
    SetAlertPresenter(nullptr);
    delete installed;
    installed = nullptr;
}

void CAlertPresenter::Present(std::unique_ptr<CAlertThread> alert) {
    std::shared_ptr<CAlertThread> shared(alert.release());
    QMetaObject::invokeMethod(this, [this, shared] { Show(*shared); }, Qt::QueuedConnection);
}

void CAlertPresenter::Show(const CAlertThread& alert) {
    // Whatever closes the window (a button, its frame, the program's end) deletes it.
    auto whenClosed = [&alert](QWidget* window) {
        if (alert.dismissed)
            QObject::connect(window, &QObject::destroyed, alert.dismissed);
    };
    if (alert.mode == CAlertThread::kMessageBox) {
        QMessageBox* box = MakeMessageBox(nullptr, alert.text, alert.title, alert.flags);
        box->setAttribute(Qt::WA_DeleteOnClose);
        whenClosed(box);
        box->setWindowModality(Qt::NonModal);
        PlaceOver(box, alert.owner);
        box->show();
        box->raise();
        box->activateWindow();
        return;
    }
    bool compose = alert.mode == CAlertThread::kComposeMessage;
    auto* dialog = new CMessageDlg(compose, alert.title, alert.address, compose ? std::string() : alert.text);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    whenClosed(dialog);
    PlaceOver(dialog, alert.owner);
    dialog->Open();
}
