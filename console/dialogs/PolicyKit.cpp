#include "console/dialogs/PolicyKit.h"

#include "console/ChildDialog.h"
#include "console/ConsoleIds.h"
#include "console/ConsoleTexts.h"
#include "console/DataExchange.h"
#include "console/MessageBox.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/UserDialogKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Group.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/Right.h"
#include "foundation/ScopedLock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace UserDialogKit;

namespace {

QRadioButton* Radio(int id, const char* text, QWidget* owner) {
    auto* radio = Numbered(new QRadioButton(QString::fromLatin1(text), owner), id);
    radio->setAutoExclusive(true);
    return radio;
}

bool LessNoCase(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; }

}  // namespace

// --- CUserGroupChooser -----------------------------------------------------------------------------

CUserGroupChooser::CUserGroupChooser(int everyoneId, const char* everyoneText, int specifyId,
                                     const char* specifyText, QWidget* parent)
    : QWidget(parent),
      m_everyone(Radio(everyoneId, everyoneText, this)),
      m_specify(Radio(specifyId, specifyText, this)),
      m_list(MakeList(kListId, {{"User / Group", 90}, {"Description", 170}})),
      m_name(Numbered(new QLineEdit, kNameId)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_everyone);
    layout->addWidget(m_specify);
    layout->addWidget(m_list);
    layout->addWidget(m_name);
    m_name->setReadOnly(true);
    for (QAbstractButton* radio : {m_everyone, m_specify})
        connect(radio, &QAbstractButton::clicked, this, [this] {
            UpdateControls();
            emit RadioClicked();
        });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelectionChanged(); });
}

void CUserGroupChooser::Fill(CGroupMemberDatabase& database) {
    struct Entry {
        QString name;
        int image;
        std::string description;
    };
    std::vector<Entry> entries;
    {
        CScopedLock lock(database);
        for (const auto& [name, entry] : database) {
            auto* component = dynamic_cast<CFilterComponent*>(entry);
            if (component == nullptr)
                continue;
            const int image = dynamic_cast<CGroup*>(component) ? ConsoleIds::kGroupImage : ConsoleIds::kUserImage;
            entries.push_back({ToDisplay(component->GetName()), image, component->GetDescriptionText()});
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return LessNoCase(a.name, b.name); });
    m_list->clear();
    for (const Entry& entry : entries)
        AddRow(m_list, entry.image, {FromDisplay(entry.name), entry.description});
}

void CUserGroupChooser::Exchange(CDataExchange& dx, int& specify, std::string& name) {
    DDX_Radio(dx, {m_everyone->property(kControlIdProperty).toInt(), m_specify->property(kControlIdProperty).toInt()},
              specify);
    DDX_Text(dx, kNameId, name);
}

void CUserGroupChooser::SetIdentityLocked(bool locked) {
    m_locked = locked;
    UpdateControls();
}

void CUserGroupChooser::UpdateControls() {
    m_everyone->setEnabled(!m_locked);
    m_specify->setEnabled(!m_locked);
    m_list->setEnabled(!m_locked && !m_everyone->isChecked());
}

bool CUserGroupChooser::IsSpecifying() const { return m_specify->isChecked(); }

void CUserGroupChooser::OnSelectionChanged() {
    if (QTreeWidgetItem* row = SelectedRow(m_list))
        m_name->setText(row->text(0));
}

// --- CPatternLists ---------------------------------------------------------------------------------

int InsertSorted(QListWidget* list, const QString& text) {
    int row = 0;
    while (row < list->count() && !LessNoCase(text, list->item(row)->text()))
        ++row;
    list->insertItem(row, text);
    return row;
}

CPatternLists::CPatternLists(int everywhereId, const char* everywhereText, int specifyId,
                             const char* specifyText, QWidget* parent)
    : QWidget(parent),
      m_everywhere(Radio(everywhereId, everywhereText, this)),
      m_specify(Radio(specifyId, specifyText, this)),
      m_included(MakeSide(kIncludedList, kIncludedEdit, kIncludedAdd, kIncludedRemove)),
      m_excluded(MakeSide(kExcludedList, kExcludedEdit, kExcludedAdd, kExcludedRemove)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(m_everywhere, 0, 0, 1, 2);
    grid->addWidget(m_specify, 1, 0, 1, 2);
    grid->addWidget(new QLabel("Included:"), 2, 0);
    grid->addWidget(new QLabel("Excluded:"), 2, 1);
    int column = 0;
    for (const Side* side : {&m_included, &m_excluded}) {
        grid->addWidget(side->list, 3, column);
        grid->addWidget(side->edit, 4, column);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(side->add);
        buttons->addWidget(side->remove);
        grid->addLayout(buttons, 5, column);
        ++column;
    }
    for (QAbstractButton* radio : {m_everywhere, m_specify})
        connect(radio, &QAbstractButton::clicked, this, [this] {
            UpdateControls();
            emit Changed();
        });
    for (Side* side : {&m_included, &m_excluded}) {
        connect(side->add, &QPushButton::clicked, this, [this, side] { Add(*side); });
        connect(side->remove, &QPushButton::clicked, this, [this, side] { Remove(*side); });
    }
}

