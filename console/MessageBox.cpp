#include "console/MessageBox.h"

#include "console/ConsoleTexts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <atomic>
#include <mutex>

namespace {

struct Hooks {
    std::mutex mutex;
    MessageBoxAnswerer answerer;
};

Hooks& TheHooks() {
    static Hooks* hooks = new Hooks;  // never destroyed: usable while the process ends
    return *hooks;
}

std::atomic<std::uint64_t> beeps{0};

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & MB::kIconMask) {
    case MB::kIconStop: return QMessageBox::Critical;
    case MB::kIconQuestion: return QMessageBox::Question;
    case MB::kIconExclamation: return QMessageBox::Warning;
    case MB::kIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

std::string TitleOf(const std::string& title) { return title.empty() ? ConsoleTexts::kAppTitle : title; }

}  // namespace

QString ToDisplay(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FromDisplay(const QString& text) {
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QMessageBox* MakeMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                            unsigned flags) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(ToDisplay(TitleOf(title)));
    box->setTextFormat(Qt::PlainText);
    box->setText(ToDisplay(text));
    box->setIcon(IconOf(flags));
    bool secondIsDefault = (flags & MB::kDefaultMask) == MB::kDefaultButton2;
    switch (flags & MB::kButtonMask) {
    case MB::kYesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(secondIsDefault ? QMessageBox::No : QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
        break;
    case MB::kOkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(secondIsDefault ? QMessageBox::Cancel : QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Cancel);
        break;
    default:
        box->setStandardButtons(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Ok);
        break;
    }
    return box;
}

int ConsoleMessageBox(QWidget* parent, const std::string& text, const std::string& title, unsigned flags) {
    MessageBoxAnswerer answerer;
    {
        std::lock_guard lock(TheHooks().mutex);
        answerer = TheHooks().answerer;
    }
    if (answerer)
        return answerer(MessageBoxCall{parent, text, TitleOf(title), flags});

    // The box goes with its parent if that goes while the box is open.
    QPointer<QMessageBox> box = MakeMessageBox(parent, text, title, flags);
    box->setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    int answer = box->exec();
    delete box.data();
    switch (answer) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    default: return IDOK;
    }
}

bool ConsoleSheetQuestion(QWidget* parent, const std::string& text, const std::string& title) {
    return ConsoleMessageBox(parent, text, title, MB::kSheetQuestion) == IDYES;
}

void ConsoleBeep(unsigned) {
    beeps.fetch_add(1);
    bool hooked;
    {
        std::lock_guard lock(TheHooks().mutex);
        hooked = static_cast<bool>(TheHooks().answerer);
    }
    if (!hooked)
        QApplication::beep();
}

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().answerer = std::move(answerer);
}

std::uint64_t ConsoleBeepCount() { return beeps.load(); }
