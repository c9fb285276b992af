#pragma once
// The queue as the list of the window sees it: one row a movie, with the
// columns name, duration, size, state and the row's actions. It follows
// the queue's changes as they happen.

#include <QAbstractTableModel>

#include "shell/queue/ConversionQueue.h"

namespace spatialmux {

class QueueTableModel : public QAbstractTableModel, public QueueObserver {
public:
    enum Column { Name, Duration, Size, State, Actions, ColumnCount };
    // The row's id (Qt::UserRole) and, in the State column, its percentage
    // while it converts (PercentRole; -1 otherwise).
    static constexpr int IdRole = Qt::UserRole;
    static constexpr int PercentRole = Qt::UserRole + 1;

    explicit QueueTableModel(ConversionQueue& queue, QObject* parent = nullptr);
    ~QueueTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void RowsInserting(int first, int count) override;
    void RowsInserted() override;
    void RowRemoving(int index) override;
    void RowRemoved() override;
    void RowChanged(int index) override;

private:
    ConversionQueue& queue;
};

}  // namespace spatialmux
