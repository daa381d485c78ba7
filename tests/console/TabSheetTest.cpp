// The sheet framework on a sheet of three pages (TestSheet.h): leaving a page, activation, the
// pages' indexes, the two-phase OK and Cancel, the data exchange's round trips, and a sheet run
// for real while alerts come and a page opens its child dialog.

#include "console/AlertPresenter.h"
#include "console/AlertThread.h"
#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/console/TestSheet.h"

#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace {

class TabSheet : public testing::Test {
protected:
    void SetUp() override {
        sheet.SetObject(&record, TRUE);
        sheet.show();
    }
    void ClickTab(int index) {
        QTabBar* bar = sheet.TabSheet().TabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    bool Shows(CTabPage& page) {
        return ProcessUntil([&] { return page.isVisible() && sheet.TabSheet().GetActivePage() == &page; }, 2000);
    }

    CBoxRecorder boxes;
    CTestRecord record;
    CTestSheet sheet;
};

TEST_F(TabSheet, ARefusedPageCannotBeLeftAndActivationReloadsIt) {
    ASSERT_TRUE(Shows(sheet.general));
    QWidget* port = FindControl(&sheet, 1068);
    SetControlText(&sheet, 1068, "80 80");
    ClickTab(1);
    ASSERT_TRUE(ProcessUntil([&] { return boxes.calls.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kEnterWholeNumber);
    EXPECT_EQ(sheet.TabSheet().TabBar()->currentIndex(), 0);
    EXPECT_TRUE(sheet.general.isVisible() && !sheet.values.isVisible());
    EXPECT_EQ(sheet.focusWidget(), port);

    // Enter and Escape in a page's edit press neither OK (no exchange, no box) nor Cancel.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(port, key);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(boxes.calls.size(), 1u);

    SetControlText(&sheet, 1068, " 8081 ");
    ClickTab(1);
    ASSERT_TRUE(Shows(sheet.values));
    EXPECT_EQ(sheet.general.fields.port, 8081);
    // Fields changed while the page is hidden show when it is active again.
    sheet.general.fields.name = "Changed";
    ClickTab(0);
    ASSERT_TRUE(Shows(sheet.general));
    EXPECT_EQ(ControlText(&sheet, 1066), "Changed");
}

TEST_F(TabSheet, PagesByIndex) {
    CTabSheet& tabs = sheet.TabSheet();
    EXPECT_EQ(tabs.GetPage(2), &sheet.checks);
    EXPECT_EQ(tabs.GetPage(3), nullptr);
    EXPECT_EQ(tabs.GetPage(-1), nullptr);
    EXPECT_FALSE(tabs.SetActivePage(3));
    EXPECT_FALSE(tabs.SetActivePage(-1));
    CTestPage stranger(903, "Checks");
    EXPECT_EQ(tabs.GetPageIndex(&stranger), -1);
    EXPECT_FALSE(tabs.SetActivePage(&stranger));
    EXPECT_EQ(tabs.TabBar()->tabText(1), "Values") << "the page's caption";

    // A sheet of one page still shows its tab.
    CTabSheet single;
    stranger.SetObject(&record, 1);
    EXPECT_TRUE(single.AddPage(&stranger) && single.SetActivePage(0));
    single.show();
    EXPECT_TRUE(single.TabBar()->isVisible());
}

TEST_F(TabSheet, OkStoresNothingUntilEveryPagePassedThenStoresAllUnderTheLock) {
    SetControlText(&sheet, 1066, "Renamed");
    ASSERT_TRUE(sheet.TabSheet().SelectPage(1));
    SetControlText(&sheet, 1048, "-12.5");
    SetControlText(&sheet, 1000, "");
    const TestValues before = record.values;

    boxes.Answer(IDNO);
    ClickControl(&sheet, 1);
    EXPECT_TRUE(record.values == before) << "a refusal on the third page stores nothing";
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.TabSheet().GetActivePage(), &sheet.checks) << "the refusing page shows";
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].flags, MB::kYesNo | MB::kIconStop | MB::kDefaultButton2);

