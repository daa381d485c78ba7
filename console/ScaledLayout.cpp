#include "console/ScaledLayout.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// The first layout's character width, and the letters that average to it.
constexpr int kLaidOutCharWidth = 6;
constexpr const char* kAverageLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kLetterCount = 52;

// A fitted list grows only as far as its window stays within this share of its screen's width
// (the window's other controls, another fitted list among them, as wide as they are now).
constexpr int kScreenSharePercent = 90;

int WidestList(const QAbstractItemView* list) {
    const QScreen* screen = list->screen();
    if (screen == nullptr)
        return std::numeric_limits<int>::max();
    const QWidget* window = list->window();
    const int besides = window == list ? 0 : std::max(0, window->minimumSizeHint().width() - list->minimumWidth());
    return screen->availableGeometry().width() * kScreenSharePercent / 100 - besides;
}

// What a list's frame and a vertical scroll bar take beside its columns or rows.
int Chrome(const QAbstractItemView* list) {
    return 2 * list->frameWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
}

// Fits its list again, once per turn of the event loop, after rows were added, removed or
// changed: texts are set after a row is inserted, and a list filled row by row is measured once.
class CListFitter : public QObject {
public:
    CListFitter(QAbstractItemView* list, std::vector<int> widths) : QObject(list), m_list(list), m_widths(std::move(widths)) {
        QAbstractItemModel* model = list->model();
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(model, signal, this, &CListFitter::Schedule);
        connect(model, &QAbstractItemModel::dataChanged, this, &CListFitter::Schedule);
        connect(model, &QAbstractItemModel::modelReset, this, &CListFitter::Schedule);
        Fit();
    }

private:
    void Schedule() {
        if (m_scheduled)
            return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_scheduled = false;
            Fit();
        });
    }

    void Fit() {
        int laidOut = 0, fitted = 0;
        if (auto* tree = qobject_cast<QTreeWidget*>(m_list)) {
            for (int column = 0; column < static_cast<int>(m_widths.size()); ++column) {
                const int scaled = ScaledWidth(tree, m_widths[column]);
                const int width =
                    std::max({scaled, tree->header()->sectionSizeHint(column), m_list->sizeHintForColumn(column)});
                tree->setColumnWidth(column, width);
                laidOut += scaled;
                fitted += width;
            }
        } else {
            fitted = std::max(0, m_list->sizeHintForColumn(0));
        }
        const int chrome = Chrome(m_list);
        m_list->setMinimumWidth(std::max(laidOut + chrome, std::min(fitted + chrome, WidestList(m_list))));
    }

    QAbstractItemView* m_list;
    std::vector<int> m_widths;  // of the first layout; none for a list box
    bool m_scheduled = false;
};

}  // namespace

int ScaledWidth(const QWidget* widget, int pixels) {
    const int letters = QFontMetrics(widget->font()).horizontalAdvance(QString::fromLatin1(kAverageLetters));
    // Rounded to the nearest pixel.
    return (pixels * letters + kLetterCount * kLaidOutCharWidth / 2) / (kLetterCount * kLaidOutCharWidth);
}

QSize ScaledSize(const QWidget* widget, int width, int height) {
    return QSize(ScaledWidth(widget, width), ScaledWidth(widget, height));
}

void FitColumns(QTreeWidget* list, std::vector<int> widths) { new CListFitter(list, std::move(widths)); }

void FitToRows(QListWidget* list) { new CListFitter(list, {}); }
