#include "shell/queue/QueueTableModel.h"

#include <QFile>

#include "control/job/HumanSize.h"
#include "platform/LocalizedStrings.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QueueTableModel::QueueTableModel(ConversionQueue& conversionQueue, QObject* parent)
    : QAbstractTableModel(parent), queue(conversionQueue) {
    queue.SetObserver(this);
}

QueueTableModel::~QueueTableModel() {
    queue.SetObserver(nullptr);
}

int QueueTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(queue.Rows().size());
}

int QueueTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QueueTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    const QueueRow& row = queue.Rows()[static_cast<std::size_t>(index.row())];
    if (role == IdRole) return row.id;
    if (role == PercentRole) {
        if (index.column() != State) return -1.0;
        if (row.listening) return *row.listening;
        return row.state == RowState::Converting ? row.percent : -1.0;
    }
    if (role == Qt::TextAlignmentRole && (index.column() == Duration || index.column() == Size)) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == Name) {
            QString tip = QFile::decodeName(row.input.c_str());
            if (!row.plan.output.empty() && row.state != RowState::Ready) {
                tip += QLatin1Char('\n') + Text(QueueText("gui.tip.output")) +
                       QFile::decodeName(row.plan.output.c_str());
            }
            return tip;
        }
        if (index.column() == State) return Text(ConversionQueue::StateText(row));
        return QVariant();
    }
    if (role != Qt::DisplayRole) return QVariant();
    switch (index.column()) {
        case Name:
            // On one line: a line break in a name is written out.
            return QFile::decodeName(platform::ControlsEscaped(row.name).c_str());
        case Duration:
            return row.duration ? Text(HumanDuration(*row.duration)) : QString();
        case Size:
            return row.size > 0 ? Text(SizeText(row.size)) : QString();
        case State:
            return Text(ConversionQueue::StateText(row));
        default:
            return QVariant();
    }
}

QVariant QueueTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    switch (section) {
        case Name:
            return Text(QueueText("gui.column.name"));
        case Duration:
            return Text(QueueText("gui.column.duration"));
        case Size:
            return Text(QueueText("gui.column.size"));
        case State:
            return Text(QueueText("gui.column.state"));
        case Actions:
            return Text(QueueText("gui.column.actions"));
        default:
            return QString();
    }
}

void QueueTableModel::RowsInserting(int first, int count) {
    beginInsertRows(QModelIndex(), first, first + count - 1);
}

void QueueTableModel::RowsInserted() {
    endInsertRows();
}

void QueueTableModel::RowRemoving(int index) {
    beginRemoveRows(QModelIndex(), index, index);
}

void QueueTableModel::RowRemoved() {
    endRemoveRows();
}

void QueueTableModel::RowChanged(int index) {
    emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
}

}  // namespace spatialmux
