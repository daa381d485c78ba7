#pragma once
// CRequestFilterTree (control 1236 of the pages that edit request filters: the recipient's
// "Request" page and the cache's "What to cache" and "What to purge"): shows a request filter
// collection as a tree, one top-level item per filter (its name, picture 5) with one child per
// criterion (its description, picture 6), and edits the collection in place.
//
// Commands, from the pages' buttons, the context menus and the keys:
//   AddFilter        (32877 "New filter") appends a filter named "Filter <n>", n from one
//                    counter of the console process that starts at 1.
//   DeleteFilter     (32874 "Delete filter") deletes the selected filter, without a question.
//   AddCriterion     (32873 "New filter criterion") opens the Criterion dialog for a new
//                    criterion of the selected filter, or of the selected criterion's filter;
//                    nothing is selected: nothing happens.
//   DeleteCriterion  (32875 "Delete filter criterion") deletes the selected criterion; its
//                    filter stays, also when it is left empty.
//   EditCriterion    (32876 "Properties", or a double-click on a criterion) opens the
//                    Criterion dialog on the selected criterion.
// A right click selects the item of the row it hits and opens that item's menu 5 pixels right
// of the click: 144 on a criterion, 143 on a filter, 145 ("New filter") beside the items.
// Released keys: Insert adds a filter (nothing selected) or a criterion; Delete deletes the
// selected filter or criterion. A double-click on a filter expands or collapses it. Only
// filters can be renamed (their label edited in place); an empty label keeps the old name.
// Names and descriptions are shown as plain text.
//
// The collection is not owned: it must outlive the tree, or be replaced first. Every change
// the tree makes refills it, so its items never show a filter or criterion that is gone; the
// owner refills it (Fill) after changing the collection itself. While a Criterion dialog of the
// tree is open (IsCriterionDialogOpen), the owner must neither change, replace nor free the
// collection, nor refill the tree: the dialog writes into a criterion of it when it closes.
// CriterionDialogClosed tells the owner when the tree is done with that. GUI thread only.

#include "platform/kernel/Types.h"

#include <QPersistentModelIndex>
#include <QTreeWidget>

class CRequestCriterion;
class CRequestFilter;
class CRequestFilterCollection;
class QDialog;

class CRequestFilterTree : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kControlId = 1236;

    explicit CRequestFilterTree(QWidget* parent = nullptr);
    ~CRequestFilterTree() override;

    // Before Fill: the kind code of the service whose requests the filters judge (0 for a
    // recipient without a service, -1 for the cache's purge filters, which makes new criteria
    // cache-purge criteria), and the collection edited (null: none, the tree stays empty).
    void SetCollection(int serviceKind, CRequestFilterCollection* collection);
    int GetServiceKind() const { return m_serviceKind; }
    CRequestFilterCollection* GetCollection() const { return m_collection; }

    // Rebuilds every item from the collection, under its lock and each filter's, and expands
    // every filter. Nothing is selected afterwards.
    void Fill();

    void AddFilter();
    void DeleteFilter();
    void AddCriterion();
    void DeleteCriterion();
    void EditCriterion();

    bool IsCriterionDialogOpen() const { return m_openDialogs > 0; }

    // Runs command `id` (ConsoleIds) as its menu entry does; false for another number.
    bool OnCommand(int id);
    // What releasing `key` on the tree does (Insert and Delete, see above). The pages'
    // "Delete" buttons call it with Qt::Key_Delete.
    void OnKeyUp(int key);

    // The selected item; null when none is.
    QTreeWidgetItem* SelectedItem() const;
    // The filter or criterion an item shows; null for an item that shows another kind.
    static CRequestFilter* FilterOf(const QTreeWidgetItem* item);
    static CRequestCriterion* CriterionOf(const QTreeWidgetItem* item);

signals:
    // A Criterion dialog of this tree has closed and the tree has taken its result.
    void CriterionDialogClosed();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    using QTreeWidget::edit;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    // The end of a label edit: the filter takes a non-empty name.
    void commitData(QWidget* editor) override;

private:
    void OnItemDoubleClicked(QTreeWidgetItem* item);
    // The filter a new criterion goes to: the selected filter or the selected criterion's.
    CRequestFilter* TargetFilter() const;

    int m_serviceKind = 0;
    CRequestFilterCollection* m_collection = nullptr;
    // Runs `dialog` modal, counted in m_openDialogs; `takeResult` runs before the count drops.
    template <class TakeResult>
    void RunCriterionDialog(QDialog& dialog, TakeResult takeResult);

    int m_openDialogs = 0;
    // The item whose label is being edited (invalid once the items are rebuilt).
    QPersistentModelIndex m_editedIndex;
};
