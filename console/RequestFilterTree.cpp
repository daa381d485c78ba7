#include "console/RequestFilterTree.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/Controls.h"
#include "console/MessageBox.h"
#include "console/dialogs/CriterionDlg.h"
#include "engine/access/RequestFilterCollection.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProxyStyle>
#include <QStyleFactory>

#include <memory>
#include <span>

namespace {

using namespace ConsoleIds;

// What an item shows: its kind in one role (so an item is classed without touching the object)
// and the object in another.
constexpr int kKindRole = Qt::UserRole;
constexpr int kObjectRole = Qt::UserRole + 1;
enum ItemKind : int { kFilterItem = 1, kCriterionItem = 2 };

// The context menus' entries; 0 is a separator.
constexpr int kSeparator = 0;
constexpr int kCriterionMenuEntries[] = {kNewFilterCriterion, kDeleteFilterCriterion, kSeparator, kNewFilter,
                                         kCriterionProperties};
constexpr int kFilterMenuEntries[] = {kNewFilterCriterion, kNewFilter, kDeleteFilter};
constexpr int kTreeMenuEntries[] = {kNewFilter};

std::span<const int> MenuEntries(int menuId) {
    switch (menuId) {
    case kCriterionMenu: return kCriterionMenuEntries;
    case kFilterMenu: return kFilterMenuEntries;
    default: return kTreeMenuEntries;
    }
}

QString CommandText(int id) {
    for (const ConsoleTexts::MenuText& command : ConsoleTexts::kFilterTreeCommands) {
        if (command.id == id)
            return QString::fromLatin1(command.text);
    }
    return {};
}

// The one counter of new filters' numbers, for every tree of the console process.
unsigned nextFilterNumber = 1;

void ShowObject(QTreeWidgetItem* item, ItemKind kind, CObject* object, const std::string& text, int image) {
    item->setData(0, kKindRole, kind);
    item->setData(0, kObjectRole, QVariant::fromValue(static_cast<void*>(object)));
    // Text from the configuration: an item's text is never markup.
    item->setText(0, ToDisplay(text));
    item->setIcon(0, ConsoleImages::Image(image));
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (kind == kFilterItem)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
}

CObject* ObjectOf(const QTreeWidgetItem* item, ItemKind kind) {
    if (item == nullptr || item->data(0, kKindRole).toInt() != kind)
        return nullptr;
    return static_cast<CObject*>(item->data(0, kObjectRole).value<void*>());
}

// The tree's branches as buttons and lines: the classic style's, over the console's style.
class CBranchLineStyle : public QProxyStyle {
public:
    explicit CBranchLineStyle(QObject* owner) : m_lines(QStyleFactory::create(QStringLiteral("Windows"))) {
        setParent(owner);
    }
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorBranch && m_lines)
            m_lines->drawPrimitive(element, option, painter, widget);
        else
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    std::unique_ptr<QStyle> m_lines;
};

}  // namespace

CRequestFilterTree::CRequestFilterTree(QWidget* parent) : QTreeWidget(parent) {
    setStyle(new CBranchLineStyle(this));
    setProperty(kControlIdProperty, kControlId);
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    // A double-click is this tree's own (see OnItemDoubleClicked).
    setExpandsOnDoubleClick(false);
    setIconSize(QSize(ConsoleImages::kImageWidth, ConsoleImages::kImageHeight));
    connect(this, &QTreeWidget::itemDoubleClicked, this, &CRequestFilterTree::OnItemDoubleClicked);
}

CRequestFilterTree::~CRequestFilterTree() = default;

void CRequestFilterTree::SetCollection(int serviceKind, CRequestFilterCollection* collection) {
    m_serviceKind = serviceKind;
    m_collection = collection;
}

CRequestFilter* CRequestFilterTree::FilterOf(const QTreeWidgetItem* item) {
    return static_cast<CRequestFilter*>(ObjectOf(item, kFilterItem));
}

CRequestCriterion* CRequestFilterTree::CriterionOf(const QTreeWidgetItem* item) {
    return static_cast<CRequestCriterion*>(ObjectOf(item, kCriterionItem));
}

QTreeWidgetItem* CRequestFilterTree::SelectedItem() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void CRequestFilterTree::Fill() {
    m_editedIndex = QPersistentModelIndex();
    clear();
    if (m_collection == nullptr)
        return;
    CScopedLock lock(*m_collection);
    for (CObject* element : *m_collection) {
        auto* filter = static_cast<CRequestFilter*>(element);
        auto* filterItem = new QTreeWidgetItem(this);
        ShowObject(filterItem, kFilterItem, filter, filter->GetName(), kFilterImage);
        {
            CScopedLock criteriaLock(filter->GetCriteria());
            for (CObject* child : filter->GetCriteria()) {
                auto* criterion = static_cast<CRequestCriterion*>(child);
                ShowObject(new QTreeWidgetItem(filterItem), kCriterionItem, criterion,
                           criterion->GetDescriptionText(), kCriterionImage);
            }
        }
        filterItem->setExpanded(true);
    }
}

void CRequestFilterTree::AddFilter() {
    if (m_collection == nullptr)
        return;
    auto* filter = new CRequestFilter(FormatText(ConsoleTexts::kNewFilterName, nextFilterNumber++), "");
    if (!m_collection->AddFilter(filter))
        filter->Release();
    Fill();
}