CPatternLists::Side CPatternLists::MakeSide(int listId, int editId, int addId, int removeId) {
    return {MakeListBox(listId), Numbered(new QLineEdit, editId), Numbered(new QPushButton("Add"), addId),
            Numbered(new QPushButton("Remove"), removeId)};
}

void CPatternLists::Load(const AddressPatternList& included, const AddressPatternList& excluded) {
    for (auto [side, patterns] : {std::pair{&m_included, &included}, {&m_excluded, &excluded}}) {
        side->list->clear();
        for (const std::string& pattern : *patterns)
            InsertSorted(side->list, ToDisplay(pattern));
    }
}

void CPatternLists::Exchange(CDataExchange& dx, int& specify) {
    DDX_Radio(dx, {m_everywhere->property(kControlIdProperty).toInt(), m_specify->property(kControlIdProperty).toInt()},
              specify);
}

namespace {
AddressPatternList Texts(const QListWidget* list) {
    AddressPatternList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.push_back(FromDisplay(list->item(row)->text()));
    return texts;
}
}  // namespace

AddressPatternList CPatternLists::Included() const { return Texts(m_included.list); }
AddressPatternList CPatternLists::Excluded() const { return Texts(m_excluded.list); }

void CPatternLists::UpdateControls() {
    const bool enabled = !m_everywhere->isChecked();
    for (const Side* side : {&m_included, &m_excluded})
        for (QWidget* control : std::initializer_list<QWidget*>{side->list, side->edit, side->add, side->remove})
            control->setEnabled(enabled);
}

bool CPatternLists::IsSpecifying() const { return m_specify->isChecked(); }

void CPatternLists::Add(const Side& side) {
    const QString text = side.edit->text();
    if (text.isEmpty())
        return;
    InsertSorted(side.list, text);
    side.edit->clear();
    emit Changed();
}

void CPatternLists::Remove(const Side& side) {
    QListWidgetItem* row = side.list->currentItem();
    if (row == nullptr || !row->isSelected())
        return;
    side.edit->setText(row->text());
    delete row;
    emit Changed();
}

// --- CRightsEditor ---------------------------------------------------------------------------------

// A combo item's record: the live right and its working copy.
struct CRightsEditor::Pair {
    CRight* live;
    CRef<CObject> owner;
    std::unique_ptr<CRight> copy;
};

