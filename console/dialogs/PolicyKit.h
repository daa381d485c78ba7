#pragma once
// Three pieces that the console's access-policy pages build on, each a widget with numbered
// controls that a page or dialog places in its own layout (so its numbers must be unique in
// that window):
//
//   CUserGroupChooser  who: two radios (the first "anyone", the second "this user or group"),
//                      the user/group list 1099 and edit 1000 with the chosen name.
//   CPatternLists      where: two radios (the first "everywhere", the second "these places")
//                      and the included / excluded address-pattern lists 1112-1119.
//   CRightsEditor      the rights of one owner (a service, the engine, the dialer): combo 1097
//                      of rights, recipient list 1043, Add 1098 / Remove 1099 / double-click
//                      through the recipient sheet, and optionally 1164 "Include default
//                      rights". Every edit goes to a working copy of each right; the live
//                      rights change only in Store.
//
// The chooser and the lists write nothing into the object their page edits: the page reads
// their values in its Apply and Store. GUI thread only.

#include "engine/access/AddressRestrictions.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class CDataExchange;
class CGroupMemberDatabase;
class CRecipient;
class CRight;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Who a setting is for: everyone (the first radio) or one user or group of the user
// database (the second radio, with the name in edit 1000, which follows the list's selection).
class CUserGroupChooser : public QWidget {
    Q_OBJECT
public:
    static constexpr int kListId = 1099;
    static constexpr int kNameId = 1000;

    // The radios' numbers and texts, in index order (0: everyone, 1: user or group).
    CUserGroupChooser(int everyoneId, const char* everyoneText, int specifyId, const char* specifyText,
                      QWidget* parent = nullptr);

    // Lists every entry of `database` (read under its lock) sorted by name: picture 4 for a
    // group, 1 for a user, the entry's description in column 1.
    void Fill(CGroupMemberDatabase& database);

    // The radios as an index (any non-zero flag shows as the second radio) and the name.
    // Loading shows them; saving reads them back (a radio group with nothing checked keeps
    // `specify`).
    void Exchange(CDataExchange& dx, int& specify, std::string& name);

    // A locked chooser keeps its radios and list disabled (an existing setting keeps its
    // identity). The name edit is read-only: names come from the list.
    void SetIdentityLocked(bool locked);
    // The list is enabled exactly when the first radio is not checked (and not locked).
    void UpdateControls();
    // Whether the second radio is checked.
    bool IsSpecifying() const;

    QTreeWidget* List() const { return m_list; }
    QLineEdit* NameEdit() const { return m_name; }

signals:
    // A radio was clicked (the owner decides whether that changes its page).
    void RadioClicked();

private:
    void OnSelectionChanged();

    QAbstractButton* m_everyone;
    QAbstractButton* m_specify;
    QTreeWidget* m_list;
    QLineEdit* m_name;
    bool m_locked = false;
};

// Where a setting applies: everywhere (the first radio) or from the places the patterns name:
// included list 1112 with edit 1113, Add 1114, Remove 1115; excluded list 1116 with edit
// 1117, Add 1118, Remove 1119. Both lists sort their texts; Add appends a non-empty edit's text
// and clears the edit; Remove takes the selected text out and puts it back into its edit.
class CPatternLists : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIncludedList = 1112, kIncludedEdit = 1113, kIncludedAdd = 1114, kIncludedRemove = 1115;
    static constexpr int kExcludedList = 1116, kExcludedEdit = 1117, kExcludedAdd = 1118, kExcludedRemove = 1119;

    // The radios' numbers and texts, in index order (0: everywhere, 1: specified places).
    CPatternLists(int everywhereId, const char* everywhereText, int specifyId, const char* specifyText,
                  QWidget* parent = nullptr);

    // Shows the patterns (each list sorted).
    void Load(const AddressPatternList& included, const AddressPatternList& excluded);
    // The radios as an index, as CUserGroupChooser::Exchange.
    void Exchange(CDataExchange& dx, int& specify);
    // The lists' texts in list order (so a stored list becomes alphabetical).
    AddressPatternList Included() const;
    AddressPatternList Excluded() const;

    // The eight list controls are enabled exactly when the first radio is not checked.
    void UpdateControls();
    bool IsSpecifying() const;

