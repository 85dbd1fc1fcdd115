#include "datalog/LogListModel.h"

LogListModel::LogListModel(const QStringList *list, QObject *parent)
    : QAbstractListModel(parent)
    , m_list(list)
    , m_rows(int(list->size()))
{
}

int LogListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant LogListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_list->size())
        return QVariant();
    QString text = m_list->at(index.row());
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

void LogListModel::Reset()
{
    beginResetModel();
    m_rows = int(m_list->size());
    endResetModel();
}

void LogListModel::Appended()
{
    const int rows = int(m_list->size());
    if (rows <= m_rows) {
        Reset();
        return;
    }
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
}
