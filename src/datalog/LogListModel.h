#pragma once

#include <QAbstractListModel>
#include <QStringList>

// One of the datalogger's three lists (header, snapshots, stop) as a list model over the
// logger's own QStringList, so a loaded log of 100,000 rows is shown without copying it. The
// owner says when the list was replaced (Reset) or grew by one entry (Appended). Line ends kept
// in an entry (a loaded meter log's carriage returns) are not shown.
class LogListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit LogListModel(const QStringList *list, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void Reset();
    void Appended();

private:
    const QStringList *m_list;
    int m_rows = 0;
};
