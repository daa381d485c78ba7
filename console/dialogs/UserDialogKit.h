#pragma once
// What the user sheet and the group dialogs share: their lists of users and groups (report
// lists of the console's pictures, one row per entry, its name in column 0), numbered
// controls, the name check of a new entry, and the off-line addition of a new entry to the
// console's user database. GUI thread only.

#include "console/Controls.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class CFilterComponent;
class CGroupMemberDatabase;
class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace UserDialogKit {

// `control` numbered `id`.
template <class Control>
Control* Numbered(Control* control, int id) {
    control->setProperty(kControlIdProperty, id);
    return control;
}

// The buttons OK (1) and Cancel (2) of `dialog`, wired to its accept and reject, for its
// layout.
QDialogButtonBox* OkCancelButtons(QDialog* dialog);

// An edit numbered `id`; with `password` its text shows as dots.
QLineEdit* NumberedEdit(int id, bool password = false);
// A single-selection report list numbered `id` with these columns (text, width as first laid
// out; console/ScaledLayout.h).
QTreeWidget* MakeList(int id, std::initializer_list<std::pair<const char*, int>> columns);
// A list box numbered `id`, as wide as its widest row.
QListWidget* MakeListBox(int id);
// Appends a row of these texts with picture `image`.
QTreeWidgetItem* AddRow(QTreeWidget* list, int image, const std::vector<std::string>& texts);
// The names (column 0) of every row, in list order.
std::vector<std::string> RowNames(const QTreeWidget* list);
// Runs `handler` on every double-click inside `list` with the row clicked, or null beside the
// rows.
void OnDoubleClick(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> handler);
// Moves `row` (a row of `from`, or null for none) to the end of `to` with picture `image`;
// afterwards `from` has no selection. False when there was no row.
bool MoveRow(QTreeWidget* from, QTreeWidgetItem* row, QTreeWidget* to, int image);
// The selected row of `list`, or null.
QTreeWidgetItem* SelectedRow(const QTreeWidget* list);

// Whether a new entry of that kind may be added under `name`: a name the database could take
// (engine/access/GroupMemberDatabase.h) that no entry holds yet. Takes the database lock.
bool MayAddEntry(CGroupMemberDatabase& database, const std::string& name, bool isGroup);

// Off-line: `entry` joins `database` (which takes a reference of its own) and the
// configuration view is told (code 0, with the entry's tree record). False when the database
// refused it.
bool AddEntryOffline(CGroupMemberDatabase& database, CFilterComponent& entry);

}  // namespace UserDialogKit