CRightsEditor::CRightsEditor(bool sorted, bool withIncludeDefault, int serviceKind, QWidget* parent)
    : QWidget(parent),
      m_sorted(sorted),
      m_serviceKind(serviceKind),
      m_rights(Numbered(new QComboBox, kRightsId)),
      m_recipients(MakeList(kRecipientsId, {{"Recipient", 90}, {"Rights", 170}})) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    int line = 0;
    if (withIncludeDefault) {
        m_includeDefault = Numbered(new QCheckBox("Include default rights"), kIncludeDefaultId);
        layout->addWidget(m_includeDefault, line++, 0, 1, 2);
        connect(m_includeDefault, &QCheckBox::clicked, this, [this](bool checked) {
            if (Pair* pair = Selected()) {
                pair->copy->SetIncludeDefaultRights(checked ? 1 : 0);
                m_changed = true;
            }
        });
    }
    layout->addWidget(m_rights, line++, 0, 1, 2);
    layout->addWidget(m_recipients, line++, 0, 1, 2);
    auto* add = Numbered(new QPushButton("Add"), kAddId);
    auto* remove = Numbered(new QPushButton("Remove"), kRemoveId);
    layout->addWidget(add, line, 0);
    layout->addWidget(remove, line, 1);
    connect(add, &QPushButton::clicked, this, [this] { AddRecipient(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveRecipient(); });
    connect(m_rights, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    OnDoubleClick(m_recipients, [this](QTreeWidgetItem*) { EditRecipient(); });
}

CRightsEditor::~CRightsEditor() = default;

void CRightsEditor::AddRight(CRight* live, CRef<CObject> owner) {
    if (live == nullptr)
        return;
    auto pair = std::make_unique<Pair>(Pair{live, std::move(owner), std::make_unique<CRight>()});
    pair->copy->Copy(*live);
    const QString text = ToDisplay(pair->copy->GetDescription());
    int index = m_rights->count();
    if (m_sorted) {
        index = 0;
        while (index < m_rights->count() && !LessNoCase(text, m_rights->itemText(index)))
            ++index;
    }
    const QSignalBlocker quiet(m_rights);
    m_rights->insertItem(index, text, QVariant::fromValue(static_cast<void*>(pair.get())));
    m_pairs.push_back(std::move(pair));
}

int CRightsEditor::Count() const { return m_rights->count(); }

namespace {
template <class Pair>
Pair* PairAt(const QComboBox* combo, int index) {
    if (index < 0 || index >= combo->count())
        return nullptr;
    return static_cast<Pair*>(combo->itemData(index).template value<void*>());
}
}  // namespace

CRight* CRightsEditor::CopyAt(int index) const {
    Pair* pair = PairAt<Pair>(m_rights, index);
    return pair ? pair->copy.get() : nullptr;
}

CRight* CRightsEditor::LiveAt(int index) const {
    Pair* pair = PairAt<Pair>(m_rights, index);
    return pair ? pair->live : nullptr;
}

CRightsEditor::Pair* CRightsEditor::Selected() const { return PairAt<Pair>(m_rights, m_rights->currentIndex()); }

void CRightsEditor::Select(int index) {
    const QSignalBlocker quiet(m_rights);
    m_rights->setCurrentIndex(index);
    Refresh();
}

CRecipient* CRightsEditor::RecipientOf(const QTreeWidgetItem* row) {
    return row ? static_cast<CRecipient*>(row->data(0, Qt::UserRole).value<void*>()) : nullptr;
}

void CRightsEditor::Refresh() {
    m_recipients->clear();
    Pair* pair = Selected();
    if (pair == nullptr)
        return;
    struct Row {
        CRecipient* recipient;
        std::string name, description;
    };
    std::vector<Row> rows;
    {
        CScopedLock lock(*pair->copy);
        for (CObject* element : pair->copy->GetRecipients()) {
            auto* recipient = static_cast<CRecipient*>(element);
            rows.push_back({recipient, recipient->GetUserName(), recipient->GetDescriptionText()});
        }
    }
    // The user database after the right's lock, never inside it the other way round.
    CNorvaneEngine& configuration = theConfiguration;
    CGroupMemberDatabase& users = configuration.GetUserDatabase();
    for (const Row& row : rows) {
        bool isUser = false;
        {
            CScopedLock lock(users);
            isUser = configuration.FindUser(row.name, FALSE) != nullptr;
        }
        QTreeWidgetItem* item = AddRow(m_recipients, isUser ? ConsoleIds::kUserImage : ConsoleIds::kGroupImage,
                                       {row.name, row.description});
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(row.recipient)));
    }
    if (m_includeDefault != nullptr)
        m_includeDefault->setChecked(pair->copy->GetIncludeDefaultRights() != 0);
}

void CRightsEditor::AddRecipient() {
    Pair* pair = Selected();
    if (pair == nullptr)
        return;
    CEditRecipientSheet sheet(nullptr, FALSE, m_serviceKind, pair->copy->GetRightType(), window());
    if (ExecChildDialog(sheet) != QDialog::Accepted)
        return;
    CRef<CRecipient> recipient = sheet.TakeNewObject();
    if (recipient && pair->copy->AddRecipient(recipient.Get()))
        recipient.Detach();
    m_changed = true;
    Refresh();
}

void CRightsEditor::RemoveRecipient() {
    Pair* pair = Selected();
    CRecipient* recipient = RecipientOf(SelectedRow(m_recipients));
    if (pair == nullptr || recipient == nullptr)
        return;
    pair->copy->RemoveRecipient(recipient);
    m_changed = true;
    Refresh();
}

void CRightsEditor::EditRecipient() {
    Pair* pair = Selected();
    CRecipient* recipient = RecipientOf(SelectedRow(m_recipients));
    if (pair == nullptr || recipient == nullptr)
        return;
    CEditRecipientSheet sheet(recipient, TRUE, m_serviceKind, pair->copy->GetRightType(), window());
    if (ExecChildDialog(sheet) != QDialog::Accepted)
        return;
    m_changed = true;
    Refresh();
}

bool CRightsEditor::ConfirmEmptyRights(bool onlyWithoutDefaults) {
    for (int index = 0; index < m_rights->count(); ++index) {
        CRight* copy = CopyAt(index);
        bool empty = false;
        {
            CScopedLock lock(*copy);
            empty = copy->GetRecipients().IsEmpty();
        }
        if (!empty || (onlyWithoutDefaults && copy->GetIncludeDefaultRights() != 0))
            continue;
        if (!ConsoleSheetQuestion(this, ConsoleTexts::kNoRecipients, copy->GetDescription()))
            return false;
    }
    return true;
}

void CRightsEditor::Store() {
    for (int index = 0; index < m_rights->count(); ++index)
        LiveAt(index)->Copy(*CopyAt(index));
}
