#include "console/WHTreeView.h"

#include "console/ConsoleImages.h"
#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"
#include "console/ViewDispatcher.h"

#include <algorithm>

namespace {

// A machine's user child by the machine's log-on level.
struct UserChild {
    const char* suffix;
    int image;
};
UserChild UserChildFor(int level) {
    switch (level) {
    case 0: return {ConsoleTexts::kUnknownUserSuffix, 3};
    case 1: return {ConsoleTexts::kAssumedSuffix, 2};
    case 2: return {ConsoleTexts::kAuthenticatedSuffix, 1};
    default: return {"", 0};
    }
}

QString UserChildText(const CWHTreeItem& machine) {
    return ToDisplay(machine.userText + UserChildFor(machine.level).suffix);
}

}  // namespace

CWHTreeView::CWHTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);  // lines and buttons at the root
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(ConsoleImages::kImageWidth, ConsoleImages::kImageHeight));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

CWHTreeView::~CWHTreeView() = default;

CWHTreeItem* CWHTreeView::RecordOf(const QTreeWidgetItem* item) {
    if (item == nullptr)
        return nullptr;
    return reinterpret_cast<CWHTreeItem*>(item->data(0, kRecordRole).value<quintptr>());
}

int CWHTreeView::ImageOf(const QTreeWidgetItem* item) {
    QVariant image = item ? item->data(0, kImageRole) : QVariant();
    return image.isValid() ? image.toInt() : -1;
}

void CWHTreeView::SetImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
    item->setIcon(0, ConsoleImages::Image(image));
}

QTreeWidgetItem* CWHTreeView::InsertItem(QTreeWidgetItem* parent, const std::string& text, int image) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, ToDisplay(text));
    SetImage(item, image);
    if (parent)
        parent->addChild(item);
    else
        addTopLevelItem(item);
    return item;
}

QTreeWidgetItem* CWHTreeView::CarriedItem(const CWHTreeItem* record) {
    QTreeWidgetItem* item = HandleOf(record);
    return item && RecordOf(item) == record ? item : nullptr;
}

CWHTreeItem* CWHTreeView::SelectedRecord() const {
    std::lock_guard lock(m_itemsMutex);
    return RecordOf(currentItem());
}

std::size_t CWHTreeView::RecordCount() const {
    std::lock_guard lock(m_itemsMutex);
    return m_records.size();
}

void CWHTreeView::AddItem(CRef<CWHTreeItem> record) {
    if (!record)
        return;
    std::lock_guard lock(m_itemsMutex);
    m_records.push_back(record);
    auto* parent = static_cast<QTreeWidgetItem*>(record->parentHandle);
    if (parent == nullptr && !record->parentLabel.empty()) {
        // A session belongs under its machine, never under a session described like an address.
        for (const CRef<CWHTreeItem>& other : m_records)
            if (other->text == record->parentLabel &&
                (record->kind != CWHTreeItem::kSession || other->kind == CWHTreeItem::kMachine)) {
                parent = HandleOf(other.Get());
                break;
            }
    }
    QTreeWidgetItem* item = InsertItem(parent, record->text, record->image);
    item->setData(0, kRecordRole, QVariant::fromValue(reinterpret_cast<quintptr>(record.Get())));
    record->handle = item;
    if (record->kind == CWHTreeItem::kMachine) {
        QTreeWidgetItem* child = InsertItem(item, {}, UserChildFor(record->level).image);
        child->setText(0, UserChildText(*record));
        record->userChildHandle = child;
        item->setExpanded(true);
    }
    if (parent)
        parent->setExpanded(true);
}

void CWHTreeView::ForgetRecord(CWHTreeItem* record) {
    // The reference goes last: the record may be the caller's only hold on itself.
    auto found = std::find_if(m_records.begin(), m_records.end(),
                              [record](const CRef<CWHTreeItem>& held) { return held.Get() == record; });
    if (found == m_records.end())
        return;
    CRef<CWHTreeItem> held = std::move(*found);
    m_records.erase(found);
    held->handle = nullptr;
    held->userChildHandle = nullptr;
}

