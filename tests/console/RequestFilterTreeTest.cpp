// The request filter tree over a collection: context menus by hit and their commands, the Insert
// and Delete keys, one filter counter for every tree, renaming, and double-clicks.

#include "console/ChildDialog.h"
#include "console/ConsoleImages.h"
#include "console/RequestFilterTree.h"
#include "engine/access/RequestFilterCollection.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/support/FakeRequest.h"

#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class FilterTree : public testing::Test {
protected:
    void SetUp() override {
        ConsoleImages::LoadImageList(nullptr);
        games = NewUrlFilter("<b>games</b> %s%n", "Games %s");
        games->AddCriterion(NewCriterion(RequestClientPortNumber, ComparisonGreaterThan, CNVDataObject(DWORD(1024))));
        filters.AddFilter(games);
        tree.SetCollection(2, &filters);
        tree.Fill();
        tree.resize(400, 300);
        tree.show();
        // The Criterion dialogs the tree opens: counted; "Client IP number equals 10.0.0.1" and
        // OK when asked, else Cancel.
        SetChildDialogAnswerer([this](QDialog& dialog) {
            ++dialogs;
            dialog.findChild<QComboBox*>("variableCombo")->setCurrentIndex(0);
            SetControlText(&dialog, 1177, "10.0.0.1");
            ClickControl(&dialog, answerOk ? 1 : 2);
            return dialog.result();
        });
    }
    void TearDown() override { SetChildDialogAnswerer({}); }

    QTreeWidgetItem* Item(int filter, int criterion = -1) {
        return criterion < 0 ? tree.topLevelItem(filter) : tree.topLevelItem(filter)->child(criterion);
    }
    QPoint Row(QTreeWidgetItem* item, int x = 200) { return {x, tree.visualItemRect(item).center().y()}; }
    // Right-clicks at `at` and picks the entry `choose` (none: closes the menu); gives the menu's
    // entries ("-" a separator) and where it opened.
    std::pair<QStringList, QPoint> RightClick(QPoint at, const char* choose = nullptr) {
        std::pair<QStringList, QPoint> seen;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            seen.second = menu->pos();
            for (QAction* action : menu->actions()) {
                seen.first << (action->isSeparator() ? "-" : action->text());
                if (choose && action->text() == choose)
                    menu->setActiveAction(action);
            }
            choose ? QTest::keyClick(menu, Qt::Key_Return) : void(menu->close());
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree.viewport()->mapToGlobal(at));
        QApplication::sendEvent(tree.viewport(), &event);
        return seen;
    }

    CRequestFilterCollection filters;
    CRequestFilter* games;
    CRequestFilterTree tree;
    int dialogs = 0;
    bool answerOk = false;
};

TEST_F(FilterTree, ContextMenusByHitAndTheirCommands) {
    const QStringList criterionMenu = {"New filter criterion", "Delete filter criterion", "-", "New filter",
                                       "Properties"};
    const struct {
        QPoint at;
        QStringList menu;
        QTreeWidgetItem* selected;
    } hits[] = {
        {Row(Item(0, 0)), criterionMenu, Item(0, 0)},
        {Row(Item(0, 1), 390), criterionMenu, Item(0, 1)},  // beyond the label: the row counts
        {Row(Item(0), 2), {"New filter criterion", "New filter", "Delete filter"}, Item(0)},
        {QPoint(200, 280), {"New filter"}, Item(0)},  // beside the items: the selection stays
    };
    for (const auto& hit : hits) {
        auto [entries, where] = RightClick(hit.at);
        EXPECT_EQ(entries, hit.menu);
        EXPECT_EQ(where, tree.viewport()->mapToGlobal(hit.at) + QPoint(5, 0));
        EXPECT_EQ(tree.SelectedItem(), hit.selected);
    }

    RightClick(QPoint(200, 280), "New filter");
    ASSERT_EQ(filters.GetCount(), 2);
    RightClick(Row(Item(0, 0)), "Delete filter criterion");
    ASSERT_EQ(games->GetCriteria().GetCount(), 1);
    answerOk = true;
    RightClick(Row(Item(0, 0)), "Properties");
    EXPECT_EQ(Item(0, 0)->text(0), "Client IP number equals \"10.0.0.1\"");
    RightClick(Row(Item(1)), "New filter criterion");
    EXPECT_EQ(Item(1, 0)->text(0), "Client IP number equals \"10.0.0.1\"");
    RightClick(Row(Item(0)), "Delete filter");
    EXPECT_EQ(filters.GetCount(), 1);
    EXPECT_EQ(dialogs, 2);
}

