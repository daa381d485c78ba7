// Alerts raised from other threads while a window-modal dialog runs, the message dialog's
// Reply and Send, and the password dialogs.

#include "console/AlertPresenter.h"
#include "console/AlertThread.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/dialogs/ChangePasswordDlg.h"
#include "console/dialogs/ConfirmPasswordDlg.h"
#include "console/dialogs/MessageDlg.h"
#include "tests/console/ConsoleTestKit.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

template <class T>
std::vector<T*> Visible() {
    std::vector<T*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* typed = qobject_cast<T*>(widget); typed && typed->isVisible())
            found.push_back(typed);
    return found;
}

TEST(Alerts, OtherThreadsRaiseThemWhileAWindowModalDialogRuns) {
    CAlertPresenter::Install();
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    QDialog sheet(&owner);
    sheet.setWindowModality(Qt::WindowModal);
    std::uint64_t beeps = ConsoleBeepCount();

    QTimer::singleShot(0, [&] {
        std::thread([&] {
            (new CAlertThread(0, &owner, 0x30, "Engine alert", "Disk <b>full</b>"))->Start();
            (new CAlertThread(0, &owner, 0x10, "Problem connecting to server", "Refused"))->Start();
            (new CAlertThread(2, &owner, 0, "Message from bob on 10.0.0.5", "hello", "bob"))->Start();
        }).join();
        // A failed wait ends the sheet, so that the test ends too.
        auto waitFor = [&](const std::function<bool()>& condition) {
            bool met = ProcessUntil(condition);
            if (!met)
                sheet.done(QDialog::Rejected);
            return met;
        };
        // All three are shown at once, though the sheet's loop still runs.
        if (!waitFor([] { return Visible<QMessageBox>().size() == 2 && Visible<CMessageDlg>().size() == 1; }))
            return;
        std::vector<QMessageBox*> boxes = Visible<QMessageBox>();
        for (QMessageBox* box : boxes) {
            EXPECT_EQ(box->parentWidget(), nullptr);
            EXPECT_EQ(box->windowModality(), Qt::NonModal);
            EXPECT_EQ(box->textFormat(), Qt::PlainText) << "engine texts are never markup";
        }
        QMessageBox* warning = boxes[0]->icon() == QMessageBox::Warning ? boxes[0] : boxes[1];
        QMessageBox* stop = warning == boxes[0] ? boxes[1] : boxes[0];
        EXPECT_EQ(warning->windowTitle(), "Engine alert");
        EXPECT_EQ(stop->icon(), QMessageBox::Critical);
        EXPECT_EQ(ConsoleBeepCount(), beeps + 1) << "a received message beeps";

        // Each closes on its own, by a real click that the sheet's modality would swallow.
        QTest::mouseClick(warning->button(QMessageBox::Ok), Qt::LeftButton);
        if (!waitFor([] { return Visible<QMessageBox>().size() == 1; }))
            return;
        EXPECT_EQ(Visible<QMessageBox>()[0]->windowTitle(), "Problem connecting to server");
        EXPECT_TRUE(sheet.isVisible());
        QTest::mouseClick(Visible<QMessageBox>()[0]->button(QMessageBox::Ok), Qt::LeftButton);
        if (!waitFor([] { return Visible<QMessageBox>().empty(); }))
            return;
        Visible<CMessageDlg>()[0]->close();
        sheet.done(QDialog::Accepted);
    });
    EXPECT_EQ(sheet.exec(), QDialog::Accepted);
    ASSERT_TRUE(ProcessUntil([] { return Visible<CMessageDlg>().empty(); }));
    CAlertPresenter::Uninstall();
}

TEST(MessageDialog, ReplyAddressesTheSenderAndSendQueuesOnlyOnline) {
    CRecordingSession session;
    CMessageDlg dialog(false, "Message from bob on 10.0.0.5", "bob", "Lunch?");
    dialog.Open();
    EXPECT_EQ(ControlText(&dialog, 1), "&Reply");
    EXPECT_EQ(ControlText(&dialog, 1042), "Message");
    EXPECT_EQ(ControlText(&dialog, 1039), "Lunch?");

    ClickControl(&dialog, 1);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), "Reply to bob on 10.0.0.5");
    EXPECT_EQ(ControlText(&dialog, 1), "&Send");
    EXPECT_EQ(ControlText(&dialog, 1042), "Your Message");
    EXPECT_TRUE(dialog.IsCompose());
    EXPECT_TRUE(session.requests.empty());

    SetControlText(&dialog, 1039, QString::fromLatin1("Yes, at one. \xE9t\xE9"));
    ClickControl(&dialog, 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(session.requests,
              (std::vector<CRecordingSession::Request>{{91, "bob", "Yes, at one. \xE9t\xE9", "", false}}));

    // A caption too short to hold the names leaves them empty.
    CMessageDlg odd(false, "Message", "x", "t");
    ClickControl(&odd, 1);
    EXPECT_EQ(odd.windowTitle(), "Reply to ");
}