signals:
    // A radio click, an Add or a Remove changed what the lists say.
    void Changed();

private:
    struct Side {
        QListWidget* list;
        QLineEdit* edit;
        QPushButton* add;
        QPushButton* remove;
    };
    Side MakeSide(int listId, int editId, int addId, int removeId);
    void Add(const Side& side);
    void Remove(const Side& side);

    QAbstractButton* m_everywhere;
    QAbstractButton* m_specify;
    Side m_included;
    Side m_excluded;
};

// Appends `text` to `list` at its sorted place (case-insensitive, as the console's sorted lists
// order); returns its row.
int InsertSorted(QListWidget* list, const QString& text);

// The rights editor (see the top of this file). Its owner adds the rights, then Select(0);
// each right keeps a pair record of the live right and a working copy made with CRight::Copy.
// The records live as long as the editor (its owner's sheet or dialog): a sheet whose later
// page refuses, or whose Apply keeps it open, still edits the same copies.
class CRightsEditor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIncludeDefaultId = 1164;
    static constexpr int kRightsId = 1097;
    static constexpr int kRecipientsId = 1043;
    static constexpr int kAddId = 1098;
    static constexpr int kRemoveId = 1099;

    // `sorted`: the combo orders the rights by description, else in the order added.
    // `withIncludeDefault`: the editor shows check box 1164. `serviceKind`: the kind code the
    // recipient sheet's request filters are for.
    CRightsEditor(bool sorted, bool withIncludeDefault, int serviceKind, QWidget* parent = nullptr);
    ~CRightsEditor() override;

    // The kind code for the recipient sheets opened from now on.
    void SetServiceKind(int kind) { m_serviceKind = kind; }
    // Adds `live` with a working copy of it. `owner` (may be null) is held while the editor
    // lives, for a right that lives inside it (a service's). The editor never frees `live`.
    void AddRight(CRight* live, CRef<CObject> owner = {});
    // Selects combo item `index` and shows its copy.
    void Select(int index);
    // The list and 1164 again from the selected copy.
    void Refresh();

    // The buttons and the double-click. Add: a new recipient through the sheet; Remove: the
    // selected row's own recipient; Edit: the selected row's recipient in place.
    void AddRecipient();
    void RemoveRecipient();
    void EditRecipient();

    // Whether any edit was made since the editor was made.
    bool IsChanged() const { return m_changed; }
    // Asks "There are no recipients for this right..." for each copy in combo order that has
    // no recipients (and, with `onlyWithoutDefaults`, IncludeDefaultRights 0), captioned with
    // its description. False at the first No.
    bool ConfirmEmptyRights(bool onlyWithoutDefaults);
    // Copies every working copy into its live right, in combo order (each under the live
    // right's lock). The copies stay for further edits.
    void Store();

    int Count() const;
    // The working copy and the live right of combo item `index`; null out of range.
    CRight* CopyAt(int index) const;
    CRight* LiveAt(int index) const;
    // The recipient a row of the list shows.
    static CRecipient* RecipientOf(const QTreeWidgetItem* row);

    QComboBox* Rights() const { return m_rights; }
    QTreeWidget* Recipients() const { return m_recipients; }

private:
    struct Pair;
    Pair* Selected() const;

    bool m_sorted;
    int m_serviceKind;
    QCheckBox* m_includeDefault = nullptr;
    QComboBox* m_rights;
    QTreeWidget* m_recipients;
    std::vector<std::unique_ptr<Pair>> m_pairs;
    bool m_changed = false;
};
