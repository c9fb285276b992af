#pragma once
// How the list draws its two busy columns: the state of a converting movie
// as a progress bar with its text, and the row's actions as buttons that
// take clicks (the same actions are in the row's menu, for the keyboard).

#include <functional>
#include <vector>

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace spatialmux {

class QueueDelegate : public QStyledItemDelegate {
public:
    struct Button {
        QString label;
        bool enabled = true;
        bool checked = false;  // a choice made: drawn pressed
    };
    // The buttons of the row with this id, and what a click on one does.
    using ButtonsOf = std::function<std::vector<Button>(int id)>;
    using Pressed = std::function<void(int id, int button)>;

    QueueDelegate(ButtonsOf buttonsOf, Pressed pressed, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    std::vector<QRect> ButtonRects(const QStyleOptionViewItem& option,
                                   const std::vector<Button>& buttons) const;
    int ButtonAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                 const QPoint& at) const;

    ButtonsOf buttonsOf;
    Pressed pressed;
    QPersistentModelIndex pressedIndex;
    int pressedButton = -1;
};

}  // namespace spatialmux
