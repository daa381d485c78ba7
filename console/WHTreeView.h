#pragma once
// CWHTreeView: the base of the console's two views (the configuration tree and the activity
// view). A tree with buttons, lines and lines at the root, whose pictures come from the
// console's image list, and the list of item records (console/session/WHTreeItem.h) behind
// the items that show objects.
//
// Every tree item carries its record's address in kRecordRole (none for fixed nodes and a
// machine's user child) and its picture's index in kImageRole. A record's handle is its
// QTreeWidgetItem. Deleting a tree item through this class first forgets every record shown
// below it, so no record ever holds the handle of a deleted item.
//
// The record list sits under its re-entrant mutex (ItemsMutex); every operation below takes it.
// The view keeps a counted reference to each record in its list. Notices of the console
// session (CViewUpdateEvent) go to OnViewUpdate, which does nothing here. GUI thread only.

#include "console/session/WHTreeItem.h"
#include "platform/kernel/Types.h"

#include <QTreeWidget>

#include <mutex>
#include <string>
#include <vector>

class CWHTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kRecordRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;

    explicit CWHTreeView(QWidget* parent = nullptr);
    ~CWHTreeView() override;

    // Appends the record and inserts its item last under its parent handle; without one, under
    // the item of the first record labelled with its parent label (sessions: only a machine's),
    // else at the root. A machine gets a user child (user text and the suffix of its level).
    // The parent is expanded.
    void AddItem(CRef<CWHTreeItem> record);
    // Forgets the record (and, for a machine, its sessions' records) and deletes its item if
    // the item still carries it.
    void RemoveItem(CWHTreeItem* record);
    // Sets the label and picture again (a machine's user child too), if the item still carries
    // the record.
    void RefreshItem(CWHTreeItem* record);
    // One place earlier / later under the same parent; nothing at the first / last place.
    void MoveItemUp(CWHTreeItem* record);
    void MoveItemDown(CWHTreeItem* record);
    // The first record showing `object`, or null.
    CWHTreeItem* FindItemByObject(const CObject* object) const;
    // The item of the first record labelled `text`, or null.
    QTreeWidgetItem* FindItemByText(const std::string& text) const;
    // Forgets every record and deletes the items that show objects.
    void RemoveAllItems();

    // The record an item carries, or null; an item's picture index (-1 for none).
    static CWHTreeItem* RecordOf(const QTreeWidgetItem* item);
    static int ImageOf(const QTreeWidgetItem* item);
    // The selected item's record, or null.
    CWHTreeItem* SelectedRecord() const;
    std::size_t RecordCount() const;
    std::recursive_mutex& ItemsMutex() const { return m_itemsMutex; }

protected:
    // A new item with that label and picture, last under `parent` (null: the root).
    QTreeWidgetItem* InsertItem(QTreeWidgetItem* parent, const std::string& text, int image);
    static void SetImage(QTreeWidgetItem* item, int image);
    // Deletes `item` and its children, forgetting the records they carry.
    void DeleteTreeItem(QTreeWidgetItem* item);
    static QTreeWidgetItem* HandleOf(const CWHTreeItem* record) {
        return static_cast<QTreeWidgetItem*>(record->handle);
    }
    // The record's item while it still carries the record, else null.
    static QTreeWidgetItem* CarriedItem(const CWHTreeItem* record);

    bool event(QEvent* event) override;
    // A notice of the console session: `code` with its record or object.
    virtual void OnViewUpdate(UINT code, const CRef<CObject>& object);

private:
    void ForgetRecord(CWHTreeItem* record);
    void MoveItem(CWHTreeItem* record, int step);

    mutable std::recursive_mutex m_itemsMutex;
    std::vector<CRef<CWHTreeItem>> m_records;
};