void CWHTreeView::DeleteTreeItem(QTreeWidgetItem* item) {
    if (item == nullptr)
        return;
    std::lock_guard lock(m_itemsMutex);
    std::vector<CWHTreeItem*> carried;
    auto collect = [&carried](auto& self, QTreeWidgetItem* at) -> void {
        if (CWHTreeItem* record = RecordOf(at))
            carried.push_back(record);
        for (int n = 0; n < at->childCount(); ++n)
            self(self, at->child(n));
    };
    collect(collect, item);
    for (CWHTreeItem* record : carried)
        ForgetRecord(record);
    delete item;
}

void CWHTreeView::RemoveItem(CWHTreeItem* record) {
    if (record == nullptr)
        return;
    std::lock_guard lock(m_itemsMutex);
    CRef<CWHTreeItem> keep(record);
    QTreeWidgetItem* item = CarriedItem(record);
    ForgetRecord(record);
    // The item goes with the records of its sessions.
    if (item)
        DeleteTreeItem(item);
}

void CWHTreeView::RefreshItem(CWHTreeItem* record) {
    if (record == nullptr)
        return;
    std::lock_guard lock(m_itemsMutex);
    QTreeWidgetItem* item = CarriedItem(record);
    if (item == nullptr)
        return;
    SetImage(item, record->image);
    item->setText(0, ToDisplay(record->text));
    if (record->kind == CWHTreeItem::kMachine && record->userChildHandle) {
        auto* child = static_cast<QTreeWidgetItem*>(record->userChildHandle);
        SetImage(child, UserChildFor(record->level).image);
        child->setText(0, UserChildText(*record));
    }
}

void CWHTreeView::MoveItem(CWHTreeItem* record, int step) {
    if (record == nullptr)
        return;
    std::lock_guard lock(m_itemsMutex);
    QTreeWidgetItem* item = CarriedItem(record);
    if (item == nullptr)
        return;
    QTreeWidgetItem* parent = item->parent();
    int at = parent ? parent->indexOfChild(item) : indexOfTopLevelItem(item);
    int count = parent ? parent->childCount() : topLevelItemCount();
    int to = at + step;
    if (to < 0 || to >= count)
        return;
    bool selected = currentItem() == item;
    bool expanded = item->isExpanded();
    if (parent) {
        parent->takeChild(at);
        parent->insertChild(to, item);
    } else {
        takeTopLevelItem(at);
        insertTopLevelItem(to, item);
    }
    item->setExpanded(expanded);
    if (selected)
        setCurrentItem(item);
}

void CWHTreeView::MoveItemUp(CWHTreeItem* record) { MoveItem(record, -1); }

void CWHTreeView::MoveItemDown(CWHTreeItem* record) { MoveItem(record, 1); }

CWHTreeItem* CWHTreeView::FindItemByObject(const CObject* object) const {
    std::lock_guard lock(m_itemsMutex);
    for (const CRef<CWHTreeItem>& record : m_records)
        if (record->object.Get() == object)
            return record.Get();
    return nullptr;
}

QTreeWidgetItem* CWHTreeView::FindItemByText(const std::string& text) const {
    std::lock_guard lock(m_itemsMutex);
    for (const CRef<CWHTreeItem>& record : m_records)
        if (record->text == text)
            return HandleOf(record.Get());
    return nullptr;
}

void CWHTreeView::RemoveAllItems() {
    std::lock_guard lock(m_itemsMutex);
    while (!m_records.empty()) {
        CWHTreeItem* record = m_records.front().Get();
        QTreeWidgetItem* item = CarriedItem(record);
        ForgetRecord(record);
        if (item)
            DeleteTreeItem(item);
    }
}

bool CWHTreeView::event(QEvent* event) {
    if (event->type() != CViewUpdateEvent::Type())
        return QTreeWidget::event(event);
    auto* update = static_cast<CViewUpdateEvent*>(event);
    OnViewUpdate(update->Code(), update->Object());
    return true;
}

void CWHTreeView::OnViewUpdate(UINT, const CRef<CObject>&) {}
