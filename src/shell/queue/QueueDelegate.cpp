#include "shell/queue/QueueDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionProgressBar>

#include "shell/queue/QueueTableModel.h"

namespace spatialmux {

namespace {
constexpr int kButtonPadding = 10;
constexpr int kButtonSpacing = 4;
constexpr int kCellMargin = 2;
constexpr int kBarSteps = 1000;

QStyle* StyleOf(const QStyleOptionViewItem& option) {
    return option.widget != nullptr ? option.widget->style() : QApplication::style();
}

int RowId(const QModelIndex& index) {
    return index.data(QueueTableModel::IdRole).toInt();
}
}  // namespace

QueueDelegate::QueueDelegate(ButtonsOf buttons, Pressed onPressed, QObject* parent)
    : QStyledItemDelegate(parent), buttonsOf(std::move(buttons)), pressed(std::move(onPressed)) {}

std::vector<QRect> QueueDelegate::ButtonRects(const QStyleOptionViewItem& option,
                                              const std::vector<Button>& buttons) const {
    std::vector<QRect> rects;
    int x = option.rect.left() + kCellMargin;
    for (const Button& button : buttons) {
        const int width = option.fontMetrics.horizontalAdvance(button.label) + 2 * kButtonPadding;
        rects.emplace_back(x, option.rect.top() + kCellMargin, width,
                           option.rect.height() - 2 * kCellMargin);
        x += width + kButtonSpacing;
    }
    return rects;
}

int QueueDelegate::ButtonAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                            const QPoint& at) const {
    const std::vector<Button> buttons = buttonsOf(RowId(index));
    const std::vector<QRect> rects = ButtonRects(option, buttons);
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].contains(at) && buttons[i].enabled) return static_cast<int>(i);
    }
    return -1;
}

void QueueDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    const double percent = index.data(QueueTableModel::PercentRole).toDouble();
    if (index.column() != QueueTableModel::Actions && percent < 0.0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    QStyle* style = StyleOf(option);
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, option.widget);

    if (index.column() != QueueTableModel::Actions) {
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(kCellMargin, kCellMargin, -kCellMargin, -kCellMargin);
        bar.minimum = 0;
        bar.maximum = kBarSteps;
        bar.progress = static_cast<int>(percent * kBarSteps / 100.0);
        // One line, cut with "…" where the cell is too narrow (the row's
        // tooltip has it whole): a wrapped text would be clipped in two.
        bar.text =
            option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                          bar.rect.width() - 2 * kButtonPadding);
        bar.textVisible = true;
        bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        bar.palette = option.palette;
        bar.fontMetrics = option.fontMetrics;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
        return;
    }
    const std::vector<Button> buttons = buttonsOf(RowId(index));
    const std::vector<QRect> rects = ButtonRects(option, buttons);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        QStyleOptionButton button;
        button.rect = rects[i];
        button.text = buttons[i].label;
        button.palette = option.palette;
        button.fontMetrics = option.fontMetrics;
        const bool down = pressedIndex == index && pressedButton == static_cast<int>(i);
        button.state = (buttons[i].enabled ? QStyle::State_Enabled : QStyle::State_None) |
                       (down || buttons[i].checked ? QStyle::State_Sunken : QStyle::State_Raised);
        if (buttons[i].checked) button.state |= QStyle::State_On;
        style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
    }
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
    if (index.column() == QueueTableModel::Actions) {
        int width = 2 * kCellMargin;
        for (const Button& b : buttonsOf(RowId(index))) {
            width +=
                option.fontMetrics.horizontalAdvance(b.label) + 2 * kButtonPadding + kButtonSpacing;
        }
        size.setWidth(width);
    }
    return size;
}

bool QueueDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (index.column() != QueueTableModel::Actions) {
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        pressedButton = ButtonAt(option, index, mouse->position().toPoint());
        pressedIndex = pressedButton >= 0 ? QPersistentModelIndex(index) : QPersistentModelIndex();
        return pressedButton >= 0;
    }
    if (event->type() == QEvent::MouseButtonRelease && pressedButton >= 0) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int released = ButtonAt(option, index, mouse->position().toPoint());
        const int button = pressedButton;
        const bool same = pressedIndex == index && released == button;
        pressedButton = -1;
        pressedIndex = QPersistentModelIndex();
        if (same) pressed(RowId(index), button);
        return true;
    }
    return false;
}

}  // namespace spatialmux
