#pragma once
// How the list draws its busy column: the state of a converting movie (or
// of the headphone render of its output) as a progress bar with its text.
// Each row is as tall as a push button, for the buttons of its actions
// (real widgets in the Actions column, QueueWindow).

#include <QStyledItemDelegate>

namespace spatialmux {

class QueueDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace spatialmux
