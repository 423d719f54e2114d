#include "WholeLines.h"

#include <QListView>
#include <QStringListModel>
#include <QStyledItemDelegate>

#include <algorithm>
#include <functional>
#include <numeric>
#include <vector>

namespace tessera::ui {

namespace {

// Gives every line the size of the widest one. The list asks one line for
// the size of all (uniform item sizes), so the answer must already hold the
// widest.
class WholeLineDelegate final : public QStyledItemDelegate {
public:
    WholeLineDelegate(QListView& list, QStringListModel& model) : QStyledItemDelegate(&list), model_(model)
    {
        const auto update = [this] { FindWidest(); };
        connect(&model, &QAbstractItemModel::modelReset, this, update);
        connect(&model, &QAbstractItemModel::rowsInserted, this, update);
        connect(&model, &QAbstractItemModel::rowsRemoved, this, update);
        connect(&model, &QAbstractItemModel::dataChanged, this, update);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QModelIndex widest = model_.index(widestRow_);
        return QStyledItemDelegate::sizeHint(option, widest.isValid() ? widest : index);
    }

private:
    void FindWidest()
    {
        const QStringList& lines = model_.stringList();
        const QFontMetrics metrics(static_cast<QWidget*>(parent())->font());
        // Every line of a short list is measured; of a long one (a million
        // plan lines) the longest few hundred, since the width of a line
        // grows with its length.
        constexpr qsizetype kMeasureAll = 20'000;
        constexpr std::size_t kMeasured = 256;
        std::vector<int> rows;
        if (lines.size() <= kMeasureAll) {
            rows.resize(static_cast<std::size_t>(lines.size()));
            std::iota(rows.begin(), rows.end(), 0);
        } else {
            std::vector<std::pair<qsizetype, int>> byLength;
            byLength.reserve(static_cast<std::size_t>(lines.size()));
            for (qsizetype i = 0; i < lines.size(); ++i)
                byLength.emplace_back(lines.at(i).size(), static_cast<int>(i));
            std::nth_element(byLength.begin(), byLength.begin() + kMeasured, byLength.end(), std::greater<>());
            for (std::size_t i = 0; i < kMeasured; ++i)
                rows.push_back(byLength[i].second);
        }
        int widest = 0;
        int widestWidth = -1;
        for (const int row : rows) {
            const int width = metrics.horizontalAdvance(lines.at(row));
            if (width > widestWidth) {
                widestWidth = width;
                widest = row;
            }
        }
        widestRow_ = widest;
        // The list lays its lines out again with the new size.
        emit sizeHintChanged(model_.index(widest));
    }

    QStringListModel& model_;
    int widestRow_ = 0;
};

}  // namespace

void ShowWholeLines(QListView& list)
{
    auto* model = qobject_cast<QStringListModel*>(list.model());
    if (!model)
        return;
    list.setItemDelegate(new WholeLineDelegate(list, *model));
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

}  // namespace tessera::ui
