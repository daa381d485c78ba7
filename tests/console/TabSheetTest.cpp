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
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace {

class TabSheet : public testing::Test {
protected:
    void SetUp() override { sheet.SetObject(&record, TRUE); }
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
    sheet.show();
    ASSERT_TRUE(Shows(sheet.general));
    QWidget* port = FindControl(&sheet, 1068);
    SetControlText(&sheet, 1068, "80 80");
    ClickTab(1);
    ASSERT_TRUE(ProcessUntil([&] { return boxes.calls.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kEnterWholeNumber);
    EXPECT_EQ(sheet.TabSheet().TabBar()->currentIndex(), 0);
    EXPECT_TRUE(sheet.general.isVisible());
    EXPECT_FALSE(sheet.values.isVisible());
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
    EXPECT_FALSE(sheet.general.isVisible());
    // Fields changed while the page is hidden show when it is active again.
    sheet.general.fields.name = "Changed";
    ClickTab(0);
    ASSERT_TRUE(Shows(sheet.general));
    EXPECT_EQ(ControlText(&sheet, 1066), "Changed");
    EXPECT_EQ(ControlText(&sheet, 1068), "8081");
}

TEST_F(TabSheet, PagesByIndex) {
    sheet.show();
    CTabSheet& tabs = sheet.TabSheet();
    EXPECT_EQ(tabs.GetPageCount(), 3);
    EXPECT_EQ(tabs.GetPage(2), &sheet.checks);
    EXPECT_EQ(tabs.GetPage(3), nullptr);
    EXPECT_EQ(tabs.GetPage(-1), nullptr);
    EXPECT_FALSE(tabs.SetActivePage(3));
    EXPECT_FALSE(tabs.SetActivePage(-1));
    CTestChecksPage stranger;
    EXPECT_EQ(tabs.GetPageIndex(&stranger), -1);
    EXPECT_FALSE(tabs.SetActivePage(&stranger));
    EXPECT_FALSE(tabs.AddPage(&sheet.checks)) << "a page is in one sheet once";
    EXPECT_TRUE(tabs.SetActivePage(&sheet.checks));
    EXPECT_EQ(tabs.GetActivePage(), &sheet.checks);
    EXPECT_EQ(tabs.TabBar()->tabText(1), "Values") << "the page's caption";
    EXPECT_EQ(FindControl(&sheet, CTabSheet::kControlId), &tabs);

    // A sheet of one page still shows its tab.
    CTabSheet single;
    CTestChecksPage only;
    only.SetObject(&record, 1);
    EXPECT_TRUE(single.AddPage(&only));
    EXPECT_TRUE(single.SetActivePage(0));
    single.show();
    EXPECT_TRUE(single.TabBar()->isVisible());
    EXPECT_EQ(single.TabBar()->count(), 1);
}

TEST_F(TabSheet, OkStoresNothingUntilEveryPagePassedThenStoresAllUnderTheLock) {
    sheet.show();
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
    EXPECT_EQ(sheet.applied, 0);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title, "Invalid setting");
    EXPECT_EQ(boxes.calls[0].flags, MB::kYesNo | MB::kIconStop | MB::kDefaultButton2);

    // A different confirmation opens the Confirm Password dialog; its Cancel keeps the typed
    // password.
    ASSERT_TRUE(sheet.TabSheet().SelectPage(0));
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
    EXPECT_EQ(record.values.password, "other");
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(record.values.name, "Renamed");
    EXPECT_EQ(record.values.rate, CCurrency(-125000));
    EXPECT_EQ(record.values.note, "");
    EXPECT_EQ(record.values.port, before.port);
    EXPECT_EQ(record.storesUnderLock, 3);
    EXPECT_EQ(record.storesWithoutLock, 0);
    EXPECT_EQ(sheet.applied, 1);

    // The question as a real box: No is its default.
    std::unique_ptr<QMessageBox> box(MakeMessageBox(nullptr, "?", "Invalid setting", MB::kSheetQuestion));
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
}

TEST_F(TabSheet, ANewObjectIsFreedByCancelAndTakenAfterOk) {
    const int alive = CTestRecord::alive;
    {
        CTestSheet cancelled;
        cancelled.SetObject(nullptr, FALSE);
        cancelled.show();
        EXPECT_EQ(CTestRecord::alive, alive + 1);
        ClickControl(&cancelled, 2);
        EXPECT_EQ(CTestRecord::alive, alive);
        EXPECT_EQ(cancelled.GetObject(), nullptr);
    }
    CRef<CTestRecord> made;
    {
        CTestSheet accepted;
        accepted.SetObject(nullptr, FALSE);
        accepted.show();
        SetControlText(&accepted, 1066, "Mail");
        ClickControl(&accepted, 1);
        made = accepted.TakeNewObject();
    }
    ASSERT_TRUE(made);
    EXPECT_EQ(made->values.name, "Mail");
    made.Reset();
    EXPECT_EQ(CTestRecord::alive, alive);
}

// --- The exchanges ------------------------------------------------------------------------------

class Exchange : public testing::Test {
protected:
    Exchange() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        edit->setProperty(kControlIdProperty, 1);
        for (int id : {11, 12, 21, 22, 23}) {
            auto* radio = new QRadioButton(id < 20 ? &flagGroup : &indexGroup);
            radio->setProperty(kControlIdProperty, id);
        }
    }
    // Types `typed` and saves it into `value`; when taken, loads it back and gives the text shown.
    template <class T, class Ddx>
    std::optional<std::string> RoundTrip(const char* typed, T& value, Ddx ddx) {
        edit->setText(QString::fromLatin1(typed));
        auto exchange = [&](CDataExchange& dx) { ddx(dx, 1, value); };
        if (!UpdateData(&window, TRUE, exchange))
            return std::nullopt;
        EXPECT_TRUE(UpdateData(&window, FALSE, exchange));
        return edit->text().toStdString();
    }

    CBoxRecorder boxes;
    QWidget window;
    QLineEdit* edit = new QLineEdit;
    QWidget flagGroup{&window}, indexGroup{&window};
};

TEST_F(Exchange, CurrencyIsExact) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* typed;
        std::optional<std::int64_t> count;
        const char* shown;
    } cases[] = {
        {"0.29", 2900, "0.29"},
        {"-1234.5678", -12345678, "-1234.5678"},
        {"922337203685477.5807", kMax, "922337203685477.5807"},
        {"-922337203685477.5808", kMin, "-922337203685477.5808"},
        {" +7.50 ", 75000, "7.5"},
        {"922337203685477.5808", std::nullopt, ""},
        {"1.23456", std::nullopt, ""},
        {"1,5", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        CCurrency value(1);
        std::optional<std::string> shown = RoundTrip(c.typed, value, DDX_Currency);
        EXPECT_EQ(shown.has_value(), c.count.has_value()) << c.typed;
        EXPECT_EQ(value, CCurrency(c.count.value_or(1))) << c.typed;
        EXPECT_EQ(shown.value_or(""), c.shown) << c.typed;
    }
    ASSERT_EQ(boxes.calls.size(), 3u);
    EXPECT_EQ(boxes.calls[0].text,
              "Please enter an amount from -922337203685477.5808 to 922337203685477.5807,\n"
              "with at most four decimal places.");
    EXPECT_EQ(boxes.calls[0].flags, MB::kIconExclamation);
    EXPECT_TRUE(edit->hasSelectedText()) << "the refused text is selected";
}