TEST_F(FilterTree, InsertAndDeleteKeysAndOneCounterForEveryTree) {
    QTest::keyClick(&tree, Qt::Key_Insert);
    const std::string first = CRequestFilterTree::FilterOf(Item(1))->GetName();
    CRequestFilterCollection others;
    CRequestFilterTree other;
    other.SetCollection(0, &others);
    QTest::keyClick(&other, Qt::Key_Insert);
    const unsigned number = std::stoul(first.substr(7));
    EXPECT_EQ(first, "Filter " + std::to_string(number));
    EXPECT_EQ(CRequestFilterTree::FilterOf(other.topLevelItem(0))->GetName(), "Filter " + std::to_string(number + 1));

    // With an item selected Insert asks for a new criterion (Cancel: nothing added).
    tree.setCurrentItem(Item(0, 1));
    QTest::keyClick(&tree, Qt::Key_Insert);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(games->GetCriteria().GetCount(), 2);

    // Delete takes criteria one by one and leaves their filter, then the filter.
    for (int left : {1, 0}) {
        tree.setCurrentItem(Item(0, 0));
        QTest::keyClick(&tree, Qt::Key_Delete);
        ASSERT_EQ(games->GetCriteria().GetCount(), left);
        ASSERT_EQ(filters.GetCount(), 2);
    }
    tree.setCurrentItem(Item(0));
    tree.OnKeyUp(Qt::Key_Delete);  // as a page's Delete button sends it
    EXPECT_EQ(filters.GetCount(), 1);
}

TEST_F(FilterTree, PlainTextLabelsOnlyFiltersRenamedAndDoubleClicks) {
    EXPECT_EQ(Item(0)->text(0), "Games %s");
    EXPECT_EQ(Item(0, 0)->text(0), "HTTP URL contains \"<b>games</b> %s%n\"");
    EXPECT_TRUE(Item(0)->isExpanded());
    auto rename = [&](QTreeWidgetItem* item, const char* text) {
        tree.setCurrentItem(item);
        QTest::keyClick(&tree, Qt::Key_F2);
        QPointer<QLineEdit> editor;
        for (QLineEdit* edit : tree.viewport()->findChildren<QLineEdit*>())
            editor = edit->isVisible() ? edit : editor.data();  // closed editors linger, hidden
        if (editor == nullptr)
            return false;
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        return ProcessUntil([&] { return !editor || !editor->isVisible(); });  // the edit ends queued
    };
    ASSERT_TRUE(rename(Item(0), "Sports & <i>news</i>"));
    ASSERT_TRUE(rename(Item(0), ""));
    EXPECT_EQ(games->GetName(), "Sports & <i>news</i>") << "an empty label keeps the name";
    EXPECT_EQ(Item(0)->text(0), "Sports & <i>news</i>");
    EXPECT_FALSE(rename(Item(0, 0), "Renamed"));

    // Double-clicks as the window system delivers them: press, release, double-click, release.
    for (QTreeWidgetItem* item : {Item(0, 1), Item(0)}) {
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, Row(item, 60));
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, Row(item, 60));
        QTest::mouseRelease(tree.viewport(), Qt::LeftButton, {}, Row(item, 60));
    }
    EXPECT_FALSE(Item(0)->isExpanded()) << "toggled";
    EXPECT_EQ(dialogs, 1) << "the criterion's Properties";
}

}  // namespace
