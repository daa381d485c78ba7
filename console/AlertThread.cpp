#include "console/AlertThread.h"

#include <cstdio>
#include <mutex>

namespace {

// Held while an alert is handed over, so that a presenter is never uninstalled mid-hand-over.
std::mutex& PresenterMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: alerts may come at exit
    return *mutex;
}
IAlertPresenter* presenter = nullptr;

}  // namespace

CAlertThread::CAlertThread(int mode, QWidget* owner, unsigned flags, std::string title, std::string text,
                           std::string address)
    : mode(mode), owner(owner), flags(flags), title(std::move(title)), text(std::move(text)),
      address(std::move(address)) {}

void CAlertThread::Start() {
    std::unique_ptr<CAlertThread> alert(this);
    std::lock_guard lock(PresenterMutex());
    if (presenter) {
        presenter->Present(std::move(alert));
        return;
    }
    std::fprintf(stderr, "Wardenhall alert: %s: %s\n", alert->title.c_str(), alert->text.c_str());
    if (alert->dismissed)
        alert->dismissed();
}

void SetAlertPresenter(IAlertPresenter* newPresenter) {
    std::lock_guard lock(PresenterMutex());
    presenter = newPresenter;
}