TEST_F(Exchange, NumbersDatesAndRadios) {
    int port = 80;
    EXPECT_EQ(RoundTrip(" +42 ", port, [](CDataExchange& dx, int id, int& v) { DDX_Int(dx, id, v, 1, 65535); }), "42");
    EXPECT_FALSE(RoundTrip("65536", port, [](CDataExchange& dx, int id, int& v) { DDX_Int(dx, id, v, 1, 65535); }));
    DWORD limit = 5;
    EXPECT_FALSE(RoundTrip("-1", limit, [](CDataExchange& dx, int id, DWORD& v) { DDX_UInt(dx, id, v); }));
    EXPECT_FALSE(RoundTrip("99999999999", limit, [](CDataExchange& dx, int id, DWORD& v) { DDX_UInt(dx, id, v); }));
    EXPECT_EQ(port, 42);
    EXPECT_EQ(limit, 5u);
    EXPECT_EQ(boxes.calls.back().text, "Please enter a number from 0 to 4294967295.");

    CDateTime when;
    EXPECT_EQ(RoundTrip("2024-02-29 23:59:59", when, DDX_DateTime), "2024-02-29 23:59:59");
    EXPECT_EQ(when, CDateTime::FromParts(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(RoundTrip("1899-12-30", when, DDX_DateTime), "1899-12-30 00:00:00");
    EXPECT_EQ(when.GetDays(), 0.0);
    EXPECT_FALSE(RoundTrip("2023-02-29 10:00:00", when, DDX_DateTime));
    EXPECT_EQ(RoundTrip("9:05", when, DDX_Time), CDateTime::FromTime(9, 5, 0).Format(kTimeFormat));
    EXPECT_EQ(when, CDateTime::FromTime(9, 5, 0));
    EXPECT_FALSE(RoundTrip("25:00:00", when, DDX_Time));
    CDateTime none(0.0, CDateTime::null);
    EXPECT_EQ(RoundTrip("", none, DDX_DateTime), "") << "an empty box keeps a value without a moment";
    EXPECT_EQ(none.GetStatus(), CDateTime::null);

    // A flag shows any non-zero value as its second button; no button checked keeps the value.
    int flag = 5, index = 7;
    auto radios = [&](CDataExchange& dx) {
        DDX_Radio(dx, {11, 12}, flag);
        DDX_Radio(dx, {21, 22, 23}, index);
    };
    ASSERT_TRUE(UpdateData(&window, FALSE, radios));
    auto checked = [&](int id) { return static_cast<QRadioButton*>(FindControl(&window, id))->isChecked(); };
    EXPECT_TRUE(checked(12));
    EXPECT_FALSE(checked(21) || checked(22) || checked(23)) << "an index naming no button checks none";
    static_cast<QRadioButton*>(FindControl(&window, 12))->setAutoExclusive(false);
    static_cast<QRadioButton*>(FindControl(&window, 12))->setChecked(false);
    ASSERT_TRUE(UpdateData(&window, TRUE, radios));
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(index, 7);
    static_cast<QRadioButton*>(FindControl(&window, 22))->setChecked(true);
    ASSERT_TRUE(UpdateData(&window, TRUE, radios));
    EXPECT_EQ(index, 1);
}

// --- A sheet run for real ----------------------------------------------------------------------

TEST(TabSheetRun, AlertsAndAPageChildDialogWorkWhileTheSheetRuns) {
    CAlertPresenter::Install();
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    CTestRecord record;
    CTestSheet sheet(&owner);
    sheet.SetObject(&record, TRUE);
    auto alerts = [] {
        std::vector<QMessageBox*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                shown.push_back(box);
        return shown;
    };

    QTimer::singleShot(0, [&] {
        EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
        std::thread([&] { (new CAlertThread(0, &owner, 0x30, "Engine alert", "Disk full"))->Start(); }).join();
        if (!ProcessUntil([&] { return alerts().size() == 1; }))
            return sheet.done(QDialog::Rejected);
        // A click through the window system, which an application-modal sheet would swallow.
        QMessageBox* alert = alerts()[0];
        QAbstractButton* ok = alert->button(QMessageBox::Ok);
        QTest::mouseClick(alert->windowHandle(), Qt::LeftButton, {}, ok->mapTo(alert, ok->rect().center()));
        if (!ProcessUntil([&] { return alerts().empty(); }))
            return sheet.done(QDialog::Rejected);

        // The General page confirms a changed password in the Confirm Password dialog, run for
        // real inside the sheet's own run.
        SetControlText(&sheet, 1001, "new");
        QTimer::singleShot(0, [&] {
            QWidget* confirm = QApplication::activeModalWidget();
            if (confirm == nullptr || confirm == &sheet)
                return;
            SetControlText(confirm, 1024, "new");
            ClickControl(confirm, 1);
        });
        ClickControl(&sheet, 1);
        if (sheet.isVisible())
            sheet.done(QDialog::Rejected);
    });
    EXPECT_EQ(ExecChildDialog(sheet), QDialog::Accepted);
    EXPECT_EQ(record.values.password, "new");
    CAlertPresenter::Uninstall();
}

}  // namespace
