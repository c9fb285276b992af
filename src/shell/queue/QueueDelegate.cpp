#include "shell/queue/QueueDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionProgressBar>

#include "shell/queue/QueueTableModel.h"

namespace spatialmux {

namespace {
constexpr int kTextPadding = 10;
constexpr int kCellMargin = 2;
constexpr int kBarSteps = 1000;

QStyle* StyleOf(const QStyleOptionViewItem& option) {
    return option.widget != nullptr ? option.widget->style() : QApplication::style();
}
}  // namespace

void QueueDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    const double percent = index.data(QueueTableModel::PercentRole).toDouble();
    if (percent < 0.0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    QStyle* style = StyleOf(option);
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(kCellMargin, kCellMargin, -kCellMargin, -kCellMargin);
    bar.minimum = 0;
    bar.maximum = kBarSteps;
    bar.progress = static_cast<int>(percent * kBarSteps / 100.0);
    // One line, cut with "…" where the cell is too narrow (the row's
    // tooltip has it whole): a wrapped text would be clipped in two.
    bar.text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                             bar.rect.width() - 2 * kTextPadding);
    bar.textVisible = true;
    bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

QSize QueueDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionButton button;
    button.fontMetrics = option.fontMetrics;
    const int buttonHeight =
        StyleOf(option)
            ->sizeFromContents(QStyle::CT_PushButton, &button,
                               QSize(0, option.fontMetrics.height()), option.widget)
            .height();
    size.setHeight(std::max(size.height(), buttonHeight + 2 * kCellMargin));
    return size;
}

}  // namespace spatialmux