void CRequestFilterTree::DeleteFilter() {
    CRequestFilter* filter = FilterOf(SelectedItem());
    if (filter == nullptr || m_collection == nullptr)
        return;
    m_collection->RemoveFilter(filter);
    Fill();
}

CRequestFilter* CRequestFilterTree::TargetFilter() const {
    QTreeWidgetItem* item = SelectedItem();
    if (CriterionOf(item) != nullptr)
        item = item->parent();
    return FilterOf(item);
}

template <class TakeResult>
void CRequestFilterTree::RunCriterionDialog(QDialog& dialog, TakeResult takeResult) {
    ++m_openDialogs;
    struct Closed {
        CRequestFilterTree* tree;
        ~Closed() {
            if (--tree->m_openDialogs == 0)
                emit tree->CriterionDialogClosed();
        }
    } closed{this};
    takeResult(ExecChildDialog(dialog));
}

void CRequestFilterTree::AddCriterion() {
    CRequestFilter* filter = TargetFilter();
    if (filter == nullptr || m_collection == nullptr)
        return;
    CCriterionDlg dialog(m_serviceKind, this);
    RunCriterionDialog(dialog, [&](int result) {
        if (result != QDialog::Accepted)
            return;
        CRef<CRequestCriterion> criterion = dialog.TakeNewCriterion();
        {
            // The filter is the collection's: it takes the criterion only while it is still there.
            CScopedLock lock(*m_collection);
            if (m_collection->Contains(filter) && filter->AddCriterion(criterion.Get()))
                criterion.Detach();
        }
        Fill();
    });
}

void CRequestFilterTree::DeleteCriterion() {
    QTreeWidgetItem* item = SelectedItem();
    CRequestCriterion* criterion = CriterionOf(item);
    CRequestFilter* filter = criterion != nullptr ? FilterOf(item->parent()) : nullptr;
    if (filter == nullptr)
        return;
    filter->RemoveCriterion(criterion);
    Fill();
}

void CRequestFilterTree::EditCriterion() {
    QTreeWidgetItem* item = SelectedItem();
    CRequestCriterion* criterion = CriterionOf(item);
    if (criterion == nullptr)
        return;
    CCriterionDlg dialog(*criterion, m_serviceKind, this);
    RunCriterionDialog(dialog, [&](int result) {
        if (result == QDialog::Accepted)
            item->setText(0, ToDisplay(criterion->GetDescriptionText()));
    });
}

bool CRequestFilterTree::OnCommand(int id) {
    switch (id) {
    case kNewFilterCriterion: AddCriterion(); return true;
    case kDeleteFilter: DeleteFilter(); return true;
    case kDeleteFilterCriterion: DeleteCriterion(); return true;
    case kCriterionProperties: EditCriterion(); return true;
    case kNewFilter: AddFilter(); return true;
    default: return false;
    }
}

void CRequestFilterTree::OnKeyUp(int key) {
    QTreeWidgetItem* item = SelectedItem();
    if (key == Qt::Key_Insert) {
        if (item == nullptr)
            AddFilter();
        else
            AddCriterion();
    } else if (key == Qt::Key_Delete) {
        if (FilterOf(item) != nullptr)
            DeleteFilter();
        else if (CriterionOf(item) != nullptr)
            DeleteCriterion();
    }
}

void CRequestFilterTree::keyReleaseEvent(QKeyEvent* event) {
    // A key held down repeats its release too; the key counts once, when it comes up.
    if (!event->isAutoRepeat() && (event->key() == Qt::Key_Insert || event->key() == Qt::Key_Delete)) {
        OnKeyUp(event->key());
        event->accept();
        return;
    }
    QTreeWidget::keyReleaseEvent(event);
}

void CRequestFilterTree::contextMenuEvent(QContextMenuEvent* event) {
    // The whole row of an item is its hit area.
    QTreeWidgetItem* item = itemAt(event->pos());
    int menuId = kFilterTreeMenu;
    if (item != nullptr) {
        if (CriterionOf(item) != nullptr)
            menuId = kCriterionMenu;
        else if (FilterOf(item) != nullptr)
            menuId = kFilterMenu;
        else
            return;
        setCurrentItem(item);
    }
    QMenu menu(this);
    for (int id : MenuEntries(menuId)) {
        if (id == kSeparator) {
            menu.addSeparator();
            continue;
        }
        menu.addAction(CommandText(id))->setData(id);
    }
    event->accept();
    if (QAction* chosen = menu.exec(event->globalPos() + QPoint(5, 0)))
        OnCommand(chosen->data().toInt());
}

void CRequestFilterTree::OnItemDoubleClicked(QTreeWidgetItem* item) {
    setCurrentItem(item);
    if (FilterOf(item) != nullptr)
        item->setExpanded(!item->isExpanded());
    else if (CriterionOf(item) != nullptr)
        EditCriterion();
}

bool CRequestFilterTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (!QTreeWidget::edit(index, trigger, event))
        return false;
    m_editedIndex = index;
    return true;
}

void CRequestFilterTree::commitData(QWidget* editor) {
    auto* line = qobject_cast<QLineEdit*>(editor);
    QTreeWidgetItem* item = m_editedIndex.isValid() ? itemFromIndex(m_editedIndex) : nullptr;
    CRequestFilter* filter = FilterOf(item);
    if (line == nullptr || filter == nullptr || line->text().isEmpty())
        return;
    filter->SetName(FromDisplay(line->text()));
    item->setText(0, ToDisplay(filter->GetName()));
}
