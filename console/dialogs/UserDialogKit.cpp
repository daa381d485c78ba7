#include "console/dialogs/UserDialogKit.h"

#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/MessageBox.h"
#include "console/ScaledLayout.h"
#include "console/WardenhallApp.h"
#include "console/session/WHTreeItem.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/ScopedLock.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

namespace UserDialogKit {

namespace {

class CDoubleClickFilter : public QObject {
public:
    CDoubleClickFilter(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> handler)
        : QObject(list), m_list(list), m_handler(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick)
            m_handler(m_list->itemAt(static_cast<QMouseEvent*>(event)->position().toPoint()));
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* m_list;
    std::function<void(QTreeWidgetItem*)> m_handler;
};

}  // namespace

QDialogButtonBox* OkCancelButtons(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(Numbered(new QPushButton("OK"), ConsoleIds::kOk), QDialogButtonBox::AcceptRole);
    buttons->addButton(Numbered(new QPushButton("Cancel"), ConsoleIds::kCancel), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLineEdit* NumberedEdit(int id, bool password) {
    auto* edit = Numbered(new QLineEdit, id);
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QTreeWidget* MakeList(int id, std::initializer_list<std::pair<const char*, int>> columns) {
    auto* list = Numbered(new QTreeWidget, id);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setColumnCount(static_cast<int>(columns.size()));
    QStringList labels;
    std::vector<int> widths;
    for (const auto& [text, width] : columns) {
        labels << QString::fromLatin1(text);
        widths.push_back(width);
    }
    list->setHeaderLabels(labels);
    FitColumns(list, widths);
    return list;
}

QListWidget* MakeListBox(int id) {
    auto* list = Numbered(new QListWidget, id);
    FitToRows(list);
    return list;
}

QTreeWidgetItem* AddRow(QTreeWidget* list, int image, const std::vector<std::string>& texts) {
    auto* row = new QTreeWidgetItem(list);
    for (std::size_t column = 0; column < texts.size(); ++column)
        row->setText(static_cast<int>(column), ToDisplay(texts[column]));
    row->setIcon(0, ConsoleImages::Image(image));
    return row;
}

std::vector<std::string> RowNames(const QTreeWidget* list) {
    std::vector<std::string> names;
    for (int index = 0; index < list->topLevelItemCount(); ++index)
        names.push_back(FromDisplay(list->topLevelItem(index)->text(0)));
    return names;
}

void OnDoubleClick(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> handler) {
    list->viewport()->installEventFilter(new CDoubleClickFilter(list, std::move(handler)));
}

QTreeWidgetItem* SelectedRow(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

bool MoveRow(QTreeWidget* from, QTreeWidgetItem* row, QTreeWidget* to, int image) {
    if (row == nullptr || row->treeWidget() != from)
        return false;
    row = from->takeTopLevelItem(from->indexOfTopLevelItem(row));
    from->clearSelection();
    from->setCurrentItem(nullptr);
    row->setSelected(false);
    row->setIcon(0, ConsoleImages::Image(image));
    to->addTopLevelItem(row);
    return true;
}

bool MayAddEntry(CGroupMemberDatabase& database, const std::string& name, bool isGroup) {
    CScopedLock lock(database);
    return database.FindEntry(name) == nullptr && database.CanTakeName(name, isGroup);
}

bool AddEntryOffline(CGroupMemberDatabase& database, CFilterComponent& entry) {
    {
        CScopedLock lock(database);
        entry.AddRef();
        if (!database.AddEntry(&entry)) {
            entry.Release();
            return false;
        }
    }
    CRef<CObject> record = CRef<CObject>::Adopt(new CWHTreeItem(CRef<CObject>(&entry), ""));
    theApp.Views().Post(CViewNotice{ViewTargets::kConfiguration, 0, std::move(record)});
    return true;
}

}  // namespace UserDialogKit