    // A different confirmation opens the Confirm Password dialog; its Cancel keeps the typed
    // password.
    SetControlText(&sheet, 1001, "other");
    std::string confirmShown;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        confirmShown = ControlText(&dialog, 1001).toStdString();
        return int(QDialog::Rejected);
    });
    boxes.Answer(IDYES);
    ClickControl(&sheet, 1);
    SetChildDialogAnswerer({});
    EXPECT_EQ(confirmShown, "other");
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    TestValues expected = before;
    expected.name = "Renamed", expected.rate = CCurrency(-125000), expected.note = "", expected.password = "other";
    EXPECT_TRUE(record.values == expected);
    EXPECT_EQ(record.storesUnderLock, 3);
    EXPECT_EQ(record.storesWithoutLock, 0);
    EXPECT_EQ(sheet.applied, 1);
}

TEST(TabSheetObject, ANewObjectIsFreedByCancelAndTakenAfterOk) {
    const int alive = CTestRecord::alive;
    CRef<CTestRecord> made;
    for (int button : {2, 1}) {
        CTestSheet sheet;
        sheet.SetObject(nullptr, FALSE);
        sheet.show();
        EXPECT_EQ(CTestRecord::alive, alive + 1);
        ClickControl(&sheet, button);
        made = sheet.TakeNewObject();
        EXPECT_EQ(CTestRecord::alive, alive + (button == 1 ? 1 : 0));
    }
    ASSERT_TRUE(made);
    EXPECT_EQ(made->values.name, "Web");
    made.Reset();
    EXPECT_EQ(CTestRecord::alive, alive);
}

// --- The exchanges ------------------------------------------------------------------------------

// Types `typed` into an edit and saves it into `value`; when taken, loads it back and gives the
// text then shown.
template <class T, class Ddx>
std::optional<std::string> RoundTrip(const char* typed, T& value, Ddx ddx) {
    QWidget window;
    auto* edit = new QLineEdit(QString::fromLatin1(typed), &window);
    edit->setProperty(kControlIdProperty, 1);
    auto exchange = [&](CDataExchange& dx) { ddx(dx, 1, value); };
    if (!UpdateData(&window, TRUE, exchange))
        return std::nullopt;
    EXPECT_TRUE(UpdateData(&window, FALSE, exchange));
    return edit->text().toStdString();
}

