#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

CBoxRecorder::CBoxRecorder() {
    SetMessageBoxAnswerer([this](const MessageBoxCall& call) {
        calls.push_back(call);
        if (m_answers.empty())
            return IDOK;
        int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

CBoxRecorder::~CBoxRecorder() { SetMessageBoxAnswerer({}); }

bool ProcessUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

QString ControlText(const QWidget* dialog, int id) {
    QWidget* control = FindControl(dialog, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        return text->toPlainText();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* group = qobject_cast<QGroupBox*>(control))
        return group->title();
    if (auto* list = qobject_cast<QTreeWidget*>(control)) {
        QStringList headings;
        for (int column = 0; column < list->columnCount(); ++column)
            headings << list->headerItem()->text(column);
        return headings.join('|');
    }
    if (control == nullptr)
        ADD_FAILURE() << "no control " << id;
    return {};
}

void SetControlText(QWidget* dialog, int id, const QString& text) {
    QWidget* control = FindControl(dialog, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
        plain->setPlainText(text);
    else
        ADD_FAILURE() << "no edit " << id;
}

void ClickControl(QWidget* dialog, int id) {
    auto* button = qobject_cast<QAbstractButton*>(FindControl(dialog, id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    button->click();
}

namespace {
// The offscreen platform says of every window it shows that it cannot size it by hints.
QtMessageHandler standardHandler = nullptr;
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains(QLatin1String("propagateSizeHints")))
        standardHandler(type, context, text);
}
}  // namespace

// The suites' main: one QApplication, offscreen unless the environment chose a platform.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    standardHandler = qInstallMessageHandler(QuietMessages);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