TEST(MessageDialog, OfflineSendsNothingAndTooLongIsRefused) {
    CRecordingSession session;
    CBoxRecorder boxes;
    session.online = false;
    CMessageDlg offline(true, "Message to bob on 10.0.0.5", "bob");
    offline.Open();
    EXPECT_EQ(ControlText(&offline, 1042), "Your message");
    SetControlText(&offline, 1039, "hello");
    ClickControl(&offline, 1);
    EXPECT_FALSE(offline.isVisible());
    EXPECT_TRUE(session.requests.empty());

    // The frame holds the code, "bob", the text and "" within 16384 bytes: 10 + length.
    session.online = true;
    EXPECT_TRUE(FitsInOneFrame(91, "bob", std::string(16374, 'a'), ""));
    EXPECT_FALSE(FitsInOneFrame(91, "bob", std::string(16375, 'a'), ""));
    CMessageDlg tooLong(true, "Message to bob on 10.0.0.5", "bob");
    tooLong.Open();
    SetControlText(&tooLong, 1039, QString(16375, 'a'));
    ClickControl(&tooLong, 1);
    EXPECT_TRUE(tooLong.isVisible());
    EXPECT_TRUE(session.requests.empty());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kMessageTooLong);

    SetControlText(&tooLong, 1039, QString(16374, 'a'));
    ClickControl(&tooLong, 1);
    EXPECT_FALSE(tooLong.isVisible());
    EXPECT_EQ(session.requests.size(), 1u);
}

TEST(PasswordDialogs, MismatchKeepsThemOpenAndEditsAreMasked) {
    CBoxRecorder boxes;
    CChangePasswordDlg change;
    change.show();
    for (int id : {1002, 1001, 1024})
        EXPECT_EQ(qobject_cast<QLineEdit*>(FindControl(&change, id))->echoMode(), QLineEdit::Password) << id;
    SetControlText(&change, 1002, "old");
    SetControlText(&change, 1001, "new");
    SetControlText(&change, 1024, "neW");
    ClickControl(&change, 1);
    EXPECT_TRUE(change.isVisible());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Passwords do not match\n\nMake sure you specify the same\npassword and confirmed password");
    SetControlText(&change, 1024, "new");
    ClickControl(&change, 1);
    EXPECT_EQ(change.result(), QDialog::Accepted);
    EXPECT_EQ(change.OldPassword(), "old");
    EXPECT_EQ(change.NewPassword(), "new");

    CConfirmPasswordDlg confirm("typed");
    confirm.show();
    for (int id : {1001, 1024})
        EXPECT_EQ(qobject_cast<QLineEdit*>(FindControl(&confirm, id))->echoMode(), QLineEdit::Password) << id;
    EXPECT_EQ(ControlText(&confirm, 1001), "typed");
    EXPECT_EQ(ControlText(&confirm, 1024), "");
    std::uint64_t beeps = ConsoleBeepCount();
    ClickControl(&confirm, 1);
    EXPECT_TRUE(confirm.isVisible());
    EXPECT_EQ(ConsoleBeepCount(), beeps + 1);
    EXPECT_EQ(boxes.calls.size(), 1u) << "only a beep";
    SetControlText(&confirm, 1024, "typed");
    ClickControl(&confirm, 1);
    EXPECT_EQ(confirm.result(), QDialog::Accepted);
    EXPECT_EQ(confirm.Password(), "typed");
}

TEST(ImageList, TwentyPicturesWithGreenTransparentOrTheFailureBox) {
    CBoxRecorder boxes;
    ASSERT_TRUE(ConsoleImages::LoadImageList(nullptr));
    for (int i = 0; i < ConsoleImages::kImageCount; ++i) {
        QImage image = ConsoleImages::Image(i).pixmap(16, 15).toImage();
        EXPECT_EQ(image.size(), QSize(16, 15)) << i;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "picture " << i << " has a transparent corner";
    }
    EXPECT_TRUE(ConsoleImages::Image(20).isNull());
    EXPECT_TRUE(boxes.calls.empty());

    EXPECT_FALSE(ConsoleImages::LoadImageList(nullptr, ":/wardenhall/toolbar128.png")) << "too few pictures";
    EXPECT_FALSE(ConsoleImages::LoadImageList(nullptr, "/nonexistent.png"));
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[1].text, "Could not load bitmaps");
    EXPECT_EQ(boxes.calls[1].title, "Urvo Wardenhall");
    EXPECT_TRUE(ConsoleImages::Image(1).isNull());
}

}  // namespace