TEST(Exchange, RoundTrips) {
    CBoxRecorder boxes;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* typed;
        std::optional<std::int64_t> count;
        const char* shown;
    } amounts[] = {
        {"0.29", 2900, "0.29"},
        {"-1234.5678", -12345678, "-1234.5678"},
        {"922337203685477.5807", kMax, "922337203685477.5807"},
        {" +7.50 ", 75000, "7.5"},
        {"1,5", std::nullopt, ""},
        {"922337203685477.5808", std::nullopt, ""},
        {"1.23456", std::nullopt, ""},
    };
    for (const auto& c : amounts) {
        CCurrency value(1);
        EXPECT_EQ(RoundTrip(c.typed, value, DDX_Currency).value_or(""), c.shown) << c.typed;
        EXPECT_EQ(value, CCurrency(c.count.value_or(1))) << c.typed;
    }
    EXPECT_EQ(boxes.calls.back().text,
              "Please enter an amount from -922337203685477.5808 to 922337203685477.5807,\n"
              "with at most four decimal places.");

    DWORD limit = 5;
    EXPECT_FALSE(RoundTrip("-1", limit, [](CDataExchange& dx, int id, DWORD& v) { DDX_UInt(dx, id, v); }));
    EXPECT_EQ(boxes.calls.back().text, "Please enter a number from 0 to 4294967295.");

    CDateTime when;
    EXPECT_EQ(RoundTrip("2024-02-29 23:59:59", when, DDX_DateTime), "2024-02-29 23:59:59");
    EXPECT_EQ(when, CDateTime::FromParts(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(RoundTrip(" 1899-12-30", when, DDX_DateTime), "1899-12-30 00:00:00") << "a date alone";
    for (const char* refused : {"2023-02-29 10:00:00", "2024-02-29 09:00 x", "29 09:00"})
        EXPECT_FALSE(RoundTrip(refused, when, DDX_DateTime)) << refused;
    EXPECT_EQ(RoundTrip("9:05", when, DDX_Time), CDateTime::FromTime(9, 5, 0).Format(kTimeFormat));
    EXPECT_EQ(when, CDateTime::FromTime(9, 5, 0));
    CDateTime none(0.0, CDateTime::null);
    EXPECT_EQ(RoundTrip("", none, DDX_DateTime), "") << "an empty box keeps a value without a moment";
    EXPECT_EQ(none.GetStatus(), CDateTime::null);
}

TEST(Exchange, RadiosShowFlagsAndKeepValuesWithNoButtonChecked) {
    QWidget window, flagGroup(&window), indexGroup(&window);
    for (int id : {11, 12, 21, 22, 23})
        (new QRadioButton(id < 20 ? &flagGroup : &indexGroup))->setProperty(kControlIdProperty, id);
    auto radio = [&](int id) { return static_cast<QRadioButton*>(FindControl(&window, id)); };
    int flag = 5, index = 7;
    auto radios = [&](CDataExchange& dx) {
        DDX_Radio(dx, {11, 12}, flag);
        DDX_Radio(dx, {21, 22, 23}, index);
    };
    ASSERT_TRUE(UpdateData(&window, FALSE, radios));
    EXPECT_TRUE(radio(12)->isChecked()) << "any non-zero flag";
    EXPECT_FALSE(radio(21)->isChecked() || radio(22)->isChecked() || radio(23)->isChecked());
    radio(12)->setAutoExclusive(false);
    radio(12)->setChecked(false);
    ASSERT_TRUE(UpdateData(&window, TRUE, radios));
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(index, 7);
}

// --- A sheet run for real ----------------------------------------------------------------------

TEST(TabSheetRun, AlertsAndAPageChildDialogWorkWhileTheSheetRuns) {
    CAlertPresenter::Install();
    QWidget owner;
    owner.show();
    CTestRecord record;
    CTestSheet sheet(&owner);
    sheet.SetObject(&record, TRUE);
    auto alert = [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                return box;
        return static_cast<QMessageBox*>(nullptr);
    };

    QTimer::singleShot(0, [&] {
        EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
        std::thread([&] { (new CAlertThread(0, &owner, 0x30, "Engine alert", "Disk full"))->Start(); }).join();
        if (!ProcessUntil([&] { return alert() != nullptr; }))
            return sheet.done(QDialog::Rejected);
        // A click through the window system, which an application-modal sheet would swallow.
        QAbstractButton* ok = alert()->button(QMessageBox::Ok);
        QTest::mouseClick(alert()->windowHandle(), Qt::LeftButton, {}, ok->mapTo(alert(), ok->rect().center()));
        if (!ProcessUntil([&] { return alert() == nullptr; }))
            return sheet.done(QDialog::Rejected);

        // The General page confirms a changed password in the Confirm Password dialog, run for
        // real inside the sheet's own run.
        SetControlText(&sheet, 1001, "new");
        QTimer::singleShot(0, [&] {
            QWidget* confirm = QApplication::activeModalWidget();
            SetControlText(confirm, 1001, "newer");
            SetControlText(confirm, 1024, "newer");
            ClickControl(confirm, 1);
        });
        ClickControl(&sheet, 1);
        if (sheet.isVisible())
            sheet.done(QDialog::Rejected);
    });
    EXPECT_EQ(ExecChildDialog(sheet), QDialog::Accepted);
    EXPECT_EQ(record.values.password, "newer") << "as the dialog confirmed it";
    CAlertPresenter::Uninstall();
}

}  // namespace
